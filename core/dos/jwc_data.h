// Container of a DOS-era JW_CAD drawing file (.jwc). This program reads only
// its header, for the file list: the identification text, the two comments
// and the drawing parameters.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "dos/jwc_types.h"
#include "text/encoding.h"

namespace tervalo {

class TJwcData {
public:
    TJwcData();
    virtual ~TJwcData();
    TJwcData(const TJwcData&) = default;
    TJwcData& operator=(const TJwcData&) = default;

    // True when the file starts with the drawing signature.
    bool FileCheck(const std::filesystem::path& FName);
    // Resets the container and reads the file's header; true when read.
    bool FileHeaderIn(const std::filesystem::path& FName);
    void DataInit();
    void DataFree();

    // The memo shown for the file: the two comments joined by a blank.
    std::u16string Memo() const;

    static constexpr char16_t kSignature[] = u"jw_cad(c)data.......";

    std::int32_t lineN = 0;
    std::int32_t arcN = 0;
    std::int32_t mojiN = 0;
    std::int32_t tenN = 0;
    TEntJwcHeader Enthd;
    std::vector<TEntJwcVten> EntVten;
    std::vector<TEntJwcMojiType> EntMjtp;
    std::vector<TEntJwcLayerGroup> EntLgrp;
    std::vector<TEntJwcLayer> EntLay;
    std::vector<TEntJwcLine> EntLine;
    std::vector<TEntJwcArc2> EntArc;
    std::vector<TEntJwcMoji2> EntMoji;
    std::vector<TEntJwcTen> EntTen;
    double myMinWx = 0;
    double myMinWy = 0;
    double myMaxWx = 0;
    double myMaxWy = 0;

private:
    bool HeaderIn(ByteSpan data);
    void SplitParams(const std::u16string& text, std::int32_t n);
};

}  // namespace tervalo
