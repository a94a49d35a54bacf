#include "convert/drawing_info.h"

#include <algorithm>

#include "convert/point_rules.h"
#include "model/jws_data.h"
#include "model/jww_data.h"

namespace tervalo {

namespace {

template <typename T>
std::size_t UsedEntries(const std::vector<T>& list, std::int32_t n) {
    if (n <= 0) return 0;
    return std::min(list.size(), static_cast<std::size_t>(n));
}

void CountDimensionPoints(const TEntJwwSunpo& sunpo, PointCounts& counts) {
    CountPoint(sunpo.Te1, counts);
    CountPoint(sunpo.Te2, counts);
    CountPoint(sunpo.Kt1, counts);
    CountPoint(sunpo.Kt2, counts);
}

// Counts the records of a drawing's own list as a read hands them over.
class Tally final : public RecordSink {
public:
    KindCounts kinds;
    PointCounts points, dimensionPoints;

    void Take(const TEntJwwLine&) override { ++kinds.line; }
    void Take(const TEntJwwEnko&) override { ++kinds.arc; }
    void Take(const TEntJwwTen& ten) override {
        ++kinds.point;
        CountPoint(ten, points);
    }
    void Take(const TEntJwwMoji&) override { ++kinds.text; }
    void Take(const TEntJwwSunpo& sunpo) override {
        ++kinds.dimension;
        CountDimensionPoints(sunpo, dimensionPoints);
    }
    void Take(const TEntJwwSolid&) override { ++kinds.solid; }
    void Take(const TEntJwwBlock&) override { ++kinds.block; }
};

// The body's counts with those of its own records from the tally.
template <typename Container>
bool ReadCounted(Container& data, const std::filesystem::path& path, DrawingInfo& info) {
    Tally tally;
    data.recordSink = &tally;
    const bool ok = data.FileIn(path);
    data.recordSink = nullptr;
    if (!ok) return false;
    info = CollectDrawingInfo(data);
    info.entities = tally.kinds;
    info.points = tally.points;
    if (data.Enthd.jwVer >= kFirstSxfVersion) info.dimensionPoints = tally.dimensionPoints;
    return true;
}

}  // namespace

void CountPoint(const TEntJwwTen& ten, PointCounts& counts) {
    if (ten.bKariten != 0)
        ++counts.temporary;
    else if (ten.att.nPenStyle == kMarkerPenStyle)
        ++counts.marker;
    else
        ++counts.real;
}

DrawingInfo CollectBodyInfo(const DrawingBody& body, std::int32_t jwVer) {
    DrawingInfo info;
    info.version = jwVer;
    const bool sxf = jwVer >= kFirstSxfVersion;  // older dimensions hold no sub-points in the file

    info.entities = {static_cast<std::int64_t>(UsedEntries(body.EntLine, body.EntLineN)),
                     static_cast<std::int64_t>(UsedEntries(body.EntEnko, body.EntEnkoN)),
                     static_cast<std::int64_t>(UsedEntries(body.EntTen, body.EntTenN)),
                     static_cast<std::int64_t>(UsedEntries(body.EntMoji, body.EntMojiN)),
                     static_cast<std::int64_t>(UsedEntries(body.EntSunpo, body.EntSunpoN)),
                     static_cast<std::int64_t>(UsedEntries(body.EntSolid, body.EntSolidN)),
                     static_cast<std::int64_t>(UsedEntries(body.EntBlock, body.EntBlockN))};
    for (std::size_t i = 0; i < UsedEntries(body.EntTen, body.EntTenN); ++i) CountPoint(body.EntTen[i], info.points);
    if (sxf)
        for (std::size_t i = 0; i < UsedEntries(body.EntSunpo, body.EntSunpoN); ++i)
            CountDimensionPoints(body.EntSunpo[i], info.dimensionPoints);

    const std::size_t defs = UsedEntries(body.EntBlockDef, body.EntBlockDefN);
    info.blockDefinitions = static_cast<std::int64_t>(defs);
    for (std::size_t d = 0; d < defs; ++d) {
        const TEntJwwBlockDef& def = body.EntBlockDef[d];
        if (def.ref_flag) ++info.referencedBlockDefinitions;
        KindCounts& k = info.blockEntities;
        k.line += static_cast<std::int64_t>(UsedEntries(def.mLine, def.mLineN));
        k.arc += static_cast<std::int64_t>(UsedEntries(def.mEnko, def.mEnkoN));
        k.point += static_cast<std::int64_t>(UsedEntries(def.mTen, def.mTenN));
        k.text += static_cast<std::int64_t>(UsedEntries(def.mMoji, def.mMojiN));
        k.dimension += static_cast<std::int64_t>(UsedEntries(def.mSunpo, def.mSunpoN));
        k.solid += static_cast<std::int64_t>(UsedEntries(def.mSolid, def.mSolidN));
        k.block += static_cast<std::int64_t>(UsedEntries(def.mBlock, def.mBlockN));
        for (std::size_t i = 0; i < UsedEntries(def.mTen, def.mTenN); ++i) CountPoint(def.mTen[i], info.blockPoints);
        if (sxf)
            for (std::size_t i = 0; i < UsedEntries(def.mSunpo, def.mSunpoN); ++i)
                CountDimensionPoints(def.mSunpo[i], info.blockDimensionPoints);
    }
    for (std::size_t i = 0; i < UsedEntries(body.BindImage, body.BindImageN); ++i)
        info.images.push_back({body.BindImage[i].Fname, body.BindImage[i].Fsize});
    info.unicode = body.MojiEncode;
    return info;
}

DrawingInfo CollectDrawingInfo(const TJwwData& jww) {
    DrawingInfo info = CollectBodyInfo(jww, jww.Enthd.jwVer);
    info.memo = jww.Enthd.strMemo;
    return info;
}

DrawingInfo CollectDrawingInfo(const TJwsData& jws) { return CollectBodyInfo(jws, jws.Enthd.jwVer); }

bool ReadDrawingInfo(TJwwData& jww, const std::filesystem::path& path, DrawingInfo& info) {
    return ReadCounted(jww, path, info);
}

bool ReadDrawingInfo(TJwsData& jws, const std::filesystem::path& path, DrawingInfo& info) {
    return ReadCounted(jws, path, info);
}

PointCounts DrawingInfo::AllPoints() const {
    PointCounts sum;
    for (const PointCounts* p : {&points, &dimensionPoints, &blockPoints, &blockDimensionPoints}) {
        sum.temporary += p->temporary;
        sum.real += p->real;
        sum.marker += p->marker;
    }
    return sum;
}

}  // namespace tervalo
