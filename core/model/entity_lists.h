// One view of the seven entity lists of an order list: the drawing's own
// (DrawingBody's EntLine .. EntBlock) or a block definition's (mLine ..
// mBlock), each list with its count, so code that walks entities is written
// once for both.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <tuple>
#include <type_traits>
#include <vector>

#include "model/drawing_body.h"
#include "model/records.h"

namespace tervalo {

// The entity records in the order of their kind codes 1 to 7.
using EntityRecordTypes =
    std::tuple<TEntJwwLine, TEntJwwEnko, TEntJwwTen, TEntJwwMoji, TEntJwwSunpo, TEntJwwSolid, TEntJwwBlock>;

template <typename T, std::size_t I = 0>
constexpr std::int32_t KindCodeOf() {
    if constexpr (I == std::tuple_size_v<EntityRecordTypes>)
        return 0;
    else if constexpr (std::is_same_v<T, std::tuple_element_t<I, EntityRecordTypes>>)
        return static_cast<std::int32_t>(I + 1);
    else
        return KindCodeOf<T, I + 1>();
}

// The kind code of each entity record.
template <typename T>
inline constexpr std::int32_t kKindOf = KindCodeOf<T>();
static_assert(kKindOf<TEntJwwLine> == kKindLine && kKindOf<TEntJwwSunpo> == kKindSunpo &&
              kKindOf<TEntJwwBlock> == kKindBlock);

// One list of records with its count. The records in use are those below
// both the count and the list's size (a model filled by hand may disagree).
// The view changes the list only where it is not `Const`.
template <typename T, bool Const>
struct CountedList {
    using Record = T;
    static constexpr std::int32_t kKind = kKindOf<T>;

    std::conditional_t<Const, const std::vector<T>, std::vector<T>>& items;
    std::conditional_t<Const, const std::int32_t, std::int32_t>& count;

    std::size_t used() const { return count <= 0 ? 0 : std::min(items.size(), static_cast<std::size_t>(count)); }
    std::span<const T> Used() const { return {items.data(), used()}; }
    // Whether an order entry's index names a record in use.
    bool Has(std::int32_t index) const {
        return index >= 0 && index < count && static_cast<std::size_t>(index) < items.size();
    }

    void Clear() const requires(!Const) {
        items.clear();
        count = 0;
    }
    // Appends a record; the count follows the list.
    void Append(T&& record) const requires(!Const) {
        items.push_back(std::move(record));
        count = static_cast<std::int32_t>(items.size());
    }
};

template <bool Const>
struct EntityListsOf {
    template <typename T>
    using List = CountedList<T, Const>;

    // The order list (its count is the caller's: n1 of the header, or N of a definition).
    std::conditional_t<Const, const std::vector<TEntJwwNo>, std::vector<TEntJwwNo>>& no;
    List<TEntJwwLine> line;
    List<TEntJwwEnko> enko;
    List<TEntJwwTen> ten;
    List<TEntJwwMoji> moji;
    List<TEntJwwSunpo> sunpo;
    List<TEntJwwSolid> solid;
    List<TEntJwwBlock> block;

    // Calls f(list) for each of the seven lists, in the order of their kinds.
    template <typename F>
    void ForEach(F&& f) const {
        f(line);
        f(enko);
        f(ten);
        f(moji);
        f(sunpo);
        f(solid);
        f(block);
    }

    // Calls f(list) with the list of kind code `kind`; false, without a
    // call, for a code of no list.
    template <typename F>
    bool With(std::int32_t kind, F&& f) const {
        switch (kind) {
            case kKindLine: f(line); return true;
            case kKindEnko: f(enko); return true;
            case kKindTen: f(ten); return true;
            case kKindMoji: f(moji); return true;
            case kKindSunpo: f(sunpo); return true;
            case kKindSolid: f(solid); return true;
            case kKindBlock: f(block); return true;
            default: return false;
        }
    }

    // The list of records of type T.
    template <typename T>
    const List<T>& Of() const {
        if constexpr (std::is_same_v<T, TEntJwwLine>) return line;
        else if constexpr (std::is_same_v<T, TEntJwwEnko>) return enko;
        else if constexpr (std::is_same_v<T, TEntJwwTen>) return ten;
        else if constexpr (std::is_same_v<T, TEntJwwMoji>) return moji;
        else if constexpr (std::is_same_v<T, TEntJwwSunpo>) return sunpo;
        else if constexpr (std::is_same_v<T, TEntJwwSolid>) return solid;
        else return block;
    }

    // Whether an order entry names a record in use.
    bool Live(const TEntJwwNo& e) const {
        bool live = false;
        With(e.EntType, [&](const auto& list) { live = list.Has(e.EntNo); });
        return live;
    }

    // The first `n` entries of the order list (fewer when it holds fewer).
    std::span<const TEntJwwNo> Order(std::int64_t n) const {
        return {no.data(), n <= 0 ? 0 : std::min(no.size(), static_cast<std::size_t>(n))};
    }
};

using EntityLists = EntityListsOf<false>;
using ConstEntityLists = EntityListsOf<true>;

// The drawing's own lists (of a JWW drawing or JWS figure), or a block
// definition's; a const source gives a const view.
template <typename Body>
    requires std::is_base_of_v<DrawingBody, std::remove_const_t<Body>>
EntityListsOf<std::is_const_v<Body>> ListsOf(Body& b) {
    return {b.EntNo,           {b.EntLine, b.EntLineN},   {b.EntEnko, b.EntEnkoN},   {b.EntTen, b.EntTenN},
            {b.EntMoji, b.EntMojiN}, {b.EntSunpo, b.EntSunpoN}, {b.EntSolid, b.EntSolidN}, {b.EntBlock, b.EntBlockN}};
}

template <typename Def>
    requires std::is_same_v<std::remove_const_t<Def>, TEntJwwBlockDef>
EntityListsOf<std::is_const_v<Def>> ListsOf(Def& d) {
    return {d.mNo,           {d.mLine, d.mLineN},   {d.mEnko, d.mEnkoN},   {d.mTen, d.mTenN},
            {d.mMoji, d.mMojiN}, {d.mSunpo, d.mSunpoN}, {d.mSolid, d.mSolidN}, {d.mBlock, d.mBlockN}};
}

}  // namespace tervalo
