// The header record of a JWW drawing: the drawing's settings.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "model/records.h"

namespace tervalo {

struct TEntJwwHeader {
    std::u16string jwID;
    std::int32_t jwVer = 0;
    std::u16string strMemo;
    StoredString storedMemo;  // how the memo was stored
    std::int32_t nZumen = 0;
    std::int32_t nWriteGLay = 0;
    std::int32_t lnSunpou1 = 0, lnSunpou2 = 0, lnSunpou3 = 0, lnSunpou4 = 0, lnSunpou5 = 0;
    std::int32_t nMaxDrawWid = 0;
    bool bSenHaba100 = false;
    std::int32_t nMaxDrawWidBak = 0;
    double DPPrtGenten_x = 0, DPPrtGenten_y = 0;
    double dPrtBairitsu = 1.0;
    std::int32_t nPrtSet = 0;
    std::int32_t nMemoriMode = 0;
    double dMemoriHyoujiMin = 1.0;
    double dMemoriX = 1.0, dMemoriY = 1.0;
    double DpMemoriKjTen_x = 0, DpMemoriKjTen_y = 0;
    double dKageLevel = 0;
    double dKageIdo = 0;
    std::int32_t nKage9_15JiFlg = 0;
    double dKabeKageLevel = 0;
    double dTenkuuZuLevel = 0;
    double dTenkuuZuEnkoR = 0;
    std::int32_t nMMTani3D = 0;
    double dBairitsu = 1.0;
    double DPGenten_x = 0, DPGenten_y = 0;
    double dHanniBairitsu = 1.0;
    double DPHanniGenten_x = 0, DPHanniGenten_y = 0;
    // Zoom jumps 1 to 8 at indexes 0 to 7.
    std::array<double, 8> dZoomJumpBairitsu{1, 1, 1, 1, 1, 1, 1, 1};
    std::array<double, 8> DPZoomJumpGenten_x{};
    std::array<double, 8> DPZoomJumpGenten_y{};
    std::array<std::int32_t, 8> nZoomJumpGLay{-1, -1, -1, -1, -1, -1, -1, -1};
    double dDm11 = 0, dDm12 = 0, dDm13 = 0;
    std::int32_t lnDm1 = 0;
    double dDm21 = 0, dDm22 = 0;
    double dMojiBG = 0;
    std::int32_t nMojiBG = 0;
    std::array<double, 10> adFukusenSuuchi{};
    double dRyougawaFukusenTomeDe = 0;
    std::int32_t nDrawGamenTen = 0;
    std::int32_t nDrawPrtTen = 0;
    std::int32_t nBitMapFirstDraw = 0;
    std::int32_t nGyakuDraw = 0;
    std::int32_t nGyakuSearch = 0;
    std::int32_t nColorPrint = 0;
    std::int32_t nLayJunPrint = 0;
    std::int32_t nColJunPrint = 0;
    std::int32_t nPrtRenzoku = 0;
    std::int32_t nPrtKyoutsuuGray = 0;
    std::int32_t nPrtDispOnlyNonDraw = 0;
    std::int32_t nPrtDpi = 0;
    std::int32_t lnDrawTime = 0;
    std::int32_t nEyeInit = 0;
    std::int32_t dEye_H_Ichi_1 = 0, dEye_H_Ichi_2 = 0, dEye_H_Ichi_3 = 0;
    double dEye_Z_Ichi_1 = 0, dEye_Y_Ichi_1 = 0, dEye_Z_Ichi_2 = 0, dEye_Y_Ichi_2 = 0, dEye_V_Ichi_3 = 0;
    double dSenNagasaSnpou = 0;
    double dBoxSunpouX = 0, dBoxSunpouY = 0;
    double dEnHankeiSnpou = 0;
    std::int32_t nSolidNinniColor = 0;
    std::int32_t SolidColor = 0;
    double dMojiSizeX = 0, dMojiSizeY = 0;
    double dMojiKankaku = 0;
    std::int32_t nMojiColor = 0;
    std::int32_t nMojiShu = 0;
    double dMojiSeiriGyouKan = 0;
    double dMojiSeiriSuu = 0;
    std::int32_t nMojiKijunZureOn = 0;
    double adMojiKijunZureX0 = 0, adMojiKijunZureX1 = 0, adMojiKijunZureX2 = 0;
    double adMojiKijunZureY0 = 0, adMojiKijunZureY1 = 0, adMojiKijunZureY2 = 0;
    std::int32_t n1 = 0;
    std::int32_t n2 = 0;

    bool operator==(const TEntJwwHeader&) const = default;
};

}  // namespace tervalo
