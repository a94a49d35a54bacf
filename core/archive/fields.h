// The pieces a record is described with once for both directions. A
// description is a function template over its cursor,
//
//     template <class IO> void Transfer(IO& io, Rec<IO, TEntJwwLine>& l) {
//         io.Fields(io.Attr(l.att, kKindLine), l.start_x, l.start_y, l.end_x, l.end_y);
//     }
//
// run over a reading cursor (the record is filled) or a writing cursor (the
// record is stored). A call of Fields is one run of fixed-size fields: its
// size is the sum of the sizes of the fields named, so the reading cursor
// checks the bytes left and the writing cursor asks for room once per run,
// and neither can disagree with what it then decodes or stores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "model/records.h"

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

// The entity attribute: 15 bytes, or 13 without the pen width before
// version 351. `A` is a reference to the record's attribute when reading and
// a copy (mapped for the target version) when writing.
template <typename A>
struct AttrFields {
    A a;
    bool wide;
    template <typename F>
    void Each(F&& f) const {
        f(a.lGroup);
        f(a.nPenStyle);
        f(a.nPenColor);
        if (wide) f(a.nPenWidth);
        f(a.nLayer);
        f(a.nGLayer);
        f(a.sFlg);
    }
};

namespace fields {

template <typename T>
struct IsAdjusted : std::false_type {};
template <typename T, typename In, typename Out>
struct IsAdjusted<Adjusted<T, In, Out>> : std::true_type {};

// The stored size of a field: a number, a mended number or a group of fields.
template <typename F>
std::size_t SizeOf(const F& f) {
    using T = std::remove_cvref_t<F>;
    if constexpr (std::is_arithmetic_v<T>) {
        return sizeof(T);
    } else if constexpr (IsAdjusted<T>::value) {
        return sizeof(std::remove_cvref_t<decltype(f.field)>);
    } else {
        std::size_t n = 0;
        f.Each([&n](const auto& x) { n += SizeOf(x); });
        return n;
    }
}

template <typename F>
void Decode(const std::uint8_t*& p, F&& f) {
    using T = std::remove_cvref_t<F>;
    if constexpr (std::is_arithmetic_v<T>) {
        f = Load<T>(p);
        p += sizeof(T);
    } else if constexpr (IsAdjusted<T>::value) {
        using V = std::remove_cvref_t<decltype(f.field)>;
        f.field = f.in(Load<V>(p));
        p += sizeof(V);
    } else {
        f.Each([&p](auto& x) { Decode(p, x); });
    }
}

template <typename F>
void Encode(std::uint8_t*& p, const F& f) {
    using T = std::remove_cvref_t<F>;
    if constexpr (std::is_arithmetic_v<T>) {
        p = Store(p, f);
    } else if constexpr (IsAdjusted<T>::value) {
        using V = std::remove_cvref_t<decltype(f.field)>;
        p = Store(p, static_cast<V>(f.out(f.field)));
    } else {
        f.Each([&p](const auto& x) { Encode(p, x); });
    }
}

}  // namespace fields

// Reads one run of fields from `r` in one bounds check.
template <typename... F>
void ReadFields(ByteReader& r, F&&... f) {
    const std::size_t n = (fields::SizeOf(f) + ...);
    const std::uint8_t* p = r.take(n, "record");
    (fields::Decode(p, f), ...);
}

// Stores one run of fields in `w` in one request for room.
template <typename... F>
void WriteFields(ByteWriter& w, const F&... f) {
    const std::size_t n = (fields::SizeOf(f) + ...);
    std::uint8_t* p = w.room(n);
    (fields::Encode(p, f), ...);
    w.commit(p);
}

}  // namespace tervalo
