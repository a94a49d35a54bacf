// Records of the DOS-era JW_CAD formats: the drawing file (.jwc) and the
// figure file (.jwk). Only the headers are read by this program; the entity
// records exist so the containers have their lists, and are only emptied.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tervalo {

// One text type of a DOS file (sizes in tenths of a millimetre).
struct TEntJwcMojiType {
    std::uint16_t penNo = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t dist = 0;
};

// Entity records of the DOS formats. This program never reads entities, so
// they hold only the obvious geometry.
struct TEntJwcVten {
    float x = 0;
    float y = 0;
};

struct TEntJwcLayerGroup {
    float scale = 1.0f;
    std::u16string name;
};

struct TEntJwcLayer {
    std::u16string name;
};

struct TEntJwcLine {
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::int32_t lcol = 0, ltyp = 0, layer = 0;
};

struct TEntJwcArc2 {
    float cx = 0, cy = 0, radius = 0;
    float startAngle = 0, arcAngle = 0, flatness = 1.0f, tilt = 0;
    std::int32_t lcol = 0, ltyp = 0, layer = 0;
};

struct TEntJwcMoji2 {
    float x = 0, y = 0, angle = 0;
    std::int32_t mojiType = 0, layer = 0;
    std::u16string text;
};

struct TEntJwcTen {
    float x = 0, y = 0;
    std::int32_t lcol = 0, layer = 0;
};

// Header of a .jwc drawing: the identification block and three blocks of
// comma-separated parameters.
struct TEntJwcHeader {
    std::u16string jwID;
    std::u16string comment1;
    std::u16string comment2;
    bool scaleF = true;
    // Block 2
    std::int32_t lineCount = 0, arcCount = 0, mojiCount = 0, tenCount = 0, vtenCount = 0;
    std::int32_t curFno = 1, curMfno = 1, curMlcol = 1, curMpcol = 1;
    float wLayScale = 1.0f;
    std::int32_t wLayNo = 0, psize = 3, lcol = 2, ltyp = 1;
    float plotOrgX = 0, plotOrgY = 0, lpitch1 = 5.0f, lpitch2 = 10.0f;
    std::int32_t drawtime = 0;
    std::array<std::int32_t, 6> penWidth{};
    float gridX = 5.0f, gridY = 5.0f, gridOrgX = 0, gridOrgY = 0, gridScale = 0;
    std::int32_t drawWidth = 518;
    std::int32_t flgPthin = 0;
    // Block 3
    float mvDist = 0, mtDist = 0, arLen = 3.0f, arAng = 15.0f;
    std::int32_t locMR = 0, flgMconma = 0, flgMzeros = 0, typLside = 0, mvUnit = 0, mvKeta = 1;
    float sOfsetXL = 0, sOfsetXM = 0, sOfsetXR = 0, sOfsetYD = 0, sOfsetYM = 0, sOfsetYT = 0;
    std::int32_t s1len = 0, sOrgXm = 0, sOrgYm = 0;
    float dlinDistB = 100.0f;
    std::array<float, 5> dlinDist{100.0f, 100.0f, 100.0f, 100.0f, 100.0f};
    float svScrnOX = 0, svScrnOY = 0, svScrnScl = 1.0f;
    // Block 4
    std::int32_t sBufAdr1 = 0x60000, sBufAdr2 = 0x60000;
    float subZm0X = 0, subZm0Y = 0, subZm0S = 0;
    float subZm1X = 0, subZm1Y = 0, subZm1S = 0;
    float subZm2X = 0, subZm2Y = 0, subZm2S = 0;
    float subZm3X = 0, subZm3Y = 0, subZm3S = 0;
    float subZm4X = 0, subZm4Y = 0, subZm4S = 0;
    float hiIdo = 0, hiHi = 0, hiTaka = 0;
    std::int32_t flgHok = 0, flg25Dm = 0;
    // Parameters of the block being read; empty outside the header reader.
    std::vector<std::u16string> para;
    // Paper length per drawing unit, from psize and drawWidth.
    float dataUnit = 1.0f;
};

// Header of a .jwk figure: the identification block and one parameter block.
struct TEntJwkHeader {
    std::u16string jwID;
    std::u16string comment1;
    std::u16string comment2;
    std::int32_t lineCount = 0, arcCount = 0, tenCount = 0, mojiCount = 0;
    float org_x = 0, org_y = 0;
    float dispScale = 1.0f;
    std::int32_t strSpace = 0;
    float scale = 1.0f;
    std::vector<std::u16string> para;
};

}  // namespace tervalo
