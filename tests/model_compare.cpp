#include "model_compare.h"

#include <algorithm>
#include <cmath>
#include <array>
#include <sstream>

#include "archive/archive.h"
#include "model/entity_lists.h"
#include "text/encoding.h"

namespace tervalo::test {

std::string ModelDiff::Summary() const {
    std::ostringstream s;
    for (const auto& [rule, n] : explained) s << "  " << rule << ": " << n << "\n";
    for (const auto& u : unexplained) s << "  UNEXPLAINED " << u << "\n";
    return s.str();
}

namespace {

double ClampSize(double v) {
    const double a = std::fabs(v);
    return a < 1e-10 ? 1e-10 : (a > 1e10 ? 1e10 : a);
}

class Comparer {
public:
    Comparer(const DrawingBody& before, std::int32_t ver, PointFields points, ModelDiff& diff)
        : before_(before), ver_(ver), points_(points), diff_(diff) {}

    // The value the writer stores for the attribute, noted under its rule.
    TEntJwwAttr Attr(const TEntJwwAttr& a, std::int32_t kind) {
        TEntJwwAttr m = MapAttrForOutput(a, ver_, kind);
        if (m != a) ++diff_.explained["attribute code validated by the writer"];
        return m;
    }
    std::u16string Clean(const std::u16string& s) {
        std::u16string c = CleanNameText(s);
        if (c != s) ++diff_.explained["string cleaned (^m, \\n, control characters)"];
        return c;
    }

    TEntJwwLine Expect(const TEntJwwLine& x) {
        TEntJwwLine e = x;
        e.att = Attr(x.att, kKindLine);
        return e;
    }
    TEntJwwEnko Expect(const TEntJwwEnko& x) {
        TEntJwwEnko e = x;
        e.att = Attr(x.att, kKindEnko);
        return e;
    }
    TEntJwwTen Expect(const TEntJwwTen& x) {
        TEntJwwTen e = x;
        e.att = Attr(x.att, kKindTen);
        return e;
    }
    TEntJwwMoji Expect(const TEntJwwMoji& x, std::int32_t kind = kKindMoji) {
        TEntJwwMoji e = x;
        e.att = Attr(x.att, kind);
        e.dSizeX = ClampSize(x.dSizeX);
        e.dSizeY = ClampSize(x.dSizeY);
        if (e.dSizeX != x.dSizeX || e.dSizeY != x.dSizeY) ++diff_.explained["text size clamped"];
        e.strFontName = Clean(x.strFontName);
        e.str = Clean(x.str);
        return e;
    }
    TEntJwwSunpo Expect(const TEntJwwSunpo& x) {
        TEntJwwSunpo e = x;
        e.att = Attr(x.att, kKindSunpo);
        e.Sen = Expect(x.Sen);
        e.Moji = Expect(x.Moji);
        if (ver_ >= 420) {
            e.Ho1 = Expect(x.Ho1);
            e.Ho2 = Expect(x.Ho2);
            e.Te1 = Expect(x.Te1);
            e.Te2 = Expect(x.Te2);
            e.Kt1 = Expect(x.Kt1);
            e.Kt2 = Expect(x.Kt2);
        }
        return e;
    }
    TEntJwwSolid Expect(const TEntJwwSolid& x) {
        TEntJwwSolid e = x;
        e.att = Attr(x.att, kKindSolid);
        if (e.att.nPenColor != 10) e.Color = 0;
        return e;
    }
    TEntJwwBlock Expect(const TEntJwwBlock& x) {
        TEntJwwBlock e = x;
        e.nNumber = before_.ChangeBlockNo(x.nNumber);
        if (e.nNumber != x.nNumber) ++diff_.explained["block number renumbered"];
        return e;
    }

    template <typename T>
    bool Same(const T& expected, const T& got) { return expected == got; }
    bool Same(const TEntJwwTen& e, const TEntJwwTen& g) {
        if (points_ == PointFields::kAll) return e == g;
        return e.start_x == g.start_x && e.start_y == g.start_y && e.att.lGroup == g.att.lGroup &&
               e.att.nPenColor == g.att.nPenColor && e.att.nPenWidth == g.att.nPenWidth &&
               e.att.nLayer == g.att.nLayer && e.att.nGLayer == g.att.nGLayer && e.att.sFlg == g.att.sFlg;
    }
    bool Same(const TEntJwwSunpo& e, const TEntJwwSunpo& g) {
        return e.att == g.att && e.Sen == g.Sen && e.Moji == g.Moji && e.bSxfMode == g.bSxfMode && e.Ho1 == g.Ho1 &&
               e.Ho2 == g.Ho2 && Same(e.Te1, g.Te1) && Same(e.Te2, g.Te2) && Same(e.Kt1, g.Kt1) && Same(e.Kt2, g.Kt2);
    }

