// The drawing records shared by the JWW and JWS containers and by the point
// conversion. Field names and widths are those of the file format; the codecs
// read and write them field by field, so no packing is needed in memory.
//
// The names are romanised Japanese. A glossary of their words:
//   Sen        line                      Enko      arc (circle, ellipse)
//   Ten        point                     Kariten   temporary point (bKariten: 1
//                                                  temporary, 0 real)
//   Moji       text, character           MojiShu   text type (size class 1..10)
//   Sunpo(u)   dimension                 Solid     filled polygon
//   Block      block insert              BlockDef  block definition
//   Hankei     radius                    Kaku      angle (rad: radians, deg: degrees)
//   Kaishi     start                     Katamuki  tilt
//   Henpei     flattening (Ritsu: ratio) ZenEn     full circle (Flg: flag)
//   Kaiten     rotation                  Bairitsu  scale factor
//   Kankaku    spacing                   Kakudo    angle in degrees
//   Kijun(Ten) reference (point)         DPoint    a further corner of a solid
//   Ho1, Ho2   the extension lines of a dimension
//   Te1, Te2   the end points of a dimension
//   Kt1, Kt2   the base points of a dimension (temporary points)
//   Sxf        the SXF part of a dimension (sub-records, version 420 on)
//   Lay, GLay  layer, layer group        Pen       pen (Style, Color, Width)
//   Tokushu    special (line type)       Rand      random (line)
//   Pich       pitch                     Prt       print, printer
//   Refferd    referenced                Fname     file name
//   UD         user-defined
// In the header (jww_header.h) also: Zumen paper size, Memori grid, Genten
// origin, Hanni range, Kage shadow, Fukusen double line, Gyaku reverse, Jun
// order, Renzoku continuous, Kyoutsuu common, Gamen screen, Haba width,
// Nagasa length, Seiri arrangement, Gyou line of text, Suu number, Zure offset,
// Ninni chosen freely.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tervalo {

// Entity kind codes: the EntType of order lists and the kind given to AttrOut.
enum EntKind : std::int32_t {
    kKindLine = 1,
    kKindEnko = 2,
    kKindTen = 3,
    kKindMoji = 4,
    kKindSunpo = 5,
    kKindSolid = 6,
    kKindBlock = 7,
    kKindBlockDef = 8,
};

// Pen style that marks a point as a point marker.
inline constexpr std::uint8_t kMarkerPenStyle = 100;

// How a string was stored in the file it was read from: its whole archive
// string (length prefix and text) is kept in the container's stored-string
// bytes. The writer stores exactly these bytes again while the text to write
// is still, unit for unit, the text read and its form (code page 932 or
// UTF-16) stays, so text no rule changes keeps every byte and needs no
// converter. The text read is the stored bytes themselves for UTF-16 and for
// ASCII; for other code page 932 bytes its UTF-16 units follow the bytes. It
// is a cache, not part of the record's value: it never makes two records
// differ.
struct StoredString {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;   // 0: nothing kept
    std::uint32_t owner = 0;  // the read that kept it (the low half of StoredStrings::id)
    std::uint32_t units = 0;  // code page 932 beyond ASCII: the text's units after the bytes
    bool operator==(const StoredString&) const { return true; }
};

struct TEntJwwAttr {
    std::uint32_t lGroup = 0;
    std::uint8_t nPenStyle = 0;
    std::uint16_t nPenColor = 0;
    std::uint16_t nPenWidth = 0;
    std::uint16_t nLayer = 0;
    std::uint16_t nGLayer = 0;
    std::uint16_t sFlg = 0;
    bool operator==(const TEntJwwAttr&) const = default;
};

struct TEntJwwLine {
    TEntJwwAttr att;
    double start_x = 0, start_y = 0, end_x = 0, end_y = 0;
    bool operator==(const TEntJwwLine&) const = default;
};

struct TEntJwwEnko {
    TEntJwwAttr att;
    double start_x = 0, start_y = 0;
    double dHankei = 0;
    double radKaishiKaku = 0;
    double radEnkoKaku = 0;
    double radKatamukiKaku = 0;
    double dHenpeiRitsu = 0;
    std::uint32_t bZenEnFlg = 0;
    bool operator==(const TEntJwwEnko&) const = default;
};

struct TEntJwwTen {
    TEntJwwAttr att;
    double start_x = 0, start_y = 0;
    std::uint32_t bKariten = 0;
    std::uint32_t nCode = 0;  // treated as signed by the conversion rules
    double radKaitenKaku = 0;
    double dBairitsu = 0;
    bool operator==(const TEntJwwTen&) const = default;
};

struct TEntJwwMoji {
    TEntJwwAttr att;
    double start_x = 0, start_y = 0, end_x = 0, end_y = 0;
    std::uint32_t nMojiShu = 0;
    double dSizeX = 0, dSizeY = 0;
    double dKankaku = 0;
    double degKakudo = 0;
    std::u16string strFontName;
    std::u16string str;
    StoredString storedFontName, storedStr;
    bool operator==(const TEntJwwMoji&) const = default;
};

struct TEntJwwSunpo {
    TEntJwwAttr att;
    TEntJwwLine Sen;
    TEntJwwMoji Moji;
    std::uint16_t bSxfMode = 0;
    TEntJwwLine Ho1, Ho2;
    TEntJwwTen Te1, Te2;
    TEntJwwTen Kt1, Kt2;
    bool operator==(const TEntJwwSunpo&) const = default;
};

struct TEntJwwSolid {
    TEntJwwAttr att;
    double start_x = 0, start_y = 0, end_x = 0, end_y = 0;
    double DPoint2_x = 0, DPoint2_y = 0;
    double DPoint3_x = 0, DPoint3_y = 0;
    std::uint32_t Color = 0;
    bool operator==(const TEntJwwSolid&) const = default;
};

