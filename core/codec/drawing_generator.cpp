#include "codec/drawing_generator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "archive/archive.h"
#include "model/entity_lists.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "text/encoding.h"

namespace tervalo {

namespace {

// splitmix64: small, fast and the same on every platform, unlike the
// distributions of <random>.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : s_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 <= result < n
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>((next() >> 32) * n >> 32); }
    std::int32_t range(std::int32_t lo, std::int32_t hi) { return lo + static_cast<std::int32_t>(below(static_cast<std::uint32_t>(hi - lo + 1))); }
    // A coordinate in [lo, hi) on a 0.01 grid, as drawings made by hand have.
    double coord(double lo, double hi) {
        const double u = static_cast<double>(next() >> 11) * 0x1.0p-53;
        return std::round((lo + (hi - lo) * u) * 100.0) / 100.0;
    }
    bool chance(std::uint32_t perMille) { return below(1000) < perMille; }

private:
    std::uint64_t s_;
};

// Entity kinds per 1000, after the proportions of real drawings (mostly
// lines, then arcs, points and texts).
constexpr std::array<std::pair<std::int32_t, std::uint32_t>, 7> kMix = {{
    {kKindLine, 780}, {kKindEnko, 70}, {kKindTen, 60}, {kKindMoji, 40},
    {kKindSunpo, 10}, {kKindSolid, 15}, {kKindBlock, 25},
}};

const char* const kWords[] = {
    "平面図", "立面図", "断面図", "階段", "手すり", "支柱", "踊り場", "窓", "ドア", "通り芯",
    "基礎伏図", "床", "壁", "天井", "梁", "柱", "ｶﾀｶﾅ", "①", "②", "③", "№", "㈱", "縮尺", "Ｘ軸", "Ｙ軸",
    "仕上げ", "寸法", "開口部", "鉄骨", "木造", "GL", "FL", "CH", "A-A'", "詳細",
};
const char* const kFonts[] = {"ＭＳ ゴシック", "ＭＳ 明朝", "ＭＳ Ｐゴシック", "Arial"};
// Characters code page 932 cannot hold, for drawings in the Unicode forms.
const char* const kUnicodeOnly[] = {"한국어", "€", "Ωμ±", "𠮷野家", "ñandú"};

class Generator {
public:
    Generator(const GeneratorOptions& o, DrawingBody& body)
        : o_(o), b_(body), rng_(o.seed * 0x2545F4914F6CDD1Dull + 1), att15_(o.version >= 351) {}

    void Run() {
        const std::uint64_t n = o_.entities ? o_.entities : EntitiesForSize();
        MakeDefinitions(n);
        b_.EntNo.reserve(n);
        const EntityLists main = ListsOf(b_);
        for (std::uint64_t i = 0; i < n; ++i) AddEntity(main, PickKind(), defCount_);
        b_.FileOutOpt = o_.unicode ? kOutOptUnicode : 0;
        b_.MojiEncode = o_.unicode;
        AddImages();
    }

    std::int32_t n1() const { return static_cast<std::int32_t>(b_.EntNo.size()); }

private:
    // Appends a record to its list and its entry to the order list.
    template <typename List>
    static void Add(const EntityLists& L, const List& list, typename List::Record&& record) {
        L.no.push_back({List::kKind, static_cast<std::int32_t>(list.items.size())});
        list.Append(std::move(record));
    }

