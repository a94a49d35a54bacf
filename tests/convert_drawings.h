// Hand-built drawings for the conversion tests: a body builder that keeps the
// archive's object index and class numbers, so a test lists only the points,
// dimensions and block definitions it needs, and whole JWS figures and JWW
// drawings around such a body.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "jww_builder.h"
#include "test_support.h"

namespace tervalo::test {

// A point as stored: plain points carry no marker fields; a point with pen
// style 100 (a point marker) carries code, rotation and scale.
struct PointSpec {
    double x = 0, y = 0;
    bool temporary = false;
    std::uint8_t style = 1;
    std::int32_t code = 0;
    double rotation = 0;
    double scale = 1;
};

inline PointSpec Temp(double x, double y) { return {x, y, true}; }
inline PointSpec Real(double x, double y) { return {x, y, false}; }
inline PointSpec Marker(double x, double y, std::int32_t code, double scale = 2.0, double rotation = 0.5) {
    return {x, y, false, 100, code, rotation, scale};
}

struct DimensionSpec {
    PointSpec te1, te2, kt1, kt2;
    std::uint16_t sxfMode = 1;
};

struct InsertSpec {
    double x = 0, y = 0;
    std::uint32_t number = 0;
};

struct LineSpec {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct TextSpec {
    std::string text;     // ASCII
    bool unicode = false; // stored in the Unicode string form
};

using EntitySpec = std::variant<PointSpec, DimensionSpec, InsertSpec, LineSpec, TextSpec>;

struct BlockDefSpec {
    std::uint32_t number = 0;
    std::string name;
    std::vector<EntitySpec> entities;
    std::uint32_t refferd = 0;  // the stored "used" flag
};

// Builds the entity list and the block definition section of one version.
class BodyBuilder {
public:
    explicit BodyBuilder(std::int32_t version) : version_(version) {}

    BodyBuilder& Add(EntitySpec e) { entities_.push_back(std::move(e)); return *this; }
    BodyBuilder& Def(BlockDefSpec d) { defs_.push_back(std::move(d)); return *this; }

    Bytes Build() {
        ByteBuilder b;
        objectIndex_ = 1;
        slots_.clear();
        b.u16(static_cast<std::uint16_t>(entities_.size()));
        for (const EntitySpec& e : entities_) Entity(b, e);
        b.u16(static_cast<std::uint16_t>(defs_.size()));
        for (const BlockDefSpec& d : defs_) {
            Tag(b, "CDataList");
            Attr(b, version_, 1, 1);
            b.u32(d.number).u32(d.refferd).u32(0);  // nNumber, bRefferd, dtime
            b.str(d.name);
            b.u16(static_cast<std::uint16_t>(d.entities.size()));
            ++objectIndex_;
            for (const EntitySpec& e : d.entities) Entity(b, e);
        }
        return b.data();
    }

private:
    void Tag(ByteBuilder& b, const std::string& cls) {
        std::uint32_t& slot = slots_[cls];
        if (slot == 0) {
            NewClassTag(b, version_, cls);
            slot = objectIndex_++;
        } else {
            ClassRef(b, static_cast<std::uint16_t>(slot));
        }
    }

    void PointBody(ByteBuilder& b, const PointSpec& p) {
        Attr(b, version_, p.style, 1);
        b.f64(p.x).f64(p.y).u32(p.temporary ? 1 : 0);
        if (p.style == 100) b.u32(static_cast<std::uint32_t>(p.code)).f64(p.rotation).f64(p.scale);
    }

    void Entity(ByteBuilder& b, const EntitySpec& e) {
        if (auto* p = std::get_if<PointSpec>(&e)) {
            Tag(b, "CDataTen");
            PointBody(b, *p);
        } else if (auto* d = std::get_if<DimensionSpec>(&e)) {
            Tag(b, "CDataSunpou");
            Attr(b, version_, 1, 1);
            LineRecord(b, version_, 0, 0, 10, 0);  // Sen
            TextRecord(b, version_, "10");          // Moji
            if (version_ >= 420) {
                b.u16(d->sxfMode);
                LineRecord(b, version_, 0, 0, 0, 5);   // Ho1
                LineRecord(b, version_, 10, 0, 10, 5);  // Ho2
                PointBody(b, d->te1);
                PointBody(b, d->te2);
                PointBody(b, d->kt1);
                PointBody(b, d->kt2);
            }
        } else if (auto* ins = std::get_if<InsertSpec>(&e)) {
            Tag(b, "CDataBlock");
            BlockRecord(b, version_, ins->x, ins->y, ins->number);
        } else if (auto* l = std::get_if<LineSpec>(&e)) {
            Tag(b, "CDataSen");
            LineRecord(b, version_, l->x1, l->y1, l->x2, l->y2);
        } else if (auto* t = std::get_if<TextSpec>(&e)) {
            Tag(b, "CDataMoji");
            if (!t->unicode) {
                TextRecord(b, version_, t->text);
            } else {
                Attr(b, version_, 1, 1);
                b.f64(1).f64(2).f64(3).f64(4).u32(0).f64(2.5).f64(2.5).f64(0).f64(0);
                b.str("Font");
                b.u8(0xFF).u16(0xFFFE).u8(static_cast<std::uint8_t>(t->text.size()));
                for (char c : t->text) b.u16(static_cast<std::uint16_t>(c));
            }
        }
        ++objectIndex_;
    }

    std::int32_t version_;
    std::vector<EntitySpec> entities_;
    std::vector<BlockDefSpec> defs_;
    std::uint32_t objectIndex_ = 1;
    std::map<std::string, std::uint32_t> slots_;
};

// The 452-byte header of a JWS figure.
inline Bytes JwsHeader(std::int32_t version) {
    ByteBuilder b;
    b.ascii("JwsData").fill(193, '.').i32(version).f64(12.5).f64(-7.25);
    for (int g = 0; g < 16; ++g) b.f64(1.0 + g);
    for (int i = 0; i < 6; ++i) b.i32(i);
    for (int i = 0; i < 6; ++i) b.f64(0.5 * i);
    b.f64(1).f64(2).f64(3).f64(4);
    return b.data();
}

inline Bytes BuildJws(std::int32_t version, const Bytes& body) {
    ByteBuilder b;
    b.bytes(JwsHeader(version)).bytes(body);
    return b.data();
}

}  // namespace tervalo::test
