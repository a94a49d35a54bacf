// The pieces a record is described with once for both directions. A
// description is a function template over its cursor,
//
//     template <class IO> void Transfer(IO& io, Rec<IO, TEntJwwLine>& l) {
//         io.Record(l.att, kKindLine, l.start_x, l.start_y, l.end_x, l.end_y);
//     }
//
// run over a reading cursor (the record is filled) or a writing cursor (the
// record is stored). A call of Fields (or Record: the attribute and the
// fields after it) is one run of fixed-size fields: its size is the sum of
// the sizes of the fields named, known when compiling, so the reading cursor
// checks the bytes left and the writing cursor asks for room once per run,
// and neither can disagree with what it then decodes or stores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "model/records.h"

// For the descriptions of small records, which run once per entity of a
// drawing: inlined into the list loops, their stores and loads fold into
// straight code.
#if defined(_MSC_VER) && !defined(__clang__)
#define TERVALO_INLINE __forceinline
#else
#define TERVALO_INLINE [[gnu::always_inline]] inline
#endif

namespace tervalo {

// The record as a cursor sees it: to be filled when reading, read-only when writing.
template <typename IO, typename T>
using Rec = std::conditional_t<IO::kWriting, const T, T>;

struct AsIs {
    template <typename V>
    V operator()(V v) const {
        return v;
    }
};

// A field whose value is mended on the way in (`in`) or out (`out`); the
// record itself keeps what it holds.
template <typename T, typename In, typename Out>
struct Adjusted {
    T& field;
    In in;
    Out out;
};

template <typename T, typename In, typename Out>
Adjusted<T, In, Out> Adjust(T& field, In in, Out out) {
    return {field, in, out};
}
template <typename T, typename In>
Adjusted<T, In, AsIs> OnRead(T& field, In in) {
    return {field, in, {}};
}
template <typename T, typename Out>
Adjusted<T, AsIs, Out> OnWrite(T& field, Out out) {
    return {field, {}, out};
}

namespace fields {

template <typename T>
struct IsAdjusted : std::false_type {};
template <typename T, typename In, typename Out>
struct IsAdjusted<Adjusted<T, In, Out>> : std::true_type {};

// The stored type of a field: a number, or the number a mended field holds.
template <typename F, bool = IsAdjusted<F>::value>
struct Stored {
    using type = F;
};
template <typename F>
struct Stored<F, true> {
    using type = std::remove_const_t<std::remove_reference_t<decltype(std::declval<F>().field)>>;
};
template <typename F>
using StoredType = typename Stored<std::remove_cvref_t<F>>::type;

// The size of a run of fields, known when compiling.
template <typename... F>
inline constexpr std::size_t kRunSize = (sizeof(StoredType<F>) + ...);

template <typename F>
TERVALO_INLINE void Decode(const std::uint8_t*& p, F&& f) {
    using V = StoredType<F>;
    static_assert(std::is_arithmetic_v<V>, "a field is a number");
    if constexpr (IsAdjusted<std::remove_cvref_t<F>>::value)
        f.field = f.in(Load<V>(p));
    else
        f = Load<V>(p);
    p += sizeof(V);
}

template <typename F>
TERVALO_INLINE void Encode(std::uint8_t*& p, const F& f) {
    using V = StoredType<F>;
    static_assert(std::is_arithmetic_v<V>, "a field is a number");
    if constexpr (IsAdjusted<F>::value)
        p = Store(p, static_cast<V>(f.out(f.field)));
    else
        p = Store(p, static_cast<V>(f));
}

}  // namespace fields

// Reads one run of fields from `r` in one bounds check.
template <typename... F>
TERVALO_INLINE void ReadFields(ByteReader& r, F&&... f) {
    const std::uint8_t* p = r.take(fields::kRunSize<F...>, "record");
    (fields::Decode(p, f), ...);
}

// Stores one run of fields in `w` in one request for room.
template <typename... F>
TERVALO_INLINE void WriteFields(ByteWriter& w, const F&... f) {
    std::uint8_t* p = w.room(fields::kRunSize<F...>);
    (fields::Encode(p, f), ...);
    w.commit(p);
}

// The entity attribute and the fields after it, as one run: 15 bytes of
// attribute, or 13 without the pen width before version 351.
template <typename A, typename... F>
TERVALO_INLINE void ReadAttrFields(ByteReader& r, bool wide, A& a, F&&... f) {
    if (wide)
        ReadFields(r, a.lGroup, a.nPenStyle, a.nPenColor, a.nPenWidth, a.nLayer, a.nGLayer, a.sFlg, f...);
    else
        ReadFields(r, a.lGroup, a.nPenStyle, a.nPenColor, a.nLayer, a.nGLayer, a.sFlg, f...);
}

template <typename A, typename... F>
TERVALO_INLINE void WriteAttrFields(ByteWriter& w, bool wide, const A& a, const F&... f) {
    if (wide)
        WriteFields(w, a.lGroup, a.nPenStyle, a.nPenColor, a.nPenWidth, a.nLayer, a.nGLayer, a.sFlg, f...);
    else
        WriteFields(w, a.lGroup, a.nPenStyle, a.nPenColor, a.nLayer, a.nGLayer, a.sFlg, f...);
}

}  // namespace tervalo