    // About how many bytes one entity of the mix takes in the file, from the
    // record sizes of this version.
    std::uint64_t EntitiesForSize() const {
        const double att = att15_ ? 15 : 13;
        const double ten = 2 + att + 20 + (o_.version >= 300 ? 0.25 * 20 : 0);
        const double text = 2 + att + 68 + 14 + 20;
        const double dim = 2 + att + (att + 32) + (att + 68 + 14 + 6) +
                           (o_.version >= 420 ? 2 + 2 * (att + 32) + 4 * (att + 20) : 0);
        const double perEntity = (780 * (2 + att + 32) + 70 * (2 + att + 60) + 60 * ten + 40 * text + 10 * dim +
                                  15 * (2 + att + 64 + 1.2) + 25 * (2 + att + 44)) /
                                 1000.0;
        const double fixed = (o_.version >= 420 ? 30000 : 6000) + 150000.0 * o_.images;
        const double body = std::max(0.0, static_cast<double>(o_.targetBytes) - fixed);
        // The block definitions add about 1 % to the drawing's own entities.
        return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(body / (perEntity * 1.01)));
    }

    std::int32_t PickKind() {
        std::uint32_t r = rng_.below(1000);
        for (const auto& [kind, share] : kMix) {
            if (r < share) return kind;
            r -= share;
        }
        return kKindLine;
    }

    TEntJwwAttr Attr(std::int32_t kind) {
        TEntJwwAttr a;
        a.lGroup = rng_.chance(900) ? 0 : rng_.below(50);
        const bool extended = o_.version >= 420 && rng_.chance(100);
        a.nPenStyle = static_cast<std::uint8_t>(rng_.chance(800) ? 1 : rng_.range(2, 9));
        if (kind == kKindLine && extended) a.nPenStyle = static_cast<std::uint8_t>(rng_.range(31, 62));
        a.nPenColor = static_cast<std::uint16_t>(extended ? rng_.range(101, 356) : rng_.range(1, 9));
        a.nPenWidth = static_cast<std::uint16_t>(att15_ && rng_.chance(200) ? rng_.range(1, 50) : 0);
        a.nLayer = static_cast<std::uint16_t>(rng_.below(16));
        a.nGLayer = static_cast<std::uint16_t>(rng_.chance(700) ? 0 : rng_.below(16));
        a.sFlg = static_cast<std::uint16_t>(rng_.chance(950) ? 0 : 0x10);
        return a;
    }

    TEntJwwLine Line() {
        TEntJwwLine l;
        l.att = Attr(kKindLine);
        l.start_x = rng_.coord(-50000, 50000);
        l.start_y = rng_.coord(-50000, 50000);
        l.end_x = rng_.chance(500) ? l.start_x : rng_.coord(-50000, 50000);
        l.end_y = rng_.chance(500) ? l.start_y : rng_.coord(-50000, 50000);
        return l;
    }

    TEntJwwEnko Enko() {
        TEntJwwEnko e;
        e.att = Attr(kKindEnko);
        e.start_x = rng_.coord(-50000, 50000);
        e.start_y = rng_.coord(-50000, 50000);
        e.dHankei = rng_.coord(1, 5000);
        const std::uint32_t shape = rng_.below(4);  // circle, arc, ellipse, elliptic arc
        const bool full = shape == 0 || shape == 2;
        e.bZenEnFlg = full ? 1 : 0;
        e.radKaishiKaku = full ? 0.0 : rng_.coord(0, 6.28);
        e.radEnkoKaku = full ? 2 * 3.141592653589793 : rng_.coord(0.1, 6.28);
        e.radKatamukiKaku = shape >= 2 ? rng_.coord(0, 3.14) : 0.0;
        e.dHenpeiRitsu = shape >= 2 ? rng_.coord(0.1, 0.99) : 1.0;
        return e;
    }

    // Temporary, real and marker points; markers with negative, positive and
    // zero codes. Files before version 300 know no markers.
    TEntJwwTen Ten(double plainScale) {
        TEntJwwTen t;
        t.att = Attr(kKindTen);
        t.att.nPenStyle = 1;
        t.start_x = rng_.coord(-50000, 50000);
        t.start_y = rng_.coord(-50000, 50000);
        const std::uint32_t state = rng_.below(100);
        t.bKariten = state < 40 ? 1 : 0;
        t.dBairitsu = plainScale;
        if (state >= 75 && o_.version >= 300) {
            t.att.nPenStyle = kMarkerPenStyle;
            const std::uint32_t c = rng_.below(3);
            t.nCode = static_cast<std::uint32_t>(c == 0 ? -rng_.range(1, 9) : c == 1 ? rng_.range(1, 20) : 0);
            t.radKaitenKaku = rng_.chance(700) ? 0.0 : rng_.coord(0, 6.28);
            t.dBairitsu = rng_.chance(500) ? 1.0 : rng_.coord(0.5, 4);
        }
        return t;
    }

    std::u16string Phrase() {
        std::string s = kWords[rng_.below(std::size(kWords))];
        const std::uint32_t words = rng_.below(3);
        for (std::uint32_t i = 0; i < words; ++i) {
            s += rng_.chance(300) ? " " : "";
            s += kWords[rng_.below(std::size(kWords))];
        }
        if (rng_.chance(400)) s += " " + std::to_string(rng_.range(1, 9999));
        if (o_.unicode && rng_.chance(150)) s += kUnicodeOnly[rng_.below(std::size(kUnicodeOnly))];
        return Utf8ToUtf16(s);
    }

    TEntJwwMoji Moji(std::u16string text) {
        TEntJwwMoji m;
        m.att = Attr(kKindMoji);
        m.start_x = rng_.coord(-50000, 50000);
        m.start_y = rng_.coord(-50000, 50000);
        const bool vertical = rng_.chance(100);
        m.degKakudo = vertical ? 90.0 : 0.0;
        m.nMojiShu = static_cast<std::uint32_t>(rng_.range(1, 10));
        m.dSizeX = m.dSizeY = rng_.coord(2, 7);
        m.dKankaku = rng_.chance(800) ? 0.0 : rng_.coord(0, 2);
        const double length = m.dSizeX * static_cast<double>(text.size());
        m.end_x = vertical ? m.start_x : m.start_x + length;
        m.end_y = vertical ? m.start_y + length : m.start_y;
        m.strFontName = Utf8ToUtf16(kFonts[rng_.below(std::size(kFonts))]);
        m.str = std::move(text);
        return m;
    }

    // A dimension with or without its SXF part (the part exists from
    // version 420 on; older files give the sub-records the dimension's
    // attribute and zero coordinates, as a read of them does).
    TEntJwwSunpo Sunpo() {
        TEntJwwSunpo s;
        s.att = Attr(kKindSunpo);
        s.Sen = Line();
        const double length = std::round(std::hypot(s.Sen.end_x - s.Sen.start_x, s.Sen.end_y - s.Sen.start_y));
        s.Moji = Moji(Utf8ToUtf16(std::to_string(static_cast<long long>(length))));
        if (o_.version >= 420) {
            s.bSxfMode = rng_.chance(500) ? 1 : 0;
            s.Ho1 = Line();
            s.Ho2 = Line();
            for (TEntJwwTen* t : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) *t = Ten(0.0);
            return s;
        }
        for (TEntJwwLine* l : {&s.Ho1, &s.Ho2}) l->att = s.att;
        for (TEntJwwTen* t : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) {
            t->att = s.att;
            t->att.nPenStyle = 0;
        }
        return s;
    }

    TEntJwwSolid Solid() {
        TEntJwwSolid s;
        s.att = Attr(kKindSolid);
        const bool own = o_.version >= 230 && rng_.chance(400);
        if (own) s.att.nPenColor = 10;
        s.start_x = rng_.coord(-50000, 50000);
        s.start_y = rng_.coord(-50000, 50000);
        s.end_x = s.start_x + rng_.coord(1, 500);
        s.end_y = s.start_y;
        s.DPoint2_x = s.end_x;
        s.DPoint2_y = s.start_y + rng_.coord(1, 500);
        s.DPoint3_x = s.start_x;
        s.DPoint3_y = s.DPoint2_y;
        s.Color = own ? static_cast<std::uint32_t>(rng_.next() & 0xFFFFFF) : 0;
        return s;
    }

    // An insert of one of the first `defs` definitions.
    TEntJwwBlock Block(std::uint32_t defs) {
        TEntJwwBlock b;
        b.att = Attr(kKindBlock);
        b.DPKijunTen_x = rng_.coord(-50000, 50000);
        b.DPKijunTen_y = rng_.coord(-50000, 50000);
        b.dBairitsuX = b.dBairitsuY = rng_.chance(700) ? 1.0 : rng_.coord(0.1, 10);
        b.radKaitenKaku = rng_.chance(600) ? 0.0 : rng_.coord(0, 6.28);
        b.nNumber = defs == 0 ? 0 : DefNumber(nextInsert_++ % defs);
        return b;
    }

    static std::uint32_t DefNumber(std::uint32_t index) { return 10 + 3 * index; }

    void AddEntity(const EntityLists& L, std::int32_t kind, std::uint32_t defs) {
        switch (kind) {
            case kKindLine: Add(L, L.line, Line()); break;
            case kKindEnko: Add(L, L.enko, Enko()); break;
            case kKindTen: Add(L, L.ten, Ten(&L.no == &b_.EntNo ? 1.0 : 0.0)); break;
            case kKindMoji: Add(L, L.moji, Moji(Phrase())); break;
            case kKindSunpo: Add(L, L.sunpo, Sunpo()); break;
            case kKindSolid: Add(L, L.solid, Solid()); break;
            case kKindBlock:
                if (defs == 0) Add(L, L.line, Line());
                else Add(L, L.block, Block(defs));
                break;
            default: break;
        }
    }

    // Definitions that insert earlier ones (so they nest several levels
    // deep), each referenced by an insert of the drawing or of a later one.
    void MakeDefinitions(std::uint64_t entities) {
        defCount_ = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(entities / 400, 3, 64));
        b_.EntBlockDef.resize(defCount_);
        for (std::uint32_t i = 0; i < defCount_; ++i) {
            TEntJwwBlockDef& d = b_.EntBlockDef[i];
            d.att = Attr(kKindBlockDef);
            d.nNumber = DefNumber(i);
            d.bRefferd = 1;
            d.dtime = 0x5F000000u + i * 3600u;
            d.strName = Phrase() + Utf8ToUtf16("-" + std::to_string(i));
            const EntityLists L = ListsOf(d);
            const std::uint32_t members = static_cast<std::uint32_t>(rng_.range(4, 12)) *
                                          static_cast<std::uint32_t>(std::max<std::uint64_t>(1, entities / 40000 + 1));
            for (std::uint32_t k = 0; k < members; ++k) {
                std::int32_t kind = PickKind();
                if (kind == kKindBlock || kind == kKindSunpo) kind = kKindLine;
                AddEntity(L, kind, 0);
            }
            // Nested inserts: the one defined just before, and sometimes one further back.
            if (i > 0) {
                TEntJwwBlock inner = Block(0);
                inner.nNumber = DefNumber(i - 1);
                Add(L, L.block, std::move(inner));
                if (i > 2 && rng_.chance(500)) {
                    TEntJwwBlock wide = Block(0);
                    wide.nNumber = DefNumber(rng_.below(i - 1));
                    Add(L, L.block, std::move(wide));
                }
            }
            d.N = static_cast<std::int32_t>(d.mNo.size());
        }
        b_.EntBlockDefN = static_cast<std::int32_t>(defCount_);
    }

    void AddImages() {
        if (o_.images <= 0) return;
        b_.BindImage.resize(static_cast<std::size_t>(o_.images));
        for (std::int32_t i = 0; i < o_.images; ++i) {
            TBindImageType& e = b_.BindImage[static_cast<std::size_t>(i)];
            e.Fname = Utf8ToUtf16("画像" + std::to_string(i + 1) + ".bmp");
            e.data.resize(static_cast<std::size_t>(rng_.range(8, 256)) * 512);
            e.data[0] = 'B';
            e.data[1] = 'M';
            for (std::size_t k = 2; k < e.data.size(); ++k) e.data[k] = static_cast<std::uint8_t>(rng_.next());
            e.Fsize = static_cast<std::int32_t>(e.data.size());
            e.exf = true;
            // A text that shows the image.
            TEntJwwMoji m = Moji(u"^@BM%temp%" + e.Fname + u",100,100,0,0,1,0");
            b_.EntNo.push_back({kKindMoji, static_cast<std::int32_t>(b_.EntMoji.size())});
            b_.EntMoji.push_back(std::move(m));
        }
        b_.EntMojiN = static_cast<std::int32_t>(b_.EntMoji.size());
        b_.BindImageN = o_.images;
        b_.BindImageExr = true;  // stored from the bytes held in memory
    }

    const GeneratorOptions& o_;
    DrawingBody& b_;
    Rng rng_;
    bool att15_;
    std::uint32_t defCount_ = 0;
    std::uint32_t nextInsert_ = 0;
};

