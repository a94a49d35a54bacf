// Which definitions are referenced, their output numbers, and the block tree
// with its placements, its order, its repeat rule and its size bound.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>

#include "model/drawing_body.h"
#include "test_support.h"

namespace tervalo {
namespace {

using test::U16;

struct Drawing : DrawingBody {};

TEntJwwBlock Insert(std::uint32_t number, double x = 0, double y = 0, double sx = 1, double sy = 1, double rot = 0) {
    TEntJwwBlock b;
    b.att.nPenColor = 1;
    b.att.lGroup = number + 1000;
    b.DPKijunTen_x = x;
    b.DPKijunTen_y = y;
    b.dBairitsuX = sx;
    b.dBairitsuY = sy;
    b.radKaitenKaku = rot;
    b.nNumber = number;
    return b;
}

void AddInsert(Drawing& d, TEntJwwBlock b) {
    d.EntBlock.push_back(b);
    d.EntBlockN = static_cast<std::int32_t>(d.EntBlock.size());
}

TEntJwwBlockDef& AddDef(Drawing& d, std::uint32_t number, std::vector<TEntJwwBlock> inserts = {},
                        std::uint32_t bRefferd = 0) {
    TEntJwwBlockDef def;
    def.nNumber = number;
    def.bRefferd = bRefferd;
    def.att.lGroup = 5000 + static_cast<std::uint32_t>(d.EntBlockDef.size());
    def.strName = U16("Def" + std::to_string(d.EntBlockDef.size()));
    for (const TEntJwwBlock& b : inserts) {
        def.mBlock.push_back(b);
        def.mNo.push_back({kKindBlock, static_cast<std::int32_t>(def.mBlock.size()) - 1});
    }
    def.mBlockN = static_cast<std::int32_t>(def.mBlock.size());
    def.N = def.mBlockN;
    d.EntBlockDef.push_back(std::move(def));
    d.EntBlockDefN = static_cast<std::int32_t>(d.EntBlockDef.size());
    return d.EntBlockDef.back();
}

std::vector<int> RefNos(const Drawing& d) {
    std::vector<int> v;
    for (const TEntJwwBlockDef& def : d.EntBlockDef) v.push_back(def.ref_flag ? def.ref_no : -1);
    return v;
}

// --- The block tree as the breadth-first expansion, walking up the parents
// for the repeat test; slow but plain.
std::vector<TEntJwwBlockTree> ReferenceTree(const DrawingBody& b, std::size_t cap) {
    auto firstDef = [&](std::uint32_t n) -> std::int32_t {
        for (std::int32_t i = 0; i < b.EntBlockDefN; ++i)
            if (b.EntBlockDef[i].nNumber == n) return i;
        return -1;
    };
    std::vector<TEntJwwBlockTree> tree;
    auto make = [&](const TEntJwwBlock& ins, std::int32_t parent, const TEntJwwAttr& att) {
        TEntJwwBlockTree n;
        n.att = att;
        n.parent = parent;
        n.no = ins.nNumber;
        n.defno = firstDef(ins.nNumber);
        if (n.defno >= 0) n.name = b.EntBlockDef[n.defno].strName;
        const double c = std::cos(ins.radKaitenKaku), s = std::sin(ins.radKaitenKaku);
        const double l11 = c * ins.dBairitsuX, l12 = -s * ins.dBairitsuY, l21 = s * ins.dBairitsuX,
                     l22 = c * ins.dBairitsuY;
        if (parent < 0) {
            n.level = 0;
            n.x = ins.DPKijunTen_x;
            n.y = ins.DPKijunTen_y;
            n.r1 = l11;
            n.r2 = l12;
            n.r3 = l21;
            n.r4 = l22;
        } else {
            const TEntJwwBlockTree p = tree[parent];
            n.level = p.level + 1;
            n.x = p.x + p.r1 * ins.DPKijunTen_x + p.r2 * ins.DPKijunTen_y;
            n.y = p.y + p.r3 * ins.DPKijunTen_x + p.r4 * ins.DPKijunTen_y;
            n.r1 = p.r1 * l11 + p.r2 * l21;
            n.r2 = p.r1 * l12 + p.r2 * l22;
            n.r3 = p.r3 * l11 + p.r4 * l21;
            n.r4 = p.r3 * l12 + p.r4 * l22;
        }
        tree.push_back(n);
    };
    for (std::int32_t j = 0; j < b.EntBlockN && tree.size() < cap; ++j) make(b.EntBlock[j], -1, b.EntBlock[j].att);
    for (std::size_t k = 0; k < tree.size(); ++k) {
        const std::int32_t d = tree[k].defno;
        if (d < 0) continue;
        bool repeat = false;
        for (std::int32_t p = tree[k].parent; p >= 0; p = tree[p].parent)
            if (tree[p].defno == d) repeat = true;
        if (repeat) continue;
        const TEntJwwBlockDef& def = b.EntBlockDef[d];
        for (std::int32_t l = 0; l < def.mBlockN && tree.size() < cap; ++l)
            make(def.mBlock[l], static_cast<std::int32_t>(k), def.att);
    }
    return tree;
}

// Referenced definitions: reached from the drawing's inserts or flagged, and
// everything reached from those.
std::vector<bool> ReferenceFlags(const DrawingBody& b) {
    auto firstDef = [&](std::uint32_t n) -> std::int32_t {
        for (std::int32_t i = 0; i < b.EntBlockDefN; ++i)
            if (b.EntBlockDef[i].nNumber == n) return i;
        return -1;
    };
    std::vector<bool> used(b.EntBlockDefN, false);
    for (std::int32_t j = 0; j < b.EntBlockN; ++j)
        if (std::int32_t d = firstDef(b.EntBlock[j].nNumber); d >= 0) used[d] = true;
    for (std::int32_t i = 0; i < b.EntBlockDefN; ++i)
        if (b.EntBlockDef[i].bRefferd) used[i] = true;
    for (bool changed = true; changed;) {
        changed = false;
        for (std::int32_t i = 0; i < b.EntBlockDefN; ++i) {
            if (!used[i]) continue;
            for (const TEntJwwBlock& ins : b.EntBlockDef[i].mBlock)
                if (std::int32_t d = firstDef(ins.nNumber); d >= 0 && !used[d]) used[d] = changed = true;
        }
    }
    return used;
}

void ExpectSameTree(const std::vector<TEntJwwBlockTree>& got, const std::vector<TEntJwwBlockTree>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
        SCOPED_TRACE("node " + std::to_string(k));
        const TEntJwwBlockTree &g = got[k], &w = want[k];
        ASSERT_EQ(g.level, w.level);
        ASSERT_EQ(g.parent, w.parent);
        ASSERT_EQ(g.no, w.no);
        ASSERT_EQ(g.defno, w.defno);
        EXPECT_EQ(g.name, w.name);
        EXPECT_EQ(g.att, w.att);
        EXPECT_EQ(g.x, w.x);
        EXPECT_EQ(g.y, w.y);
        EXPECT_EQ(g.r1, w.r1);
        EXPECT_EQ(g.r2, w.r2);
        EXPECT_EQ(g.r3, w.r3);
        EXPECT_EQ(g.r4, w.r4);
    }
}

// ---------------------------------------------------------------------------

// An insert at (10, 20) scaled 2, and inside its definition an insert at
// (1, 0) turned a quarter.
TEST(BlockTree, PlacementMatrices) {
    Drawing d;
    AddInsert(d, Insert(3, 10, 20, 2, 2, 0));
    AddDef(d, 3, {Insert(4, 1, 0, 1, 1, std::numbers::pi / 2)});
    AddDef(d, 4);
    d.MakeBlockTree();
    ASSERT_EQ(d.EntBlockTreeN, 2);
    ASSERT_EQ(d.EntBlockTree.size(), 2u);
    const TEntJwwBlockTree& top = d.EntBlockTree[0];
    EXPECT_EQ(top.level, 0);
    EXPECT_EQ(top.parent, -1);
    EXPECT_EQ(top.defno, 0);
    EXPECT_EQ(top.name, U16("Def0"));
    EXPECT_EQ(top.att, d.EntBlock[0].att);
    EXPECT_EQ(top.x, 10);
    EXPECT_EQ(top.y, 20);
    EXPECT_EQ(top.r1, 2);
    EXPECT_EQ(top.r2, 0);
    EXPECT_EQ(top.r3, 0);
    EXPECT_EQ(top.r4, 2);
    // The point (1, 0) of definition 3 lands at (12, 20).
    EXPECT_EQ(top.x + top.r1 * 1 + top.r2 * 0, 12);
    const TEntJwwBlockTree& nested = d.EntBlockTree[1];
    EXPECT_EQ(nested.level, 1);
    EXPECT_EQ(nested.parent, 0);
    EXPECT_EQ(nested.no, 4u);
    EXPECT_EQ(nested.defno, 1);
    EXPECT_EQ(nested.att, d.EntBlockDef[0].att);  // from the definition holding the insert
    EXPECT_DOUBLE_EQ(nested.x, 12);
    EXPECT_DOUBLE_EQ(nested.y, 20);
    EXPECT_NEAR(nested.r1, 0, 1e-12);
    EXPECT_DOUBLE_EQ(nested.r2, -2);
    EXPECT_DOUBLE_EQ(nested.r3, 2);
    EXPECT_NEAR(nested.r4, 0, 1e-12);
}

TEST(BlockTree, ReferencesAndNumbers) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> top;                                     // inserted numbers
        std::vector<std::tuple<std::uint32_t, std::vector<std::uint32_t>, std::uint32_t>> defs;  // number, inserts, flag
        std::vector<int> refNos;
    };
    const Case cases[] = {
        {"three definitions, two used", {9, 12, 9}, {{5, {}, 0}, {9, {}, 0}, {12, {}, 0}}, {-1, 0, 1}},
        {"nested use", {1}, {{2, {}, 0}, {1, {2}, 0}}, {0, 1}},
        {"nested in an unused definition", {1}, {{1, {}, 0}, {3, {4}, 0}, {4, {}, 0}}, {0, -1, -1}},
        {"no inserts", {}, {{1, {2}, 0}, {2, {}, 0}}, {-1, -1}},
        {"no inserts, flagged", {}, {{1, {2}, 0}, {2, {}, 0}, {3, {1}, 1}}, {0, 1, 2}},
        {"flagged, unreached", {7}, {{7, {}, 0}, {8, {}, 1}, {9, {}, 0}}, {0, 1, -1}},
        {"duplicate numbers", {7}, {{7, {}, 0}, {7, {}, 0}}, {0, -1}},
        {"flagged duplicate", {7}, {{7, {}, 0}, {7, {8}, 1}, {8, {}, 0}}, {0, 1, 2}},
        {"self insert", {1}, {{1, {1, 1}, 0}}, {0}},
        {"cycle", {2}, {{1, {2}, 0}, {2, {1}, 0}, {3, {}, 0}}, {0, 1, -1}},
        {"insert of a missing number", {42}, {{1, {}, 0}}, {-1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Drawing d;
        for (std::uint32_t n : c.top) AddInsert(d, Insert(n));
        for (const auto& [number, inserts, flag] : c.defs) {
            std::vector<TEntJwwBlock> blocks;
            for (std::uint32_t n : inserts) blocks.push_back(Insert(n));
            AddDef(d, number, blocks, flag);
        }
        d.EntBlockNum = 99;  // always replaced
        d.MakeBlockTree();
        EXPECT_EQ(RefNos(d), c.refNos);
        int referenced = 0;
        for (int r : c.refNos) referenced += r >= 0;
        EXPECT_EQ(d.EntBlockNum, referenced);
    }
}

TEST(BlockTree, ChangeBlockNo) {
    Drawing empty;
    EXPECT_EQ(empty.ChangeBlockNo(5), 0u);

    Drawing d;
    AddInsert(d, Insert(12));
    AddDef(d, 5);
    AddDef(d, 12);
    AddDef(d, 12, {}, 1);
    d.MakeBlockTree();
    EXPECT_EQ(d.ChangeBlockNo(12), 0u);  // through the first definition numbered 12
    // Defined but not written, or not defined: the number just past the
    // written ones, which no output definition has.
    EXPECT_EQ(d.ChangeBlockNo(5), 2u);
    EXPECT_EQ(d.ChangeBlockNo(6), 2u);
    EXPECT_EQ(d.EntBlockDef[2].ref_no, 1);  // the flagged namesake, written as 1
}

// A definition that inserts itself, or two that insert each other, end the
// expansion where the definition repeats on the path.
TEST(BlockTree, CyclesEndAtTheRepeat) {
    {
        Drawing d;
        AddInsert(d, Insert(1, 5, 5));
        AddDef(d, 1, {Insert(1, 1, 0)});
        d.MakeBlockTree();
        ASSERT_EQ(d.EntBlockTreeN, 2);
        EXPECT_EQ(d.EntBlockTree[1].defno, 0);
        EXPECT_EQ(d.EntBlockTree[1].parent, 0);
        EXPECT_EQ(d.EntBlockTree[1].x, 6);
        EXPECT_TRUE(d.EntBlockDef[0].ref_flag);
    }
    {
        Drawing d;
        AddInsert(d, Insert(1));
        AddInsert(d, Insert(2));
        AddDef(d, 1, {Insert(2)});
        AddDef(d, 2, {Insert(1), Insert(3)});
        AddDef(d, 3);
        d.MakeBlockTree();
        // 1, 2 | 2 under 1, 1 and 3 under 2 | 1 and 3 under 2 under 1, 2 under 1 under 2
        std::vector<std::pair<int, int>> got;  // (defno, parent)
        for (const TEntJwwBlockTree& n : d.EntBlockTree) got.push_back({n.defno, n.parent});
        EXPECT_EQ(got, (std::vector<std::pair<int, int>>{{0, -1}, {1, -1}, {1, 0}, {0, 1}, {2, 1}, {0, 2}, {2, 2}, {1, 3}}));
        EXPECT_EQ(RefNos(d), (std::vector<int>{0, 1, 2}));
        ExpectSameTree(d.EntBlockTree, ReferenceTree(d, DrawingBody::kMaxBlockTreeNodes));
    }
}

// Random definition graphs (cycles, duplicates, missing numbers, flags): the
// tree equals the plain breadth-first expansion and the references equal
// reachability.
TEST(BlockTree, MatchesPlainExpansion) {
    std::mt19937 rng(12345);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto real = [&] { return std::uniform_real_distribution<double>(-10, 10)(rng); };
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        Drawing d;
        const int defs = pick(0, 6);
        auto randomInsert = [&] {
            return Insert(static_cast<std::uint32_t>(pick(0, 5)), real(), real(), real(), real(), real());
        };
        for (int i = 0; i < defs; ++i) {
            std::vector<TEntJwwBlock> inserts;
            for (int k = pick(0, 3); k > 0; --k) inserts.push_back(randomInsert());
            AddDef(d, static_cast<std::uint32_t>(pick(0, 4)), inserts, pick(0, 5) == 0 ? 1 : 0);
        }
        for (int k = pick(0, 4); k > 0; --k) AddInsert(d, randomInsert());
        d.MakeBlockTree();
        ExpectSameTree(d.EntBlockTree, ReferenceTree(d, DrawingBody::kMaxBlockTreeNodes));
        EXPECT_EQ(d.EntBlockTreeN, static_cast<std::int32_t>(d.EntBlockTree.size()));
        const std::vector<bool> used = ReferenceFlags(d);
        int next = 0;
        for (int i = 0; i < defs; ++i) {
            EXPECT_EQ(d.EntBlockDef[i].ref_flag, used[i]) << "definition " << i;
            EXPECT_EQ(d.EntBlockDef[i].ref_no, used[i] ? next++ : -1);
        }
        EXPECT_EQ(d.EntBlockNum, next);
    }
}

