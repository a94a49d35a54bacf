// Which block definitions a drawing uses, their output numbers, and the block
// tree: one node per placed block, nested placements included, with the
// placement's position and matrix in drawing coordinates.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <unordered_map>
#include <vector>

#include "model/drawing_body.h"

namespace tervalo {

namespace {

std::size_t Clamp(std::int64_t n, std::size_t size) {
    if (n <= 0) return 0;
    return std::min<std::size_t>(static_cast<std::size_t>(n), size);
}

// Index of the first definition with each block number.
class FirstDefinitions {
public:
    FirstDefinitions(const std::vector<TEntJwwBlockDef>& defs, std::size_t n) {
        map_.reserve(n);
        for (std::size_t i = 0; i < n; ++i) map_.try_emplace(defs[i].nNumber, static_cast<std::int32_t>(i));
    }
    std::int32_t operator()(std::uint32_t number) const {
        const auto it = map_.find(number);
        return it == map_.end() ? -1 : it->second;
    }

private:
    std::unordered_map<std::uint32_t, std::int32_t> map_;
};

// The definition each insert refers to (the first one with its number, -1
// when none), for the drawing's inserts and for those of every definition.
struct ResolvedInserts {
    std::vector<std::int32_t> top;
    std::vector<std::size_t> offset;  // definition i's inserts start at nested[offset[i]]
    std::vector<std::int32_t> nested;

    ResolvedInserts(const DrawingBody& b, std::size_t defN) {
        const FirstDefinitions first(b.EntBlockDef, defN);
        const std::size_t topN = Clamp(b.EntBlockN, b.EntBlock.size());
        top.reserve(topN);
        for (std::size_t j = 0; j < topN; ++j) top.push_back(first(b.EntBlock[j].nNumber));
        offset.reserve(defN + 1);
        offset.push_back(0);
        for (std::size_t i = 0; i < defN; ++i) {
            const TEntJwwBlockDef& d = b.EntBlockDef[i];
            const std::size_t n = Clamp(d.mBlockN, d.mBlock.size());
            for (std::size_t l = 0; l < n; ++l) nested.push_back(first(d.mBlock[l].nNumber));
            offset.push_back(nested.size());
        }
    }
    // The referred definitions of the inserts of definition `def` (-1: the drawing).
    std::span<const std::int32_t> Of(std::int32_t def) const {
        if (def < 0) return top;
        const auto i = static_cast<std::size_t>(def);
        return std::span<const std::int32_t>(nested).subspan(offset[i], offset[i + 1] - offset[i]);
    }
};

// The block tree is defined breadth first: the inserts of the drawing, then
// the inserts inside their definitions, and so on, where a node whose
// definition already lies on its path to the top is not expanded again, and
// only the first kMaxBlockTreeNodes nodes are kept.
//
// Within one level, breadth-first order equals depth-first order (both order
// the nodes by their path of insert positions), so the tree is found by
// depth-first walks, which keep the definitions on the current path in a flag
// array and so test for a repeat in constant time. When the whole tree is
// larger than the bound, a binary search over the depth finds the last level
// that is kept (each walk gives up after the bound is passed), and a final
// walk takes the levels above it entirely and that level as far as the bound
// allows.
class TreeBuilder {
public:
    TreeBuilder(const DrawingBody& body, const ResolvedInserts& resolved, std::size_t defN)
        : body_(body), resolved_(resolved), defN_(defN), onPath_(defN, 0) {}

    // A node found by a walk, in depth-first order.
    struct Found {
        const TEntJwwBlock* insert;
        std::int32_t parentDef;  // definition holding the insert, -1 at the top
        std::int32_t parent;     // depth-first index of the parent node, -1 at the top
        std::int32_t level;
        std::int32_t defno;
    };

    std::vector<TEntJwwBlockTree> Build(std::uint64_t cap) {
        const std::int32_t unlimited = std::numeric_limits<std::int32_t>::max();
        std::vector<Found> found;
        const std::uint64_t total = Walk(unlimited, cap, 0, nullptr);
        found.reserve(static_cast<std::size_t>(std::min(total, cap)));
        if (total <= cap) {
            Walk(unlimited, std::numeric_limits<std::uint64_t>::max(), 0, &found);
        } else {
            // The deepest level is at most the number of definitions: the
            // expanded nodes on a path all have different definitions.
            std::int32_t lo = 0;
            std::int32_t hi = static_cast<std::int32_t>(std::min<std::size_t>(defN_, unlimited - 1));
            while (lo < hi) {
                const std::int32_t mid = lo + (hi - lo) / 2;
                if (Walk(mid, cap, 0, nullptr) > cap)
                    hi = mid;
                else
                    lo = mid + 1;
            }
            const std::uint64_t above = lo == 0 ? 0 : Walk(lo - 1, cap, 0, nullptr);
            Walk(lo, std::numeric_limits<std::uint64_t>::max(), cap - above, &found);
        }
        return Arrange(found);
    }

private:
    struct Frame {
        std::int32_t def;        // definition whose inserts are walked, -1 for the drawing
        std::int32_t node;       // depth-first index of the node being expanded, -1 for the drawing
        std::size_t next;        // next insert to visit
        std::int32_t childLevel; // level of the nodes made from these inserts
    };