bool CheckOptions(const GeneratorOptions& o, bool jws, std::string& error) {
    const std::int32_t lowest = jws ? 230 : 220;
    if (o.version < lowest || o.version > 700) {
        error = "version must be from " + std::to_string(lowest) + " to 700";
        return false;
    }
    if (o.entities == 0 && o.targetBytes == 0) {
        error = "neither a size nor a number of entities";
        return false;
    }
    if (o.entities > 50'000'000 || o.targetBytes > (std::uint64_t{4} << 30)) {
        error = "too large (at most 50 000 000 entities or 4 GiB)";
        return false;
    }
    if (o.images < 0 || o.images > 1000 || (o.images > 0 && (jws || o.version < 700))) {
        error = jws ? "figures hold no bound images" : "bound images need version 700 (at most 1000)";
        return false;
    }
    return true;
}

}  // namespace

bool GenerateDrawing(const GeneratorOptions& options, TJwwData& jww, std::string& error) {
    if (!CheckOptions(options, false, error)) return false;
    jww.DataInit();
    TEntJwwHeader& h = jww.Enthd;
    h.jwVer = options.version;
    h.strMemo = Utf8ToUtf16("生成された図面 seed " + std::to_string(options.seed));
    h.nZumen = 3;  // A3
    jww.EntLgrp.assign(16, TEntJwwLayerGroup{});
    jww.EntLay.assign(256, TEntJwwLayer{});
    for (std::size_t g = 0; g < 16; ++g) {
        auto& grp = jww.EntLgrp[g];
        grp.anGLay = 2;
        grp.adScale = g == 0 ? 100.0 : 50.0;
        grp.aStrGLayName = g == 0 ? Utf8ToUtf16("平面") : u"";
        for (std::size_t l = 0; l < 16; ++l) {
            auto& lay = jww.EntLay[g * 16 + l];
            lay.aanLay = 2;
            if (g == 0 && l < 4) lay.aStrLayName = Utf8ToUtf16(std::array{"壁", "建具", "寸法", "文字"}[l]);
        }
    }
    jww.EntCol.assign(10, TEntJwwColorNo{});
    for (std::size_t i = 0; i < 10; ++i) {
        auto& c = jww.EntCol[i];
        c.aPenColor = c.aPrtPenColor = static_cast<std::int32_t>(0x202020 * (i % 8));
        c.anPenWidth = 1;
        c.anPrtPenWidth = static_cast<std::int32_t>(i + 1);
        c.adPrtTenHankei = 0.3;
    }
    jww.EntLtp1.assign(8, TEntJwwLineTypeNo{-1, 1, 1, 1});
    jww.EntLtp2.assign(5, TEntJwwRandomLineNo{-1, 1, 1, 1, 1});
    jww.EntLtp3.assign(4, TEntJwwLineTypeNo{-1, 1, 1, 1});
    jww.EntColS.assign(257, TEntJwwColorExNo{});
    jww.EntLtpS.assign(33, TEntJwwLineTypeExNo{});
    for (auto& t : jww.EntLtpS) t.anUDLTypeSegment = 2;
    jww.EntMoj.assign(10, TEntJwwMojiType{3, 3, 0, 1});
    h.dMojiSizeX = h.dMojiSizeY = 3.0;
    Generator g(options, jww);
    g.Run();
    h.n1 = g.n1();
    h.n2 = jww.EntBlockDefN;
    jww.MarkBlockReferences();
    return true;
}

bool GenerateDrawing(const GeneratorOptions& options, TJwsData& jws, std::string& error) {
    if (!CheckOptions(options, true, error)) return false;
    jws.DataInit();
    jws.Enthd.jwVer = options.version;
    jws.EntLgrp.assign(16, TEntJwwLayerGroup{});
    for (auto& grp : jws.EntLgrp) grp.adScale = 100.0;
    Generator g(options, jws);
    g.Run();
    jws.Enthd.n1 = g.n1();
    jws.Enthd.n2 = jws.EntBlockDefN;
    jws.MarkBlockReferences();
    return true;
}

}  // namespace tervalo
