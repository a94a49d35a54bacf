#include "model/drawing_body.h"

#include <algorithm>
#include <atomic>

namespace tervalo {

void StoredStrings::Reset() {
    static std::atomic<std::uint64_t> next{1};
    bytes.clear();
    bytes.shrink_to_fit();
    id = next.fetch_add(1, std::memory_order_relaxed);
}

void DrawingBody::SetFileOutOption(std::int32_t n) { FileOutOpt = (n >= 0 && n <= 63) ? n : 0; }

void DrawingBody::BindImageInit() {
    BindImage.clear();
    BindImageN = 0;
}

namespace {

// Empties a list and gives its memory back (clear() would keep it).
template <typename T>
void Release(std::vector<T>& list) {
    std::vector<T>().swap(list);
}

}  // namespace

void DrawingBody::ResetBody() {
    FileOutOpt = 0;
    EntLgrp.clear();
    EntMoj.clear();
    Release(EntNo);
    Release(EntLine);
    EntLineN = 0;
    Release(EntEnko);
    EntEnkoN = 0;
    Release(EntTen);
    EntTenN = 0;
    Release(EntMoji);
    EntMojiN = 0;
    Release(EntSunpo);
    EntSunpoN = 0;
    Release(EntSolid);
    EntSolidN = 0;
    Release(EntBlock);
    EntBlockN = 0;
    Release(EntBlockDef);
    EntBlockDefN = 0;
    Release(EntBlockTree);
    EntBlockTreeN = 0;
    EntBlockNum = 0;
    BindImageInit();
    FontNameN = 0;
    FontNames.clear();
    MojiEncode = false;
    storedStrings.Reset();
}

void DrawingBody::FreeBlockDefMembers() {
    const std::size_t n = std::min<std::size_t>(EntBlockDef.size(), EntBlockDefN > 0 ? EntBlockDefN : 0);
    for (std::size_t i = 0; i < n; ++i) EntBlockDef[i].FreeMembers();
}

}  // namespace tervalo