// A tree beyond the bound keeps its first kMaxBlockTreeNodes nodes in
// breadth-first order, cut inside a level; a definition used only below the
// cut is still referenced.
TEST(BlockTree, BoundedTree) {
    Drawing d;
    AddInsert(d, Insert(0, 1, 2));
    for (std::uint32_t k = 0; k < 20; ++k) AddDef(d, k, {Insert(k + 1, 1, 0, 0.5, 0.5), Insert(k + 1, 0, 1, 0.5, 0.5, 0.1)});
    AddDef(d, 20, {Insert(21)});
    AddDef(d, 21);  // reached at level 21 only, far beyond the bound
    AddDef(d, 22);  // not reached
    d.MakeBlockTree();
    ASSERT_EQ(d.EntBlockTreeN, DrawingBody::kMaxBlockTreeNodes);
    ASSERT_EQ(d.EntBlockTree.size(), static_cast<std::size_t>(DrawingBody::kMaxBlockTreeNodes));
    // Levels 0..18 hold 2^19 - 1 nodes; level 19 is cut.
    EXPECT_EQ(d.EntBlockTree[(1 << 19) - 2].level, 18);
    EXPECT_EQ(d.EntBlockTree[(1 << 19) - 1].level, 19);
    EXPECT_EQ(d.EntBlockTree.back().level, 19);
    EXPECT_TRUE(d.EntBlockDef[21].ref_flag);
    EXPECT_FALSE(d.EntBlockDef[22].ref_flag);
    EXPECT_EQ(d.EntBlockNum, 22);

    const std::vector<TEntJwwBlockTree> want = ReferenceTree(d, DrawingBody::kMaxBlockTreeNodes);
    ASSERT_EQ(want.size(), d.EntBlockTree.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
        const TEntJwwBlockTree &g = d.EntBlockTree[k], &w = want[k];
        if (g.parent != w.parent || g.defno != w.defno || g.level != w.level || g.x != w.x || g.r2 != w.r2) {
            ADD_FAILURE() << "node " << k << " differs";
            break;
        }
    }
}

