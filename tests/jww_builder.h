// Hand-built JWW drawings for the tests: the header and tables of any
// version, byte by byte in file order, and whole drawings around a body.
// Header-only, so any test file can include it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace tervalo::test {

// The header and tables of a JWW drawing (signature through the last text
// setting). Every number has a recognisable value that the writer keeps as it
// is (widths and colours in range, pen 0 printing white, positive text sizes,
// a print value that survives the split and merge), so a header read and
// written back in its own version gives the same bytes: below version 420
// always, from 420 on when `extendedNames` is set, because the writer gives
// blank user colours and line types a name. With the defaults every string is
// empty (one 00 byte) and the section is JwwHeaderSize(version) bytes long.
struct JwwHeaderBuilder {
    explicit JwwHeaderBuilder(std::int32_t ver) : version(ver), printValue(ver >= 600 ? 31 : 1) {}

    std::int32_t version;
    Bytes memo{0x00};  // the memo as a raw archive string
    std::int32_t nMaxDrawWid = 0;
    std::int32_t printValue;  // the value shared by nPrtDpi and nPrtDispOnlyNonDraw
    double mojiX0 = 3.0, mojiY0 = 3.0, mojiD0 = 0.5;  // text type 0
    double mojiSizeX = 2.5, mojiSizeY = 3.5, mojiKankaku = 0.25;
    bool extendedNames = false;  // name user colours "Color_n" and line types "LType_n"
    Bytes layerName0{0x00};      // layer 0's name as a raw archive string

    Bytes build() const { return buildWithOffsets(nullptr); }
    // Offset of the print value in build(), for tests that look at the bytes.
    std::size_t printValueOffset() const {
        std::size_t at = 0;
        buildWithOffsets(&at);
        return at;
    }

private:
    Bytes buildWithOffsets(std::size_t* printAt) const {
        const std::int32_t V = version;
        ByteBuilder b;
        b.ascii("JwwData.").i32(V).bytes(memo);
        b.i32(3).i32(5);  // nZumen, nWriteGLay
        for (int g = 0; g < 16; ++g) {
            b.i32(2).i32(g).f64(1.0 + g).i32(0);
            for (int l = 0; l < 16; ++l) b.i32(2).i32(l == 3 ? 1 : 0);
        }
        b.fill(56, 0x20);
        for (int i = 0; i < 5; ++i) b.i32(11 + i);  // lnSunpou1..5
        b.fill(4, 0x00);
        b.i32(nMaxDrawWid);
        b.f64(1.25).f64(-2.5).f64(1.0);                     // print origin, print scale
        b.i32(1).i32(2);                                    // nPrtSet, nMemoriMode
        b.f64(1.5).f64(10).f64(20).f64(0.5).f64(0.75);      // grid
        b.bytes(layerName0);
        for (int i = 1; i < 256; ++i) b.u8(0);              // layer names
        for (int i = 0; i < 16; ++i) b.u8(0);               // group names
        b.f64(0.5).f64(35.0).i32(1).f64(1.5);               // shadows
        if (V >= 300) b.f64(2.5).f64(100.0);                // sky view
        b.i32(1);                                           // nMMTani3D
        b.f64(1.0).f64(3).f64(4).f64(2.0).f64(5).f64(6);    // display and range
        if (V >= 231) {
            for (int i = 0; i < 8; ++i) b.f64(1.5 + i).f64(10.0 * i).f64(-10.0 * i).i32(i);
            b.f64(0.125).f64(0.25).f64(0.375).i32(7).f64(0.5).f64(0.625).f64(1.0).i32(2);
        } else {
            for (int i = 0; i < 4; ++i) b.f64(1.5 + i).f64(10.0 * i).f64(-10.0 * i);
        }
        for (int k = 0; k < 10; ++k) b.f64(1.5 * k);        // parallel line distances
        b.f64(0.75);
        for (int i = 0; i < 10; ++i) b.i32(0x010203 * i).i32(1 + i);
        for (int i = 0; i < 10; ++i) b.i32(i == 0 ? 0xFFFFFF : 0x111111 * i).i32(10 + i).f64(0.2 + 0.1 * i);
        for (int i = 0; i < 8; ++i) b.i32(0x0F0F0F0F + i).i32(4).i32(8 + i).i32(16 + i);
        for (int i = 0; i < 5; ++i) b.u32(0xFF00FF00u + i).i32(10 + i).i32(20 + i).i32(30 + i).i32(40 + i);
        for (int i = 0; i < 4; ++i) b.i32(0x33333333 + i).i32(2).i32(3).i32(4);
        for (int i = 0; i < 10; ++i) b.i32(i % 2);          // item 29 switches
        if (printAt) *printAt = b.size();
        b.i32(printValue);
        if (V >= 223) {
            b.i32(3600).i32(1).i32(10).i32(20).i32(30);
            b.f64(1.5).f64(2.5).f64(3.5).f64(4.5).f64(5.5);
        }
        if (V >= 225) b.f64(7.0).f64(8.0).f64(9.0).f64(10.0);
        if (V >= 230) b.i32(1).i32(0x123456);
        if (V >= 420) {
            for (int i = 0; i < 257; ++i) b.i32(0x100 * i).i32(1 + i % 16);
            for (int i = 0; i < 257; ++i) {
                if (extendedNames)
                    b.str("Color_" + std::to_string(i));
                else
                    b.u8(0);
                b.i32(i >= 17 ? 0x100 * i : 0x00FF00 + i).i32(5).f64(0.5);
            }
            for (int i = 0; i < 33; ++i) b.i32(0x55555555 + i).i32(4).i32(6).i32(8);
            for (int i = 0; i < 33; ++i) {
                if (extendedNames)
                    b.str("LType_" + std::to_string(i));
                else
                    b.u8(0);
                b.i32(i >= 17 ? 4 : i % 3);
                for (int k = 0; k < 10; ++k) b.f64(0.5 * k + i);
            }
        }
        for (int i = 0; i < 10; ++i) {
            if (i == 0)
                b.f64(mojiX0).f64(mojiY0).f64(mojiD0);
            else
                b.f64(2.0 + i).f64(2.5 + i).f64(0.125 * i);
            b.i32(1 + i % 9);
        }
        b.f64(mojiSizeX).f64(mojiSizeY).f64(mojiKankaku);
        b.i32(2).i32(3);                      // nMojiColor, nMojiShu
        b.f64(1.5).f64(4.0);                  // text arrangement
        b.i32(1);                             // nMojiKijunZureOn
        for (int i = 0; i < 6; ++i) b.f64(0.5 + i);  // base offsets X0..X2, Y0..Y2
        return b.data();
    }
};

