#include "fuzz_checks.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <system_error>
#include <vector>

#include "convert/convert_options.h"
#include "convert/drawing_info.h"
#include "convert/file_convert.h"
#include "convert/settings_file.h"
#include "convert/stream_convert.h"
#include "dos/jwc_data.h"
#include "dos/jwk_data.h"
#include "fs/fsutil.h"
#include "fs/platform.h"
#include "model/entity_lists.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "render/raster.h"
#include "render/render.h"
#include "render/svg.h"
#include "text/encoding.h"
#include "text/func.h"

namespace tervalo::fuzz {

namespace fs = std::filesystem;

namespace {

// Output option that keeps the Unicode string form, as the conversion sets it.
constexpr std::int32_t kUnicodeStrings = 32;

class Scratch {
public:
    Scratch() {
        fs::path folder;
        if (platform::MakePrivateFolder("tervalo-fuzz", folder)) std::abort();
        path_ = folder.string();
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void WriteBytes(const fs::path& p, Input data) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!f) std::abort();  // the scratch folder itself failed
}

// One entity as the round trip must keep it: its kind, the states of its
// points (temporary, marker, real) and, for an insert, the written
// definition it resolves to (-1 for none).
struct Entity {
    std::int32_t kind = 0;
    std::vector<int> points;
    std::int32_t target = -1;
    bool operator==(const Entity&) const = default;
};

int PointState(const TEntJwwTen& t) {
    if (t.bKariten != 0) return 0;
    return t.att.nPenStyle == kMarkerPenStyle ? 1 : 2;
}

// The written definition an insert with block number n resolves to: the
// first definition with that number, by its position among the written ones.
std::int32_t Resolve(const DrawingBody& b, std::uint32_t n) {
    const std::int32_t defN = std::min<std::int32_t>(b.EntBlockDefN, static_cast<std::int32_t>(b.EntBlockDef.size()));
    for (std::int32_t i = 0; i < defN; ++i)
        if (b.EntBlockDef[static_cast<std::size_t>(i)].nNumber == n)
            return b.EntBlockDef[static_cast<std::size_t>(i)].ref_flag ? b.EntBlockDef[static_cast<std::size_t>(i)].ref_no : -1;
    return -1;
}

std::vector<Entity> Entities(const DrawingBody& b, const ConstEntityLists& L, std::int32_t n, std::int32_t ver) {
    std::vector<Entity> out;
    for (const TEntJwwNo& e : L.Order(n)) {
        if (!L.Live(e)) continue;
        Entity x;
        x.kind = e.EntType;
        const std::size_t k = static_cast<std::size_t>(e.EntNo);
        if (e.EntType == kKindTen) x.points.push_back(PointState(L.ten.items[k]));
        if (e.EntType == kKindSunpo && ver >= 420) {
            const TEntJwwSunpo& s = L.sunpo.items[k];
            x.points = {PointState(s.Te1), PointState(s.Te2), PointState(s.Kt1), PointState(s.Kt2)};
        }
        if (e.EntType == kKindBlock) x.target = Resolve(b, L.block.items[k].nNumber);
        out.push_back(std::move(x));
    }
    return out;
}

// The main list and every written definition's list, in order.
std::vector<std::vector<Entity>> Written(const DrawingBody& b, std::int32_t n1, std::int32_t ver) {
    std::vector<std::vector<Entity>> lists{Entities(b, ListsOf(b), n1, ver)};
    const std::size_t defN = std::min<std::size_t>(b.EntBlockDef.size(), b.EntBlockDefN > 0 ? b.EntBlockDefN : 0);
    for (std::size_t i = 0; i < defN; ++i)
        if (b.EntBlockDef[i].ref_flag) lists.push_back(Entities(b, ListsOf(b.EntBlockDef[i]), b.EntBlockDef[i].N, ver));
    return lists;
}

// A write may be refused for a text the format cannot hold; anything else
// that refuses to write what was read is a fault.
bool AcceptableWriteRefusal(const std::string& reason) {
    return reason.find("cannot be stored") != std::string::npos ||
           reason.find("too many entities") != std::string::npos;
}

template <typename Container>
std::string RoundTrip(Container& a, std::int32_t ver, std::int32_t n1Of(const Container&)) {
    a.SetFileOutOption(a.MojiEncode ? kUnicodeStrings : 0);
    std::vector<std::uint8_t> out;
    if (!a.WriteToBuffer(ver, out)) return AcceptableWriteRefusal(a.LastError()) ? "" : "write refused: " + a.LastError();
    Container b;
    if constexpr (std::is_same_v<Container, TJwwData>) {
        b.BindImageExp = false;
        b.BindImageExr = true;
    }
    if (!b.ReadFromBuffer(out)) return "what was written does not read back: " + b.LastError();
    if (Written(a, n1Of(a), ver) != Written(b, n1Of(b), ver)) return "entities differ after the round trip";
    if constexpr (std::is_same_v<Container, TJwwData>) {
        // The images a text refers to come back byte for byte.
        std::vector<std::vector<std::uint8_t>> before, after;
        for (const TBindImageType& e : a.BindImage)
            if (e.exf) before.push_back(e.data);
        for (const TBindImageType& e : b.BindImage) after.push_back(e.data);
        if (ver >= 700 && before != after) return "bound images differ after the round trip";
    }
    return "";
}

std::int32_t JwwN1(const TJwwData& d) { return d.Enthd.n1; }

// The counting read of the bytes as a file (records counted as they are
// read, none kept) reads whatever the whole read reads, with the same counts.
template <typename Container>
std::string CountingCheck(const Container& whole, bool read, const fs::path& file) {
    Container counting;
    DrawingInfo counted;
    const bool ok = ReadDrawingInfo(counting, file, counted);
    if (!read) return "";
    if (!ok) return "reads whole but not by the counting read: " + counting.LastError();
    const DrawingInfo full = CollectDrawingInfo(whole);
    if (!(counted.entities == full.entities) || !(counted.AllPoints() == full.AllPoints()) ||
        counted.blockDefinitions != full.blockDefinitions ||
        counted.referencedBlockDefinitions != full.referencedBlockDefinitions)
        return "the counting read counts otherwise than the whole read";
    return "";
}

// The conversion that streams the own list gives what the whole-model
// conversion gives: the same bytes and report, or the same failure for the
// same reason. `setup` prepares each fresh container alike.
template <typename Container, typename Whole, typename Stream, typename Setup>
std::string StreamCheck(const fs::path& file, const TConvertOptions& options, Setup setup, Whole whole,
                        Stream stream) {
    Bytes bytes[2];
    ConvertReport reports[2];
    bool built[2];
    for (int i = 0; i < 2; ++i) {
        Container data;
        setup(data);
        Bytes& out = bytes[i];
        const OutputSink sink = [&out](std::span<const std::uint8_t> b) { out.insert(out.end(), b.begin(), b.end()); };
        built[i] = i == 0 ? whole(data, ConvertDirection::ToReal, file, options, sink, &reports[i])
                          : stream(data, ConvertDirection::ToReal, file, options, sink, &reports[i]);
    }
    if (built[0] != built[1] || reports[0].failure != reports[1].failure || reports[0].detail != reports[1].detail)
        return "the streamed conversion fails otherwise than the whole one: " + reports[1].detail + " / " +
               reports[0].detail;
    if (reports[0].changedPoints != reports[1].changedPoints) return "the streamed conversion counts other changes";
    if (bytes[0] != bytes[1]) return "the streamed conversion writes other bytes";
    return "";
}

// Whatever reads renders, as SVG and as a small PNG, and the picture's fit
// lies within the drawing's extent.
template <typename Container>
std::string RenderCheck(const Container& c) {
    const render::Scene s = render::Render(c);
    const render::Extent& e = s.extent;
    const render::Extent& f = s.fit;
    if (!f.empty && (e.empty || f.minX < e.minX || f.maxX > e.maxX || f.minY < e.minY || f.maxY > e.maxY))
        return "the fit lies outside the extent";
    render::SvgOptions o;
    o.width = 64;
    o.height = 48;
    if (s.Size() < 50'000 && render::WriteSvg(s, o).find("</svg>") == std::string::npos) return "SVG not finished";
    // A whole PNG ends with its empty IEND chunk (the image data is
    // compressed, so its size says little).
    static const std::uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    const std::vector<std::uint8_t> png = render::EncodePng(render::Rasterize(s, 64, 48));
    if (png.size() < 8 + 25 + 12 + 12 || !std::equal(std::begin(kEnd), std::end(kEnd), png.end() - 12))
        return "PNG not finished";
    return "";
}

}  // namespace

const std::string& ScratchFolder() {
    static const Scratch scratch;
    return scratch.path();
}

std::string CheckJwwRoundTrip(Input data) {
    TJwwData jww;
    jww.BindImageExp = false;  // images stay in memory: no files while fuzzing
    jww.BindImageExr = true;
    const bool read = jww.ReadFromBuffer(data);

    // The header listing of the same bytes agrees with the full read.
    const fs::path file = fs::path(ScratchFolder()) / "header.jww";
    WriteBytes(file, data);
    TJwwData head;
    const bool listed = head.FileHeaderIn(file);
    if (read && !listed) return "reads whole but its header does not list: " + head.LastError();
    if (read && (head.Enthd.strMemo != jww.Enthd.strMemo || head.Enthd.jwVer != jww.Enthd.jwVer))
        return "header listing differs from the full read";
    if (std::string failure = CountingCheck(jww, read, file); !failure.empty()) return failure;

    if (!read) return "";
    if (std::string failure = RenderCheck(jww); !failure.empty()) return failure;
    const std::int32_t ver = jww.Enthd.jwVer;
    std::string failure = RoundTrip<TJwwData>(jww, ver, JwwN1);
    if (!failure.empty()) return failure;
    // Older versions must write (or refuse) without harm.
    std::vector<std::uint8_t> out;
    for (std::int32_t older : {230, 350, 419}) jww.WriteToBuffer(older, out);
    return "";
}

std::string CheckJwsRoundTrip(Input data) {
    TJwsData jws;
    const bool read = jws.ReadFromBuffer(data);
    const fs::path file = fs::path(ScratchFolder()) / "count.jws";
    WriteBytes(file, data);
    if (std::string failure = CountingCheck(jws, read, file); !failure.empty()) return failure;
    TConvertOptions options;
    options.MakeMarker = static_cast<std::int32_t>(data.size() % 2);
    if (std::string failure = StreamCheck<TJwsData>(
            file, options, [](TJwsData&) {}, [](auto&&... a) { return ConvertJwsTo(a...); },
            [](auto&&... a) { return StreamConvertJwsTo(a...); });
        !failure.empty())
        return failure;
    if (!read) return "";
    if (std::string failure = RenderCheck(jws); !failure.empty()) return failure;
    return RoundTrip<TJwsData>(jws, jws.Enthd.jwVer, [](const TJwsData& d) { return d.Enthd.n1; });
}

template <typename Container>
std::string CheckDosHeader(Input data, const char* name) {
    const fs::path file = fs::path(ScratchFolder()) / name;
    WriteBytes(file, data);
    Container c;
    const bool signature = c.FileCheck(file);
    const bool header = c.FileHeaderIn(file);
    // A file without the signature may still read as a header (the list asks
    // FileCheck first), but a header of a file shorter than its first block
    // never reads.
    if (header && data.empty()) return "an empty file read as a header";
    (void)signature;
    return "";
}

std::string CheckJwcHeader(Input data) { return CheckDosHeader<TJwcData>(data, "header.jwc"); }
std::string CheckJwkHeader(Input data) { return CheckDosHeader<TJwkData>(data, "header.jwk"); }

std::string CheckSettingsFile(Input data) {
    const fs::path first = fs::path(ScratchFolder()) / "first.dat";
    const fs::path second = fs::path(ScratchFolder()) / "second.dat";
    const fs::path third = fs::path(ScratchFolder()) / "third.dat";
    WriteBytes(first, data);
    TSettingsData a, b;
    LoadSettingsFile(first, a);
    if (!SaveSettingsFile(second, a)) return "the loaded settings cannot be saved";
    if (!LoadSettingsFile(second, b)) return "the saved settings cannot be loaded";
    // The scale is written with 15 significant digits, so a scale typed with
    // more comes back as those digits say; every other value comes back as it was.
    TSettingsData expected = a;
    expected.Options.MarkerScale = StrToFloatOrZero(FloatToText(a.Options.MarkerScale));
    if (!(expected == b)) return "settings differ after save and load";
    // From then on a save writes the same bytes, so it loads the same settings.
    if (!SaveSettingsFile(third, b)) return "the reloaded settings cannot be saved";
    Bytes secondBytes, thirdBytes;
    if (!ReadWholeFile(second, secondBytes) || !ReadWholeFile(third, thirdBytes) ||
        secondBytes != thirdBytes)
        return "a second save writes other bytes";
    return "";
}

namespace {

// Every file below `root`, relative to it.
std::set<std::string> FilesBelow(const fs::path& root) {
    std::set<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (!it->is_directory()) files.insert(fs::relative(it->path(), root).generic_string());
    return files;
}

}  // namespace

std::string CheckJwwConversion(Input data) {
    // root/in/source.jww is converted to root/out/target.jww; the work folder
    // root/nest/work/ sits two levels down, so a name that climbs out of it
    // would land in root/nest or root and show up below.
    const fs::path root = fs::path(ScratchFolder()) / "convert";
    std::error_code ec;
    fs::remove_all(root, ec);
    for (const char* dir : {"in", "out", "nest/work"}) fs::create_directories(root / dir);
    const fs::path source = root / "in" / "source.jww";
    const fs::path target = root / "out" / "target.jww";
    WriteBytes(source, data);

    TConvertOptions options;
    options.MakeMarker = static_cast<std::int32_t>(data.size() % 2);
    for (const bool copies : {false, true}) {
        TJwwData jww;
        jww.BindImageFolder = root / "nest" / "work";
        jww.BindImageExp = copies;
        jww.BindImageExr = true;
        fs::remove(target, ec);
        ConvertReport report;
        const bool converted = JwwToReal(jww, source, target, options, &report);

        std::set<std::string> expected{"in/source.jww"};
        if (converted) expected.insert("out/target.jww");
        if (FilesBelow(root) != expected) return "files left or written outside the output";
        const auto setup = [&](TJwwData& d) {
            d.BindImageFolder = jww.BindImageFolder;
            d.BindImageExp = copies;
            d.BindImageExr = true;
        };
        if (std::string failure = StreamCheck<TJwwData>(
                source, options, setup, [](auto&&... a) { return ConvertJwwTo(a...); },
                [](auto&&... a) { return StreamConvertJwwTo(a...); });
            !failure.empty())
            return failure;
        if (FilesBelow(root) != expected) return "the conversions in memory left files behind";

        if (converted) {
            TJwwData again;
            again.BindImageExr = true;
            if (!again.FileIn(target)) return "the converted drawing does not read back: " + again.LastError();
            TJwwData before;
            before.BindImageExr = true;
            if (!before.ReadFromBuffer(data)) return "converted a drawing that does not read";
            // Same entities (point states change by design): compare kinds
            // and insert targets only.
            auto shape = [](const DrawingBody& b, std::int32_t n1, std::int32_t ver) {
                auto lists = Written(b, n1, ver);
                for (auto& list : lists)
                    for (Entity& e : list) e.points.clear();
                return lists;
            };
            if (shape(before, before.Enthd.n1, before.Enthd.jwVer) != shape(again, again.Enthd.n1, again.Enthd.jwVer))
                return "the converted drawing holds other entities";
        }
    }
    return "";
}

}  // namespace tervalo::fuzz