    // One entity list: the live entries in order must match one to one.
    void CompareList(const std::string& where, std::int32_t nB, const ConstEntityLists& b, std::int32_t nA,
                     const ConstEntityLists& a) {
        auto live = [](std::int32_t n, const ConstEntityLists& l) {
            std::vector<TEntJwwNo> out;
            for (const TEntJwwNo& e : l.Order(n))
                if (l.Live(e)) out.push_back(e);
            return out;
        };
        const auto lb = live(nB, b);
        const auto la = live(nA, a);
        if (lb.size() != la.size()) {
            diff_.Unexplained(where + ": " + std::to_string(lb.size()) + " entities before, " +
                              std::to_string(la.size()) + " after");
            return;
        }
        for (std::size_t i = 0; i < lb.size(); ++i) {
            const std::string at = where + " entity " + std::to_string(i);
            if (lb[i].EntType != la[i].EntType) {
                diff_.Unexplained(at + ": kind " + std::to_string(lb[i].EntType) + " became " +
                                  std::to_string(la[i].EntType));
                continue;
            }
            bool same = true;
            b.With(lb[i].EntType, [&](const auto& list) {
                using T = typename std::decay_t<decltype(list)>::Record;
                same = Same(Expect(list.items[static_cast<std::size_t>(lb[i].EntNo)]),
                            a.template Of<T>().items[static_cast<std::size_t>(la[i].EntNo)]);
            });
            if (!same) diff_.Unexplained(at + " (kind " + std::to_string(lb[i].EntType) + ") differs");
        }
    }

private:
    const DrawingBody& before_;
    std::int32_t ver_;
    PointFields points_;
    ModelDiff& diff_;
};

}  // namespace

ModelDiff CompareBodies(const DrawingBody& before, std::int32_t n1Before, std::int32_t n2Before,
                        const DrawingBody& after, std::int32_t n1After, std::int32_t n2After,
                        std::int32_t sourceVer, PointFields points) {
    ModelDiff diff;
    Comparer cmp(before, sourceVer, points, diff);
    cmp.CompareList("drawing", n1Before, ListsOf(before), n1After, ListsOf(after));

    // Only the referenced definitions are written, in their order.
    std::vector<const TEntJwwBlockDef*> kept;
    for (std::int32_t i = 0; i < n2Before && i < static_cast<std::int32_t>(before.EntBlockDef.size()); ++i) {
        if (before.EntBlockDef[i].ref_flag)
            kept.push_back(&before.EntBlockDef[i]);
        else
            ++diff.explained["unreferenced block definition left out"];
    }
    if (static_cast<std::int32_t>(kept.size()) != n2After) {
        diff.Unexplained("block definitions: " + std::to_string(kept.size()) + " referenced before, " +
                         std::to_string(n2After) + " after");
        return diff;
    }
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const TEntJwwBlockDef& b = *kept[i];
        const TEntJwwBlockDef& a = after.EntBlockDef[i];
        const std::string where = "block definition " + std::to_string(i);
        const std::uint32_t number = static_cast<std::uint32_t>(b.ref_no);
        if (number != b.nNumber) ++diff.explained["block number renumbered"];
        if (a.nNumber != number) diff.Unexplained(where + ": number");
        if (a.att != cmp.Attr(b.att, kKindBlockDef)) diff.Unexplained(where + ": attribute");
        if (a.bRefferd != b.bRefferd || a.dtime != b.dtime) diff.Unexplained(where + ": flag or time");
        if (a.strName != cmp.Clean(b.strName)) diff.Unexplained(where + ": name");
        if (!a.ref_flag || a.ref_no != static_cast<std::int32_t>(i)) diff.Unexplained(where + ": not referenced after");
        cmp.CompareList(where, b.N, ListsOf(b), a.N, ListsOf(a));
    }
    return diff;
}

}  // namespace tervalo::test