    const std::vector<TEntJwwBlock>& InsertsOf(std::int32_t def) const {
        return def < 0 ? body_.EntBlock : body_.EntBlockDef[static_cast<std::size_t>(def)].mBlock;
    }

    // Visits the nodes of levels 0 .. maxLevel depth first and returns how
    // many it visited. Without `out` it stops as soon as the count passes
    // `countLimit`; with `out` it records the nodes, at most `lastQuota` of
    // level maxLevel.
    std::uint64_t Walk(std::int32_t maxLevel, std::uint64_t countLimit, std::uint64_t lastQuota,
                       std::vector<Found>* out) {
        std::uint64_t count = 0;
        std::uint64_t lastLevel = 0;
        std::vector<Frame> stack;
        stack.push_back({-1, -1, 0, 0});
        while (!stack.empty()) {
            Frame& f = stack.back();
            const std::span<const std::int32_t> targets = resolved_.Of(f.def);
            const std::size_t n = targets.size();
            const bool quotaFull = out && f.childLevel == maxLevel && lastLevel >= lastQuota;
            if (f.next >= n || quotaFull) {
                if (f.def >= 0) onPath_[static_cast<std::size_t>(f.def)] = 0;
                stack.pop_back();
                continue;
            }
            const std::size_t at = f.next++;
            const std::int32_t level = f.childLevel;
            const std::int32_t parentDef = f.def;
            const std::int32_t parentNode = f.node;
            const std::int32_t defno = targets[at];
            ++count;
            if (!out && count > countLimit) {
                ClearPath(stack);
                return count;
            }
            std::int32_t self = -1;
            if (out) {
                self = static_cast<std::int32_t>(out->size());
                out->push_back({&InsertsOf(parentDef)[at], parentDef, parentNode, level, defno});
                if (level == maxLevel) ++lastLevel;
            }
            if (level < maxLevel && defno >= 0 && !onPath_[static_cast<std::size_t>(defno)]) {
                if (!resolved_.Of(defno).empty()) {
                    onPath_[static_cast<std::size_t>(defno)] = 1;
                    stack.push_back({defno, self, 0, level + 1});
                }
            }
        }
        return count;
    }

    void ClearPath(const std::vector<Frame>& stack) {
        for (const Frame& f : stack)
            if (f.def >= 0) onPath_[static_cast<std::size_t>(f.def)] = 0;
    }

    // Puts the nodes in breadth-first order and fills in names, attributes
    // and the placement of each node.
    std::vector<TEntJwwBlockTree> Arrange(const std::vector<Found>& found) const {
        std::int32_t maxLevel = -1;
        for (const Found& f : found) maxLevel = std::max(maxLevel, f.level);
        std::vector<std::size_t> offset(static_cast<std::size_t>(maxLevel + 1) + 1, 0);
        for (const Found& f : found) ++offset[static_cast<std::size_t>(f.level) + 1];
        for (std::size_t l = 1; l < offset.size(); ++l) offset[l] += offset[l - 1];
        std::vector<std::int32_t> position(found.size());
        for (std::size_t i = 0; i < found.size(); ++i)
            position[i] = static_cast<std::int32_t>(offset[static_cast<std::size_t>(found[i].level)]++);

        std::vector<TEntJwwBlockTree> tree(found.size());
        std::vector<const TEntJwwBlock*> inserts(found.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            const Found& f = found[i];
            TEntJwwBlockTree& node = tree[static_cast<std::size_t>(position[i])];
            inserts[static_cast<std::size_t>(position[i])] = f.insert;
            node.att = f.parentDef < 0 ? f.insert->att : body_.EntBlockDef[static_cast<std::size_t>(f.parentDef)].att;
            node.level = f.level;
            node.parent = f.parent < 0 ? -1 : position[static_cast<std::size_t>(f.parent)];
            node.no = f.insert->nNumber;
            node.defno = f.defno;
            if (f.defno >= 0) node.name = body_.EntBlockDef[static_cast<std::size_t>(f.defno)].strName;  // a view, not a copy
        }
        // Parents come before their children in breadth-first order.
        for (std::size_t k = 0; k < tree.size(); ++k) {
            TEntJwwBlockTree& node = tree[k];
            const TEntJwwBlock& b = *inserts[k];
            const double c = std::cos(b.radKaitenKaku);
            const double s = std::sin(b.radKaitenKaku);
            const double l11 = c * b.dBairitsuX;
            const double l12 = -s * b.dBairitsuY;
            const double l21 = s * b.dBairitsuX;
            const double l22 = c * b.dBairitsuY;
            if (node.parent < 0) {
                node.x = b.DPKijunTen_x;
                node.y = b.DPKijunTen_y;
                node.r1 = l11;
                node.r2 = l12;
                node.r3 = l21;
                node.r4 = l22;
            } else {
                const TEntJwwBlockTree& p = tree[static_cast<std::size_t>(node.parent)];
                const double gx = b.DPKijunTen_x;
                const double gy = b.DPKijunTen_y;
                node.x = p.x + p.r1 * gx + p.r2 * gy;
                node.y = p.y + p.r3 * gx + p.r4 * gy;
                node.r1 = p.r1 * l11 + p.r2 * l21;
                node.r2 = p.r1 * l12 + p.r2 * l22;
                node.r3 = p.r3 * l11 + p.r4 * l21;
                node.r4 = p.r3 * l12 + p.r4 * l22;
            }
        }
        return tree;
    }

