#include "dos/jwk_data.h"

#include <cmath>

#include "dos/header_blocks.h"
#include "fs/fsutil.h"
#include "model/default_text_types.h"

namespace tervalo {

TJwkData::TJwkData() { DataInit(); }

TJwkData::~TJwkData() { DataFree(); }

void TJwkData::DataInit() {
    lineN = 0;
    arcN = 0;
    tenN = 0;
    mojiN = 0;
    EntLine.clear();
    EntArc.clear();
    EntTen.clear();
    EntMoji.clear();
    myMinWx = myMinWy = myMaxWx = myMaxWy = 0;
    Enthd = TEntJwkHeader{};

    // Text types 1 to 10 come from the default table in tenths of a
    // millimetre; types 0 and 11 stay zero.
    auto tenths = [](double mm) { return static_cast<std::uint16_t>(std::lround(mm * 10.0)); };
    EntMjtp.assign(12, TEntJwcMojiType{});
    for (std::size_t k = 1; k <= DefaultMojiTypes.size(); ++k) {
        const DefaultMojiType& d = DefaultMojiTypes[k - 1];
        EntMjtp[k].penNo = static_cast<std::uint16_t>(d.penNo);
        EntMjtp[k].width = tenths(d.width);
        EntMjtp[k].height = tenths(d.height);
        EntMjtp[k].dist = tenths(d.spacing);
    }
}

void TJwkData::DataFree() {
    DataInit();
    EntMjtp.clear();
}

bool TJwkData::FileCheck(const std::filesystem::path& FName) {
    return dos::FileHasSignature(FName, kSignature);
}

bool TJwkData::FileHeaderIn(const std::filesystem::path& FName) {
    DataInit();
    Bytes head;
    if (!ReadFilePrefix(FName, dos::kMaxHeaderBytes, head)) return false;
    return HeaderIn(head);
}

std::u16string TJwkData::Memo() const { return Enthd.comment1 + u" " + Enthd.comment2; }

void TJwkData::SplitParams(const std::u16string& text, std::int32_t n) {
    dos::SplitParamsInto(Enthd.para, text, n);
}

bool TJwkData::HeaderIn(ByteSpan data) {
    using dos::ParamInt;
    using dos::ParamSingle;
    try {
        dos::HeaderBlockReader reader(data);
        auto& h = Enthd;
        const auto& p = h.para;

        dos::ReadIdentBlock(reader, h.jwID, h.comment1, h.comment2);

        // Block 2: counts (points before texts), origin and scales.
        SplitParams(dos::ReadParamBlock(reader), 9);
        h.lineCount = ParamInt(p, 0);
        h.arcCount = ParamInt(p, 1);
        h.tenCount = ParamInt(p, 2);
        h.mojiCount = ParamInt(p, 3);
        h.org_x = ParamSingle(p, 4);
        h.org_y = ParamSingle(p, 5);
        h.dispScale = ParamSingle(p, 6);
        h.strSpace = ParamInt(p, 7);
        h.scale = ParamSingle(p, 8);
        if (h.scale <= 1e-14) h.scale = 1.0f;
        h.para.clear();
        return true;
    } catch (...) {
        Enthd.para.clear();
        return false;
    }
}

}  // namespace tervalo