struct TEntJwwBlock {
    TEntJwwAttr att;
    double DPKijunTen_x = 0, DPKijunTen_y = 0;
    double dBairitsuX = 0, dBairitsuY = 0;
    double radKaitenKaku = 0;
    std::uint32_t nNumber = 0;
    bool operator==(const TEntJwwBlock&) const = default;
};

// One entry of an entity order list: kind code and index into that kind's list.
struct TEntJwwNo {
    std::int32_t EntType = 0;
    std::int32_t EntNo = 0;
    bool operator==(const TEntJwwNo&) const = default;
};

struct TEntJwwBlockDef {
    TEntJwwAttr att;
    std::uint32_t nNumber = 0;
    std::uint32_t bRefferd = 0;
    std::uint32_t dtime = 0;
    std::u16string strName;
    std::int32_t N = 0;
    std::vector<TEntJwwNo> mNo;
    std::int32_t mLineN = 0, mEnkoN = 0, mTenN = 0, mMojiN = 0, mSunpoN = 0, mSolidN = 0, mBlockN = 0;
    std::vector<TEntJwwLine> mLine;
    std::vector<TEntJwwEnko> mEnko;
    std::vector<TEntJwwTen> mTen;
    std::vector<TEntJwwMoji> mMoji;
    std::vector<TEntJwwSunpo> mSunpo;
    std::vector<TEntJwwSolid> mSolid;
    std::vector<TEntJwwBlock> mBlock;
    bool ref_flag = false;  // computed by MakeBlockTree
    std::int32_t ref_no = -1;  // computed by MakeBlockTree
    StoredString storedName;

    // Empties the member lists (the release of a definition's contents).
    void FreeMembers();
    bool operator==(const TEntJwwBlockDef&) const = default;
};

struct TEntJwwBlockTree {
    TEntJwwAttr att;
    std::int32_t level = 0;
    std::int32_t parent = -1;
    std::uint32_t no = 0;
    std::int32_t defno = -1;
    // The definition's strName, viewed rather than copied (a tree can have a
    // million nodes); valid while the definitions are unchanged.
    std::u16string_view name;
    double x = 0, y = 0;
    double r1 = 0, r2 = 0, r3 = 0, r4 = 0;
};

// Table rows of the JWW header.
struct TEntJwwLayerGroup {
    std::int32_t anGLay = 0;
    std::int32_t anWriteLay = 0;
    double adScale = 0;
    std::int32_t anGLayProtect = 0;
    std::u16string aStrGLayName;
    StoredString storedName;
    bool operator==(const TEntJwwLayerGroup&) const = default;
};

struct TEntJwwLayer {
    std::int32_t aanLay = 0;
    std::int32_t aanLayProtect = 0;
    std::u16string aStrLayName;
    StoredString storedName;
    bool operator==(const TEntJwwLayer&) const = default;
};

struct TEntJwwColorNo {
    std::int32_t aPenColor = 0;
    std::int32_t anPenWidth = 0;
    std::int32_t aPrtPenColor = 0;
    std::int32_t anPrtPenWidth = 0;
    double adPrtTenHankei = 0;
    bool operator==(const TEntJwwColorNo&) const = default;
};

struct TEntJwwLineTypeNo {
    std::int32_t alLType = 0;
    std::int32_t anTokushuSenUintDot = 0;
    std::int32_t anTokushuSenPich = 0;
    std::int32_t anPrtTokushuSenPich = 0;
    bool operator==(const TEntJwwLineTypeNo&) const = default;
};

struct TEntJwwRandomLineNo {
    std::int32_t alLType = 0;
    std::int32_t anRandSenWide = 0;
    std::int32_t anTokushuSenPich = 0;
    std::int32_t anPrtRandSenWide = 0;
    std::int32_t anPrtTokushuSenPich = 0;
    bool operator==(const TEntJwwRandomLineNo&) const = default;
};

struct TEntJwwColorExNo {
    std::int32_t aPenColor = 0;
    std::int32_t anPenWidth = 0;
    std::u16string astrUDColorName;
    std::int32_t aPrtPenColor = 0;
    std::int32_t anPrtPenWidth = 0;
    double adPrtTenHankei = 0;
    StoredString storedName;
    bool operator==(const TEntJwwColorExNo&) const = default;
};

struct TEntJwwLineTypeExNo {
    std::int32_t alLType = 0;
    std::int32_t anTokushuSenUintDot = 0;
    std::int32_t anTokushuSenPich = 0;
    std::int32_t anPrtTokushuSenPich = 0;
    std::u16string astrUDLTypeName;
    std::int32_t anUDLTypeSegment = 0;
    std::array<double, 10> aadUDLTypePitch{};  // segments 1 to 10 at indexes 0 to 9
    StoredString storedName;
    bool operator==(const TEntJwwLineTypeExNo&) const = default;
};

struct TEntJwwMojiType {
    double adMojiX = 0;
    double adMojiY = 0;
    double adMojiD = 0;
    std::int32_t anMojiCol = 0;
    bool operator==(const TEntJwwMojiType&) const = default;
};

struct TBindImageType {
    std::u16string Fname;
    std::int32_t Fsize = 0;
    bool exf = false;
    // The image's bytes as stored in the drawing; the writer stores them
    // back unless the image comes from its copy in the work folder.
    std::vector<std::uint8_t> data;
    // A copy was written to BindImageFolder under Fname while reading.
    bool copied = false;
    StoredString storedFname;
    bool operator==(const TBindImageType&) const = default;
};

// Copies the seven attribute fields one by one.
void AttrCopy(const TEntJwwAttr& source, TEntJwwAttr& destination);

}  // namespace tervalo