// More top-level inserts than the bound: only the first ones get nodes.
TEST(BlockTree, BoundCutsTopLevel) {
    Drawing d;
    for (int j = 0; j < DrawingBody::kMaxBlockTreeNodes + 5; ++j) AddInsert(d, Insert(static_cast<std::uint32_t>(j % 3)));
    AddDef(d, 2, {Insert(0)});
    AddDef(d, 0);
    d.MakeBlockTree();
    EXPECT_EQ(d.EntBlockTreeN, DrawingBody::kMaxBlockTreeNodes);
    EXPECT_EQ(d.EntBlockTree.back().level, 0);
    EXPECT_EQ(RefNos(d), (std::vector<int>{0, 1}));
}

// A long ring of definitions, entered at many places, gives a deep tree; it is
// built without walking each node's path.
TEST(BlockTree, DeepRing) {
    constexpr std::uint32_t kRing = 3000;
    constexpr int kEntries = 200;
    Drawing d;
    for (std::uint32_t k = 0; k < kRing; ++k) AddDef(d, k, {Insert((k + 1) % kRing, 1, 0)});
    for (int j = 0; j < kEntries; ++j) AddInsert(d, Insert(static_cast<std::uint32_t>(j * 13 % kRing)));
    d.MakeBlockTree();
    // Each entry runs once round the ring and stops at its own definition again.
    ASSERT_EQ(d.EntBlockTreeN, kEntries * static_cast<std::int32_t>(kRing + 1));
    EXPECT_EQ(d.EntBlockTree.back().level, static_cast<std::int32_t>(kRing));
    EXPECT_EQ(d.EntBlockTree.back().defno, static_cast<std::int32_t>((kEntries - 1) * 13 % kRing));
    EXPECT_EQ(d.EntBlockTree.back().x, static_cast<double>(kRing));
    EXPECT_EQ(d.EntBlockNum, static_cast<std::int32_t>(kRing));
}

}  // namespace
}  // namespace tervalo