// Size of the section with every string empty.
inline std::size_t JwwHeaderSize(std::int32_t v) {
    if (v >= 420) return 14095;
    if (v >= 300) return 4337;
    if (v >= 231) return 4321;
    if (v >= 230) return 4137;
    if (v >= 225) return 4129;
    if (v >= 223) return 4097;
    return 4037;
}

// The header of the given version with every string empty.
inline Bytes BuildJwwHeader(std::int32_t version) { return JwwHeaderBuilder(version).build(); }

// A header of the given version that the writer reproduces byte for byte
// (from version 420 on its user colours and line types carry their default
// names Color_n and LType_n), for tests that compare a written drawing with
// its source.
inline Bytes BuildRoundTripJwwHeader(std::int32_t version) {
    JwwHeaderBuilder b(version);
    b.extendedNames = true;
    return b.build();
}

// An empty body: entity count 0 and block definition count 0.
inline Bytes EmptyJwwBody() { return Bytes{0x00, 0x00, 0x00, 0x00}; }

// A whole drawing from its header bytes: header, body and, from version 700
// on, the image section (`images` as given, or the image count 0 when empty).
inline Bytes BuildJwwFrom(const Bytes& header, std::int32_t version, const Bytes& body = EmptyJwwBody(),
                          const Bytes& images = {}) {
    ByteBuilder b;
    b.bytes(header).bytes(body);
    if (version >= 700) {
        if (images.empty())
            b.u32(0);
        else
            b.bytes(images);
    }
    return b.data();
}

// A whole drawing of the given version with an all-empty-strings header.
inline Bytes BuildJww(std::int32_t version, const Bytes& body = EmptyJwwBody(), const Bytes& images = {}) {
    return BuildJwwFrom(BuildJwwHeader(version), version, body, images);
}

// --- Records of the body -------------------------------------------------

// The new-class tag: FF FF, the schema word (the version), name length, name.
inline void NewClassTag(ByteBuilder& b, std::int32_t version, const std::string& className) {
    b.u16(0xFFFF).u16(static_cast<std::uint16_t>(version)).u16(static_cast<std::uint16_t>(className.size()));
    b.ascii(className);
}

// A class-reference tag for class index `index` (below 0x7FFF).
inline void ClassRef(ByteBuilder& b, std::uint16_t index) { b.u16(static_cast<std::uint16_t>(0x8000 + index)); }

// An attribute: 15 bytes, or 13 without the pen width below version 351.
inline void Attr(ByteBuilder& b, std::int32_t version, std::uint8_t style, std::uint16_t color,
                 std::uint16_t layer = 0, std::uint16_t group = 0) {
    b.u32(0).u8(style).u16(color);
    if (version >= 351) b.u16(0);
    b.u16(layer).u16(group).u16(0);
}

// A line record after its tag.
inline void LineRecord(ByteBuilder& b, std::int32_t version, double x1, double y1, double x2, double y2) {
    Attr(b, version, 1, 1);
    b.f64(x1).f64(y1).f64(x2).f64(y2);
}

// A plain point record after its tag (no marker fields).
inline void PointRecord(ByteBuilder& b, std::int32_t version, double x, double y, bool temporary) {
    Attr(b, version, 1, 1);
    b.f64(x).f64(y).u32(temporary ? 1 : 0);
}