    const DrawingBody& body_;
    const ResolvedInserts& resolved_;
    std::size_t defN_;
    std::vector<char> onPath_;
};

}  // namespace

void DrawingBody::MarkBlockReferences() {
    EntBlockTree.clear();
    EntBlockTreeN = 0;
    const std::size_t defN = Clamp(EntBlockDefN, EntBlockDef.size());
    for (std::size_t i = 0; i < defN; ++i) {
        EntBlockDef[i].ref_flag = false;
        EntBlockDef[i].ref_no = -1;
    }
    const ResolvedInserts resolved(*this, defN);

    // Referenced definitions: those reached from the drawing's inserts, those
    // Jw_cad flags as used (bRefferd), and those reached from the inserts of
    // either. Only the first definition with a number is reached through an
    // insert; a later one with the same number is kept only by its own flag.
    std::vector<std::int32_t> queue;
    auto mark = [&](std::int32_t d) {
        if (d < 0 || EntBlockDef[static_cast<std::size_t>(d)].ref_flag) return;
        EntBlockDef[static_cast<std::size_t>(d)].ref_flag = true;
        queue.push_back(d);
    };
    for (std::int32_t d : resolved.Of(-1)) mark(d);
    for (std::size_t i = 0; i < defN; ++i)
        if (EntBlockDef[i].bRefferd != 0) mark(static_cast<std::int32_t>(i));
    for (std::size_t q = 0; q < queue.size(); ++q)
        for (std::int32_t d : resolved.Of(queue[q])) mark(d);

    // Output numbers 0, 1, 2, ... in definition order. Each written
    // definition carries its own number, so definitions that share a number
    // in the source never share one in the output.
    std::int32_t number = 0;
    for (std::size_t i = 0; i < defN; ++i)
        if (EntBlockDef[i].ref_flag) EntBlockDef[i].ref_no = number++;
    EntBlockNum = number;
}

void DrawingBody::MakeBlockTree() {
    MarkBlockReferences();
    const std::size_t defN = Clamp(EntBlockDefN, EntBlockDef.size());
    if (Clamp(EntBlockN, EntBlock.size()) == 0) return;
    const ResolvedInserts resolved(*this, defN);
    TreeBuilder builder(*this, resolved, defN);
    EntBlockTree = builder.Build(static_cast<std::uint64_t>(kMaxBlockTreeNodes));
    EntBlockTreeN = static_cast<std::int32_t>(EntBlockTree.size());
}

std::uint32_t DrawingBody::ChangeBlockNo(std::uint32_t n) const {
    const std::size_t defN = Clamp(EntBlockDefN, EntBlockDef.size());
    for (std::size_t i = 0; i < defN; ++i) {
        const TEntJwwBlockDef& d = EntBlockDef[i];
        if (d.nNumber != n) continue;
        if (d.ref_flag) return static_cast<std::uint32_t>(d.ref_no);
        break;
    }
    // No written definition answers to n: the number just past the written
    // ones, which no output definition has, so the insert stays unresolved.
    return static_cast<std::uint32_t>(std::max(EntBlockNum, 0));
}

}  // namespace tervalo
