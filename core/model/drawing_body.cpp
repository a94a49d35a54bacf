#include "model/drawing_body.h"

#include <algorithm>
#include <atomic>

namespace tervalo {

void StoredStrings::Reset(std::size_t keptRoom) {
    static std::atomic<std::uint64_t> next{1};
    bytes.clear();
    if (bytes.capacity() > keptRoom) bytes.shrink_to_fit();
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

// Empties a list, keeping its room when that is at most kKeptListBytes.
template <typename T>
void Recycle(std::vector<T>& list) {
    if (list.capacity() * sizeof(T) <= DrawingBody::kKeptListBytes) list.clear();
    else Release(list);
}

}  // namespace

void DrawingBody::ResetBody() {
    FileOutOpt = 0;
    EntLgrp.clear();
    EntMoj.clear();
    Recycle(EntNo);
    Recycle(EntLine);
    EntLineN = 0;
    Recycle(EntEnko);
    EntEnkoN = 0;
    Recycle(EntTen);
    EntTenN = 0;
    Recycle(EntMoji);
    EntMojiN = 0;
    Recycle(EntSunpo);
    EntSunpoN = 0;
    Recycle(EntSolid);
    EntSolidN = 0;
    Recycle(EntBlock);
    EntBlockN = 0;
    Release(EntBlockDef);
    EntBlockDefN = 0;
    Recycle(EntBlockTree);
    EntBlockTreeN = 0;
    EntBlockNum = 0;
    BindImageInit();
    FontNameN = 0;
    FontNames.clear();
    MojiEncode = false;
    storedStrings.Reset(kKeptListBytes);
}

void DrawingBody::FreeBlockDefMembers() {
    const std::size_t n = std::min<std::size_t>(EntBlockDef.size(), EntBlockDefN > 0 ? EntBlockDefN : 0);
    for (std::size_t i = 0; i < n; ++i) EntBlockDef[i].FreeMembers();
}

}  // namespace tervalo
