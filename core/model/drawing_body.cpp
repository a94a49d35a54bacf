#include "model/drawing_body.h"

#include <algorithm>

namespace tervalo {

void DrawingBody::SetFileOutOption(std::int32_t n) { FileOutOpt = (n >= 0 && n <= 63) ? n : 0; }

void DrawingBody::BindImageInit() {
    BindImage.clear();
    BindImageN = 0;
}

void DrawingBody::ResetBody() {
    FileOutOpt = 0;
    EntLgrp.clear();
    EntMoj.clear();
    EntNo.clear();
    EntLine.clear();
    EntLineN = 0;
    EntEnko.clear();
    EntEnkoN = 0;
    EntTen.clear();
    EntTenN = 0;
    EntMoji.clear();
    EntMojiN = 0;
    EntSunpo.clear();
    EntSunpoN = 0;
    EntSolid.clear();
    EntSolidN = 0;
    EntBlock.clear();
    EntBlockN = 0;
    EntBlockDef.clear();
    EntBlockDefN = 0;
    EntBlockTree.clear();
    EntBlockTreeN = 0;
    EntBlockNum = 0;
    BindImageInit();
    FontNameN = 0;
    FontNames.clear();
    MojiEncode = false;
}

void DrawingBody::FreeBlockDefMembers() {
    const std::size_t n = std::min<std::size_t>(EntBlockDef.size(), EntBlockDefN > 0 ? EntBlockDefN : 0);
    for (std::size_t i = 0; i < n; ++i) EntBlockDef[i].FreeMembers();
}

}  // namespace tervalo