// A text record after its tag: the fixed part, the font name and the text
// (ASCII, short form).
inline void TextRecord(ByteBuilder& b, std::int32_t version, const std::string& text) {
    Attr(b, version, 1, 1);
    b.f64(1).f64(2).f64(3).f64(4).u32(0).f64(2.5).f64(2.5).f64(0).f64(0);
    b.str("Font").str(text);
}

// A block insert record after its tag.
inline void BlockRecord(ByteBuilder& b, std::int32_t version, double x, double y, std::uint32_t number) {
    Attr(b, version, 1, 1);
    b.f64(x).f64(y).f64(1).f64(1).f64(0).u32(number);
}

// The fixed part of a block definition after its tag, with its name; the
// entity count word and the entities follow.
inline void BlockDefHeader(ByteBuilder& b, std::int32_t version, std::uint32_t number, const std::string& name) {
    Attr(b, version, 1, 1);
    b.u32(number).u32(1).u32(0);  // nNumber, bRefferd, dtime
    b.str(name);
}

// One image entry of the image section (short ANSI name).
inline void ImageEntry(ByteBuilder& b, const std::string& name, const Bytes& data) {
    b.str(name).u32(static_cast<std::uint32_t>(data.size())).bytes(data);
}

// A body (entity list and block definitions) built entity by entity, with the
// archive's class tags and object numbering worked out: the first object of a
// class carries its new-class tag, later ones refer to it. Entities go to the
// main list, or to the block definition last started with def().
class JwwBodyBuilder {
public:
    explicit JwwBodyBuilder(std::int32_t version) : version_(version) {}

    JwwBodyBuilder& line(double x1, double y1, double x2, double y2) {
        return add("CDataSen", [=](ByteBuilder& b, std::int32_t v) { LineRecord(b, v, x1, y1, x2, y2); });
    }
    JwwBodyBuilder& point(double x, double y, bool temporary = false) {
        return add("CDataTen", [=](ByteBuilder& b, std::int32_t v) { PointRecord(b, v, x, y, temporary); });
    }
    JwwBodyBuilder& text(const std::string& s) {
        return add("CDataMoji", [=](ByteBuilder& b, std::int32_t v) { TextRecord(b, v, s); });
    }
    JwwBodyBuilder& block(double x, double y, std::uint32_t number) {
        return add("CDataBlock", [=](ByteBuilder& b, std::int32_t v) { BlockRecord(b, v, x, y, number); });
    }
    // Starts a block definition; the entities added next belong to it.
    JwwBodyBuilder& def(std::uint32_t number, const std::string& name) {
        defs_.push_back(Def{number, name, {}});
        return *this;
    }

    Bytes build() const {
        ByteBuilder b;
        std::uint32_t obj = 1;
        std::map<std::string, std::uint32_t> classes;
        auto tag = [&](const std::string& cls) {
            auto it = classes.find(cls);
            if (it != classes.end()) {
                ClassRef(b, static_cast<std::uint16_t>(it->second));
            } else {
                NewClassTag(b, version_, cls);
                classes[cls] = obj++;
            }
        };
        auto emit = [&](const Ent& e) {
            tag(e.cls);
            e.rec(b, version_);
            ++obj;
        };
        b.u16(static_cast<std::uint16_t>(main_.size()));
        for (const Ent& e : main_) emit(e);
        b.u16(static_cast<std::uint16_t>(defs_.size()));
        for (const Def& d : defs_) {
            tag("CDataList");
            BlockDefHeader(b, version_, d.number, d.name);
            b.u16(static_cast<std::uint16_t>(d.ents.size()));
            ++obj;
            for (const Ent& e : d.ents) emit(e);
        }
        return b.data();
    }

private:
    struct Ent {
        std::string cls;
        std::function<void(ByteBuilder&, std::int32_t)> rec;
    };
    struct Def {
        std::uint32_t number;
        std::string name;
        std::vector<Ent> ents;
    };
    JwwBodyBuilder& add(const std::string& cls, std::function<void(ByteBuilder&, std::int32_t)> rec) {
        (defs_.empty() ? main_ : defs_.back().ents).push_back(Ent{cls, std::move(rec)});
        return *this;
    }
    std::int32_t version_;
    std::vector<Ent> main_;
    std::vector<Def> defs_;
};

// An image section: the count and the entries.
class JwwImageSectionBuilder {
public:
    // An entry with its data (none are stored when the name is empty or the data are).
    JwwImageSectionBuilder& entry(const std::string& name, const Bytes& data) {
        ++count_;
        ImageEntry(b_, name, data);
        return *this;
    }
    // An entry that announces `size` bytes but stores none (an empty name).
    JwwImageSectionBuilder& emptyNameEntry(std::uint32_t size) {
        ++count_;
        b_.u8(0).u32(size);
        return *this;
    }
    Bytes build() const { return ByteBuilder().u32(count_).bytes(b_.data()).data(); }

private:
    std::uint32_t count_ = 0;
    ByteBuilder b_;
};

}  // namespace tervalo::test
