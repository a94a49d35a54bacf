#include "convert/stream_convert.h"

#include <new>

#include "codec/driver_support.h"
#include "convert/point_rules.h"
#include "model/jws_data.h"
#include "model/jww_data.h"

namespace tervalo {

namespace {

// Output option that keeps the Unicode string form of a source that used it.
constexpr std::int32_t kUnicodeStrings = 32;

// Keeps none of the records of the drawing's own list (the read keeps its
// inserts, which decide the referenced definitions).
class Discard final : public RecordSink {
public:
    void Take(const TEntJwwLine&) override {}
    void Take(const TEntJwwEnko&) override {}
    void Take(const TEntJwwTen&) override {}
    void Take(const TEntJwwMoji&) override {}
    void Take(const TEntJwwSunpo&) override {}
    void Take(const TEntJwwSolid&) override {}
};

std::int64_t ChangePoints(DrawingBody& body, ConvertDirection direction, std::int32_t version,
                          const TConvertOptions& options) {
    return direction == ConvertDirection::ToReal ? ConvertPointsToReal(body, version, options)
                                                 : ConvertPointsToTemporary(body, version, options);
}

void Free(TJwwData& jww) { JwwDataFree(jww); }
void Free(TJwsData& jws) { jws.DataFree(); }

bool ImagesReady(const TJwwData& jww, ConvertReport* report) {
    std::string missing;
    if (BoundImagesExtracted(jww, missing)) return true;
    if (report) {
        report->failure = ConvertFailure::ImagesNotExtracted;
        report->detail = "bound image " + missing + " could not be copied out";
    }
    return false;
}
bool ImagesReady(const TJwsData&, ConvertReport*) { return true; }

enum class Outcome { Built, Failed, NotStreamed };

template <typename Container>
Outcome Stream(Container& data, ConvertDirection direction, const std::u16string& source,
               const TConvertOptions& options, const OutputSink& out, ConvertReport* report) {
    std::string ignored;
    // First read: everything but the records of the drawing's own list.
    platform::InputFile first;
    if (!OpenInputFile(source, first, ignored)) return Outcome::NotStreamed;
    bool read = false;
    {
        Discard discard;
        FileByteSource bytes(first);
        ByteReader r(bytes, kReadWindow);
        data.recordSink = &discard;
        read = data.ReadFrom(r);
        data.recordSink = nullptr;
    }
    if (!read) return Outcome::NotStreamed;
    if (!ImagesReady(data, report)) return Outcome::Failed;

    const std::int32_t version = data.Enthd.jwVer;
    std::int64_t changed = ChangePoints(data, direction, version, options);
    data.SetFileOutOption(data.MojiEncode ? kUnicodeStrings : 0);

    // Second read: the own list, a part at a time, into the output.
    platform::InputFile second;
    std::string reason;
    bool built = OpenInputFile(source, second, reason);
    if (built) {
        FileByteSource bytes(second);
        ByteReader r(bytes, kReadWindow);
        built = RunGuarded(reason, [&] { r.seek(data.BodyOffset()); }) &&
                data.StreamTo(version, r, [&](DrawingBody& part) {
                    changed += ChangePoints(part, direction, version, options);
                }, out);
        if (!built && reason.empty()) reason = data.LastError();
    }
    if (report) {
        report->changedPoints = changed;
        if (!built) {
            report->failure = ConvertFailure::WriteFailed;
            report->detail = reason;
        }
    }
    return built ? Outcome::Built : Outcome::Failed;
}

template <typename Container, typename Whole>
bool StreamOrWhole(Container& data, ConvertDirection direction, const std::u16string& source,
                   const TConvertOptions& options, const OutputSink& out, ConvertReport* report, Whole&& whole) {
    if (report) *report = ConvertReport{};
    Outcome outcome = Outcome::NotStreamed;
    try {
        outcome = Stream(data, direction, source, options, out, report);
    } catch (const std::bad_alloc&) {
        outcome = Outcome::NotStreamed;
    }
    Free(data);
    if (outcome != Outcome::NotStreamed) return outcome == Outcome::Built;
    // The whole-model conversion says why the source cannot be converted.
    return whole();
}

}  // namespace

bool StreamConvertJwwTo(TJwwData& jww, ConvertDirection direction, const std::u16string& source,
                        const TConvertOptions& options, const OutputSink& sink, ConvertReport* report) {
    return StreamOrWhole(jww, direction, source, options, sink, report,
                         [&] { return ConvertJwwTo(jww, direction, source, options, sink, report); });
}

bool StreamConvertJwsTo(TJwsData& jws, ConvertDirection direction, const std::u16string& source,
                        const TConvertOptions& options, const OutputSink& sink, ConvertReport* report) {
    return StreamOrWhole(jws, direction, source, options, sink, report,
                         [&] { return ConvertJwsTo(jws, direction, source, options, sink, report); });
}

}  // namespace tervalo
