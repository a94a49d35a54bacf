// The body of JWW drawings and JWS figures: the entity list, the record codec
// of the seven entity kinds (with the SXF part of dimensions and its expansion
// for old versions) and the block definition section.
//
// Reading is strict: every structure the data announce (entity counts,
// definition counts, records, strings) must be present in full, otherwise the
// read fails with IoError("File I/O Error"). Counts are checked against the
// bytes that remain before anything is allocated from them.
#include "codec/body_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>

#include "fs/fsutil.h"
#include "fs/platform.h"
#include "text/encoding.h"
#include "text/func.h"

namespace tervalo {

namespace {

constexpr std::array<const char*, 8> kClassNames = {
    "CDataSen", "CDataEnko", "CDataTen", "CDataMoji", "CDataSunpou", "CDataSolid", "CDataBlock", "CDataList",
};
constexpr std::size_t kBlockDefSlot = 7;
// A class name is at most this long (it must fit a 2048-byte buffer with its
// terminating zero).
constexpr std::size_t kMaxClassNameLength = 2047;
// First version with the 15-byte attribute, and first with the SXF part of dimensions.
constexpr std::int32_t kVerPenWidth = 351;
constexpr std::int32_t kVerSxf = 420;
constexpr std::uint32_t kLongTimeForm = 0x80000000u;

// Output option bits that change the text of text entities.
constexpr std::int32_t kOutOptBmName = 0x01;
constexpr std::int32_t kOutOptBmTemp = 0x08;

// Smallest number of bytes one entity object can occupy: a 2-byte tag and a
// point without marker fields (35 bytes, 33 with the short attribute).
std::uint64_t MinEntityBytes(std::int32_t ver) { return 2 + (ver >= kVerPenWidth ? 35 : 33); }
// Smallest block definition: tag, header, an empty name and an entity count.
std::uint64_t MinBlockDefBytes(std::int32_t ver) { return 2 + (ver >= kVerPenWidth ? 27 : 25) + 1 + 2; }

// Throws unless `count` objects of at least `minBytes` each fit in what is left.
void CheckCount(const ByteReader& r, std::uint32_t count, std::uint64_t minBytes, const char* what) {
    const std::uint64_t need = std::uint64_t{count} * minBytes;
    if (count > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) || need > r.remaining())
        throw IoError(kFileIoError, std::string("impossible ") + what + " count " + std::to_string(count) +
                                        " with " + std::to_string(r.remaining()) + " bytes left at offset " +
                                        std::to_string(r.pos()));
}

// ---------------------------------------------------------------------------
// Views of one entity list: the drawing's main list or a definition's contents.

struct ListsIn {
    std::vector<TEntJwwNo>& no;
    std::vector<TEntJwwLine>& line;
    std::int32_t& lineN;
    std::vector<TEntJwwEnko>& enko;
    std::int32_t& enkoN;
    std::vector<TEntJwwTen>& ten;
    std::int32_t& tenN;
    std::vector<TEntJwwMoji>& moji;
    std::int32_t& mojiN;
    std::vector<TEntJwwSunpo>& sunpo;
    std::int32_t& sunpoN;
    std::vector<TEntJwwSolid>& solid;
    std::int32_t& solidN;
    std::vector<TEntJwwBlock>& block;
    std::int32_t& blockN;
    // dBairitsu of a point read without marker fields.
    double plainPointScale;
    // When set, the records (but the inserts) are handed to it and not kept.
    RecordSink* sink = nullptr;
};

struct ListsOut {
    const std::vector<TEntJwwNo>& no;
    std::size_t noN;
    const std::vector<TEntJwwLine>& line;
    std::int32_t lineN;
    const std::vector<TEntJwwEnko>& enko;
    std::int32_t enkoN;
    const std::vector<TEntJwwTen>& ten;
    std::int32_t tenN;
    const std::vector<TEntJwwMoji>& moji;
    std::int32_t mojiN;
    const std::vector<TEntJwwSunpo>& sunpo;
    std::int32_t sunpoN;
    const std::vector<TEntJwwSolid>& solid;
    std::int32_t solidN;
    const std::vector<TEntJwwBlock>& block;
    std::int32_t blockN;
};

ListsIn MainListsIn(DrawingBody& b) {
    return {b.EntNo,    b.EntLine,  b.EntLineN,  b.EntEnko,  b.EntEnkoN, b.EntTen,    b.EntTenN,
            b.EntMoji,  b.EntMojiN, b.EntSunpo,  b.EntSunpoN, b.EntSolid, b.EntSolidN, b.EntBlock,
            b.EntBlockN, 1.0};
}

ListsIn DefListsIn(TEntJwwBlockDef& d) {
    return {d.mNo,   d.mLine,  d.mLineN,  d.mEnko,  d.mEnkoN,  d.mTen,   d.mTenN,   d.mMoji,
            d.mMojiN, d.mSunpo, d.mSunpoN, d.mSolid, d.mSolidN, d.mBlock, d.mBlockN, 0.0};
}

std::size_t Clamp(std::int64_t n, std::size_t size) {
    if (n <= 0) return 0;
    return std::min<std::size_t>(static_cast<std::size_t>(n), size);
}

ListsOut MainListsOut(const DrawingBody& b, std::int32_t n1) {
    return {b.EntNo,   Clamp(n1, b.EntNo.size()), b.EntLine,  b.EntLineN,  b.EntEnko,  b.EntEnkoN,
            b.EntTen,  b.EntTenN,                 b.EntMoji,  b.EntMojiN,  b.EntSunpo, b.EntSunpoN,
            b.EntSolid, b.EntSolidN,              b.EntBlock, b.EntBlockN};
}

ListsOut DefListsOut(const TEntJwwBlockDef& d) {
    return {d.mNo,   Clamp(d.N, d.mNo.size()), d.mLine,  d.mLineN,  d.mEnko,  d.mEnkoN, d.mTen,  d.mTenN,
            d.mMoji, d.mMojiN,                 d.mSunpo, d.mSunpoN, d.mSolid, d.mSolidN, d.mBlock, d.mBlockN};
}

// ---------------------------------------------------------------------------
// Record reading. Each fixed part is taken from the buffer in one bounds
// check and decoded field by field from there.

std::size_t AttrSize(const ArchiveIn& in) { return in.version() >= kVerPenWidth ? 15 : 13; }

TEntJwwLine ReadLineBody(ArchiveIn& in) {
    const std::size_t a = AttrSize(in);
    const std::uint8_t* p = in.r.take(a + 32, "line");
    TEntJwwLine l;
    l.att = DecodeAttr(p, a == 15);
    p += a;
    l.start_x = Load<double>(p);
    l.start_y = Load<double>(p + 8);
    l.end_x = Load<double>(p + 16);
    l.end_y = Load<double>(p + 24);
    return l;
}

TEntJwwEnko ReadEnko(ArchiveIn& in) {
    const std::size_t a = AttrSize(in);
    const std::uint8_t* p = in.r.take(a + 60, "arc");
    TEntJwwEnko e;
    e.att = DecodeAttr(p, a == 15);
    p += a;
    e.start_x = Load<double>(p);
    e.start_y = Load<double>(p + 8);
    e.dHankei = Load<double>(p + 16);
    e.radKaishiKaku = Load<double>(p + 24);
    e.radEnkoKaku = Load<double>(p + 32);
    e.radKatamukiKaku = Load<double>(p + 40);
    e.dHenpeiRitsu = Load<double>(p + 48);
    e.bZenEnFlg = Load<std::uint32_t>(p + 56);
    return e;
}

// A point body; the marker fields follow only for a point marker. Other points
// get code 0, rotation 0 and the given scale.
TEntJwwTen ReadTenBody(ArchiveIn& in, double plainScale) {
    const std::size_t a = AttrSize(in);
    const std::uint8_t* p = in.r.take(a + 20, "point");
    TEntJwwTen t;
    t.att = DecodeAttr(p, a == 15);
    p += a;
    t.start_x = Load<double>(p);
    t.start_y = Load<double>(p + 8);
    t.bKariten = Load<std::uint32_t>(p + 16);
    if (t.att.nPenStyle == kMarkerPenStyle) {
        const std::uint8_t* m = in.r.take(20, "point marker");
        t.nCode = Load<std::uint32_t>(m);
        t.radKaitenKaku = Load<double>(m + 4);
        t.dBairitsu = Load<double>(m + 12);
    } else {
        t.nCode = 0;
        t.radKaitenKaku = 0.0;
        t.dBairitsu = plainScale;
    }
    return t;
}

// Texts of code page 932 beyond ASCII, decoded many at a time: the converter
// costs hundreds of instructions per call, whatever the length. Their bytes
// are joined with the byte 01 between them, which code page 932 decodes to
// U+0001 and never uses inside a character (no trail byte is below 40), and
// which a kept text never holds; so one decode split at U+0001 gives exactly
// what decoding each text alone gives. A text waits in the batch by the list
// its record goes into and its index there, as the list may move while it
// grows; a record that never arrived (a read that failed) is skipped.
class TextBatch {
public:
    enum Field : std::uint8_t { kMojiFont, kMojiStr, kSunpoFont, kSunpoStr };

    explicit TextBatch(ArchiveIn& in) : in_(in) {}

    void Add(void* list, std::size_t index, Field field, const StoredString& keep, std::uint32_t textBytes) {
        pending_.push_back({list, static_cast<std::uint32_t>(index), field, keep.offset + keep.size - textBytes,
                            textBytes});
        bytes_ += textBytes + 1;
    }

    // Decodes the waiting texts once they are many. Called only between
    // records, when every record that waits is in its list.
    void FlushIfFull() {
        if (bytes_ >= kFlushBytes) Flush();
    }

    void Flush() {
        if (pending_.empty()) return;
        const auto& arena = in_.stored()->bytes;
        Bytes joined;
        joined.reserve(bytes_);
        for (const Pending& p : pending_) {
            joined.insert(joined.end(), arena.begin() + p.at, arena.begin() + p.at + p.size);
            joined.push_back(0x01);
        }
        const std::u16string all = AnsiBytesToText(joined);
        std::size_t from = 0;
        for (const Pending& p : pending_) {
            const std::size_t to = std::min(all.find(u'\x01', from), all.size());
            StoredString* keep = nullptr;
            if (std::u16string* text = Resolve(p, keep)) {
                text->assign(all, from, to - from);
                in_.Kept(*text, *keep);
            }
            from = to + 1;
        }
        pending_.clear();
        bytes_ = 0;
    }

private:
    static constexpr std::size_t kFlushBytes = 256 * 1024;
    struct Pending {
        void* list;
        std::uint32_t index;
        Field field;
        std::uint32_t at, size;
    };

    static std::u16string* Resolve(const Pending& p, StoredString*& keep) {
        TEntJwwMoji* m = nullptr;
        if (p.field == kMojiFont || p.field == kMojiStr) {
            auto& list = *static_cast<std::vector<TEntJwwMoji>*>(p.list);
            if (p.index < list.size()) m = &list[p.index];
        } else {
            auto& list = *static_cast<std::vector<TEntJwwSunpo>*>(p.list);
            if (p.index < list.size()) m = &list[p.index].Moji;
        }
        if (!m) return nullptr;
        const bool font = p.field == kMojiFont || p.field == kSunpoFont;
        keep = font ? &m->storedFontName : &m->storedStr;
        return font ? &m->strFontName : &m->str;
    }

    ArchiveIn& in_;
    std::vector<Pending> pending_;
    std::size_t bytes_ = 0;
};

// Where the strings of a text record go when their decoding waits in a batch.
struct TextPlace {
    TextBatch* batch = nullptr;
    void* list = nullptr;
    std::size_t index = 0;
    bool dimension = false;
};

void ReadMoji(ArchiveIn& in, TEntJwwMoji& m, const TextPlace& place = {}) {
    const std::size_t a = AttrSize(in);
    const std::uint8_t* p = in.r.take(a + 68, "text");
    m.att = DecodeAttr(p, a == 15);
    p += a;
    m.start_x = Load<double>(p);
    m.start_y = Load<double>(p + 8);
    m.end_x = Load<double>(p + 16);
    m.end_y = Load<double>(p + 24);
    m.nMojiShu = Load<std::uint32_t>(p + 32);
    m.dSizeX = Load<double>(p + 36);
    m.dSizeY = Load<double>(p + 44);
    m.dKankaku = Load<double>(p + 52);
    m.degKakudo = Load<double>(p + 60);
    if (place.batch && in.stored()) {
        using F = TextBatch::Field;
        std::uint32_t deferred = 0;
        m.strFontName = in.NameInDeferred(m.storedFontName, deferred);
        if (deferred)
            place.batch->Add(place.list, place.index, place.dimension ? F::kSunpoFont : F::kMojiFont,
                             m.storedFontName, deferred);
        m.str = in.NameInDeferred(m.storedStr, deferred);
        if (deferred)
            place.batch->Add(place.list, place.index, place.dimension ? F::kSunpoStr : F::kMojiStr, m.storedStr,
                             deferred);
    } else {
        m.strFontName = in.NameIn(&m.storedFontName);
        m.str = in.NameIn(&m.storedStr);
    }
    // Sizes and spacing that are not numbers would poison every later use.
    if (!IsValidDouble(m.dSizeX)) m.dSizeX = 3.0;
    if (!IsValidDouble(m.dSizeY)) m.dSizeY = 3.0;
    if (!IsValidDouble(m.dKankaku)) m.dKankaku = 0.0;
}

void ReadSunpo(ArchiveIn& in, TEntJwwSunpo& s, const TextPlace& place) {
    s.att = in.AttrIn();
    s.Sen = ReadLineBody(in);
    ReadMoji(in, s.Moji, place);
    if (in.version() >= kVerSxf) {
        s.bSxfMode = in.r.u16();
        s.Ho1 = ReadLineBody(in);
        s.Ho2 = ReadLineBody(in);
        s.Te1 = ReadTenBody(in, 0.0);
        s.Te2 = ReadTenBody(in, 0.0);
        s.Kt1 = ReadTenBody(in, 0.0);
        s.Kt2 = ReadTenBody(in, 0.0);
        return;
    }
    // Older files have no SXF part: the sub-records carry the dimension's
    // attribute and zero coordinates.
    s.bSxfMode = 0;
    for (TEntJwwLine* l : {&s.Ho1, &s.Ho2}) {
        *l = TEntJwwLine{};
        AttrCopy(s.att, l->att);
    }
    for (TEntJwwTen* t : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) {
        *t = TEntJwwTen{};
        AttrCopy(s.att, t->att);
        t->att.nPenStyle = 0;
        t->bKariten = 0;
        t->nCode = 0;
        t->radKaitenKaku = 0.0;
        t->dBairitsu = 0.0;
    }
}

TEntJwwSolid ReadSolid(ArchiveIn& in) {
    const std::size_t a = AttrSize(in);
    const std::uint8_t* p = in.r.take(a + 64, "solid");
    TEntJwwSolid s;
    s.att = DecodeAttr(p, a == 15);
    p += a;
    s.start_x = Load<double>(p);
    s.start_y = Load<double>(p + 8);
    s.end_x = Load<double>(p + 16);
    s.end_y = Load<double>(p + 24);
    s.DPoint2_x = Load<double>(p + 32);
    s.DPoint2_y = Load<double>(p + 40);
    s.DPoint3_x = Load<double>(p + 48);
    s.DPoint3_y = Load<double>(p + 56);
    s.Color = s.att.nPenColor == 10 ? in.r.u32() : 0;
    return s;
}

TEntJwwBlock ReadBlock(ArchiveIn& in) {
    const std::size_t a = AttrSize(in);
    const std::uint8_t* p = in.r.take(a + 44, "block insert");
    TEntJwwBlock b;
    b.att = DecodeAttr(p, a == 15);
    p += a;
    b.DPKijunTen_x = Load<double>(p);
    b.DPKijunTen_y = Load<double>(p + 8);
    b.dBairitsuX = Load<double>(p + 16);
    b.dBairitsuY = Load<double>(p + 24);
    b.radKaitenKaku = Load<double>(p + 32);
    b.nNumber = Load<std::uint32_t>(p + 40);
    return b;
}

// Reads the rest of a new-class tag (schema word, name length, name) and
// returns the name up to its first zero byte.
std::span<const std::uint8_t> ReadClassName(ArchiveIn& in) {
    in.r.u16();  // schema word, not used
    const std::uint16_t length = in.r.u16();
    if (length > kMaxClassNameLength)
        throw IoError(kFileIoError, "class name of " + std::to_string(length) + " bytes at offset " +
                                        std::to_string(in.r.pos()));
    auto name = in.r.bytes(length);
    const auto zero = std::find(name.begin(), name.end(), std::uint8_t{0});
    return name.first(static_cast<std::size_t>(zero - name.begin()));
}

bool NameIs(std::span<const std::uint8_t> name, const char* expected) {
    const std::size_t n = std::strlen(expected);
    return name.size() == n && std::memcmp(name.data(), expected, n) == 0;
}

// Reads one tag of an entity list and returns the kind it selects, 0 for none.
std::int32_t ReadEntityTag(ArchiveIn& in, ArchiveState& st) {
    const std::uint16_t w = in.r.u16();
    if (w == st.lastTag && w != 0) return st.lastKind;
    if (w == 0xFFFF) {
        st.lastTag = 0;  // the classes change
        const std::size_t at = in.r.pos();
        const auto name = ReadClassName(in);
        for (std::size_t k = 0; k < 7; ++k) {
            if (NameIs(name, kClassNames[k])) {
                st.slots[k] = st.objectIndex++;
                return static_cast<std::int32_t>(k + 1);
            }
        }
        throw IoError(kFileIoError, "unknown class name at offset " + std::to_string(at));
    }
    std::int64_t index;
    if (w == 0x7FFF)
        index = in.r.u32() & 0x7FFFFFFFu;
    else
        index = std::int64_t{w} - 0x8000;
    std::int32_t kind = 0;
    for (std::size_t k = 0; k < 7 && kind == 0; ++k)
        if (st.slots[k] != 0 && std::int64_t{st.slots[k]} == index) kind = static_cast<std::int32_t>(k + 1);
    if (w != 0x7FFF) {
        st.lastTag = w;
        st.lastKind = kind;
    }
    return kind;
}

template <typename T>
void Append(std::vector<T>& list, std::int32_t& count, T&& record) {
    list.push_back(std::move(record));
    count = static_cast<std::int32_t>(list.size());
}

// Appends the record, or hands it to the sink of a read that counts only.
template <typename T>
void Append(std::vector<T>& list, std::int32_t& count, T&& record, RecordSink* sink) {
    if (sink) sink->Take(record);
    else Append(list, count, std::move(record));
}

// Smallest stored size of a record of each kind, tag included (kind k at k-1).
constexpr std::array<std::uint32_t, 7> kMinRecordBytes = {
    2 + 13 + 32, 2 + 13 + 60, 2 + 13 + 20, 2 + 13 + 68 + 2, 2 + 13 + 45 + 81 + 2, 2 + 13 + 64, 2 + 13 + 44,
};

// Gives the main list of the first record of a kind room for as many records
// of that kind as the entity count and the bytes left allow, so the list never
// moves while the drawing is read (a move holds the old and the new list in
// memory at once). Room that stays unused is address space only: its pages
// are never touched. Where that much address space is refused, the list grows
// as usual.
//
// Room kept from the drawing read before is used as it is when it is enough.
// When it is not, the new room has a quarter more, as long as that much would
// be kept again, so that a batch of drawings of about one size settles on
// room that serves them all.
template <typename T>
void ReserveFirst(std::vector<T>& list, std::int32_t kind, std::uint64_t entitiesLeft, std::uint64_t bytesLeft) {
    const std::uint64_t most =
        std::min(entitiesLeft, bytesLeft / kMinRecordBytes[static_cast<std::size_t>(kind - 1)] + 1);
    if (most < 4096 || list.capacity() >= most) return;
    const std::uint64_t more = most + most / 4;
    const bool reused = list.capacity() != 0;
    try {
        list.reserve(static_cast<std::size_t>(reused && more * sizeof(T) <= DrawingBody::kKeptListBytes ? more : most));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
}

// Prepares one main list for its records: gives it its room at its first
// record, and decides, as it first reaches each large page (2 MiB) of that
// room, whether the page is to be backed by one large page: only when the
// list is on course to fill it, judged from the share of the entities read so
// far. A big list then fills with a few page faults instead of thousands, and
// no list takes a large page it would fill in part. Between two decisions a
// record costs a countdown only.
class ListPlan {
public:
    static constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;

    // Before the list appends a record, `done` of `total` entities read.
    template <typename T>
    void BeforeAppend(std::vector<T>& list, std::int32_t kind, std::uint64_t done, std::uint64_t total,
                      std::uint64_t bytesLeft) {
        if (left_ > 0) {
            --left_;
            return;
        }
        Decide(list, kind, done, total, bytesLeft);
    }

private:
    static constexpr std::uint64_t kNever = ~std::uint64_t{0};

    template <typename T>
    void Decide(std::vector<T>& list, std::int32_t kind, std::uint64_t done, std::uint64_t total,
                std::uint64_t bytesLeft) {
        if (!started_) {
            started_ = true;
            ReserveFirst(list, kind, total - done, bytesLeft);
        }
        // A list without its room, or about to move, is left to small pages.
        if (list.capacity() < 4096 || list.size() == list.capacity()) {
            left_ = kNever;
            return;
        }
        const auto base = reinterpret_cast<std::uintptr_t>(list.data());
        if (base != base_) {
            base_ = base;
            decided_ = (base + kLarge - 1) & ~(kLarge - 1);  // the part before stays small
        }
        const std::uintptr_t end = base + (list.size() + 1) * sizeof(T);
        if (end > decided_) {
            const double projected = static_cast<double>(end - base) * static_cast<double>(total) /
                                     static_cast<double>(done + 1);
            const double room = static_cast<double>(list.capacity() * sizeof(T));
            const auto until = base + static_cast<std::uintptr_t>(std::min(projected, room));
            const std::uintptr_t page = (end - 1) & ~(kLarge - 1);
            if (until >= page + kLarge) platform::AdviseLargePages(reinterpret_cast<void*>(page), kLarge);
            decided_ = page + kLarge;
        }
        left_ = (decided_ - end) / sizeof(T);
    }

    bool started_ = false;
    std::uint64_t left_ = 0;  // records to append before the next decision
    std::uintptr_t base_ = 0, decided_ = 0;
};

// Reads `n` entity objects into the lists; L.no has n entries already. The
// lists of a long list (the drawing's own) are given their room up front.
void ReadEntityList(ArchiveIn& in, ArchiveState& st, ListsIn L, std::uint32_t n, bool reserve, TextBatch& texts) {
    std::uint32_t counter = 0;
    std::array<ListPlan, 7> plans;
    while (counter < n) {
        const std::int32_t kind = ReadEntityTag(in, st);
        if (kind == 0) continue;  // a tag of no entity class: no object follows
        if (reserve) {
            ListPlan& plan = plans[static_cast<std::size_t>(kind - 1)];
            const auto prepare = [&](auto& list) { plan.BeforeAppend(list, kind, counter, n, in.r.remaining() + 2); };
            switch (kind) {
                case kKindLine: prepare(L.line); break;
                case kKindEnko: prepare(L.enko); break;
                case kKindTen: prepare(L.ten); break;
                case kKindMoji: prepare(L.moji); break;
                case kKindSunpo: prepare(L.sunpo); break;
                case kKindSolid: prepare(L.solid); break;
                case kKindBlock: prepare(L.block); break;
                default: break;
            }
        }
        std::int32_t index = 0;
        switch (kind) {
            case kKindLine:
                Append(L.line, L.lineN, ReadLineBody(in), L.sink);
                index = L.lineN - 1;
                break;
            case kKindEnko:
                Append(L.enko, L.enkoN, ReadEnko(in), L.sink);
                index = L.enkoN - 1;
                break;
            case kKindTen:
                Append(L.ten, L.tenN, ReadTenBody(in, L.plainPointScale), L.sink);
                index = L.tenN - 1;
                break;
            case kKindMoji: {
                TEntJwwMoji m;
                ReadMoji(in, m, {&texts, &L.moji, L.moji.size(), false});
                Append(L.moji, L.mojiN, std::move(m), L.sink);
                texts.FlushIfFull();
                index = L.mojiN - 1;
                break;
            }
            case kKindSunpo: {
                TEntJwwSunpo s;
                ReadSunpo(in, s, {&texts, &L.sunpo, L.sunpo.size(), true});
                Append(L.sunpo, L.sunpoN, std::move(s), L.sink);
                texts.FlushIfFull();
                index = L.sunpoN - 1;
                break;
            }
            case kKindSolid:
                Append(L.solid, L.solidN, ReadSolid(in), L.sink);
                index = L.solidN - 1;
                break;
            case kKindBlock:
                Append(L.block, L.blockN, ReadBlock(in));
                index = L.blockN - 1;
                break;
            default:
                break;
        }
        if (!L.sink) L.no[counter] = TEntJwwNo{kind, index};
        ++counter;
        ++st.objectIndex;
    }
}

void ReadBlockDefs(ArchiveIn& in, ArchiveState& st, DrawingBody& body, std::int32_t& n2, TextBatch& texts) {
    const std::int32_t ver = in.version();
    const std::uint32_t c = in.CountIn();  // a missing count is an error, not zero definitions
    CheckCount(in.r, c, MinBlockDefBytes(ver), "block definition");
    n2 = static_cast<std::int32_t>(c);
    body.EntBlockDefN = static_cast<std::int32_t>(c);
    body.EntBlockDef.assign(c, TEntJwwBlockDef{});
    for (std::uint32_t d = 0; d < c; ++d) {
        TEntJwwBlockDef& def = body.EntBlockDef[d];
        const std::uint16_t w = in.r.u16();
        if (w == 0xFFFF) {
            ReadClassName(in);  // the name is not checked: this section holds definitions only
            st.slots[kBlockDefSlot] = st.objectIndex++;
        } else if (w == 0x7FFF) {
            in.r.u32();
        }
        def.att = in.AttrIn();
        def.nNumber = in.r.u32();
        def.bRefferd = in.r.u32();
        def.dtime = in.r.u32();
        if (def.dtime >= kLongTimeForm) {
            // Long time form: 8 more bytes; the definition keeps its ordinal instead.
            in.r.skip(8);
            def.dtime = d + 1;
        }
        def.strName = in.NameIn(&def.storedName);
        const std::uint32_t n = in.CountIn();
        CheckCount(in.r, n, MinEntityBytes(ver), "entity");
        def.N = static_cast<std::int32_t>(n);
        def.mNo.assign(n, TEntJwwNo{});
        ++st.objectIndex;
        ReadEntityList(in, st, DefListsIn(def), n, false, texts);
    }
}

// ---------------------------------------------------------------------------
// Record writing.

// Output block numbers of inserts by block number, as ChangeBlockNo gives
// them, looked up in constant time.
class BlockNumbers {
public:
    explicit BlockNumbers(const DrawingBody& body) : unresolved_(static_cast<std::uint32_t>(std::max(body.EntBlockNum, 0))) {
        const std::size_t n = Clamp(body.EntBlockDefN, body.EntBlockDef.size());
        map_.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            const TEntJwwBlockDef& d = body.EntBlockDef[i];
            map_.try_emplace(d.nNumber, d.ref_flag ? static_cast<std::uint32_t>(d.ref_no) : unresolved_);
        }
    }
    std::uint32_t operator()(std::uint32_t n) const {
        const auto it = map_.find(n);
        return it == map_.end() ? unresolved_ : it->second;
    }

private:
    std::uint32_t unresolved_;
    std::unordered_map<std::uint32_t, std::uint32_t> map_;
};

std::u16string ApplyTextOutputOptions(std::u16string s, std::int32_t opt) {
    // The bit 0x10 substitutes text variables; the substitution table is empty, so
    // the text stays as it is.
    if (opt & kOutOptBmTemp) {
        if (s.size() >= 10 && s.compare(0, 10, u"^@BM%temp%") == 0) s = u"^@BM" + TextFrom(s, 10);
    }
    if (opt & kOutOptBmName) {
        if (s.size() >= 4 && s.compare(0, 4, u"^@BM") == 0) {
            const std::int32_t p = TextPos(u",", s);
            if (p >= 0) s = u"^@BM" + ExtractNameOf(TextMid(s, 4, p - 4)) + TextFrom(s, p);
        }
    }
    return s;
}

}  // namespace

// The text as CleanNameText makes it: the text itself when cleaning changes
// nothing (the usual case, without a copy), else the cleaned copy in `scratch`.
const std::u16string& Cleaned(const std::u16string& text, std::u16string& scratch) {
    bool changes = false;
    for (std::size_t i = 0; i < text.size() && !changes; ++i) {
        const char16_t c = text[i];
        changes = c < 0x20 || (i + 1 < text.size() && ((c == u'^' && text[i + 1] == u'm') ||
                                                       (c == u'\\' && text[i + 1] == u'n')));
    }
    if (!changes) return text;
    scratch = CleanNameText(text);
    return scratch;
}

namespace {

double ClampSize(double v) {
    v = std::fabs(v);
    if (v < 1e-10) return 1e-10;
    if (v > 1e10) return 1e10;
    return v;
}

class BodyWriter {
public:
    BodyWriter(ArchiveOut& out, const DrawingBody& body, std::int32_t sourceVer)
        : out_(out), w_(out.w), body_(body), numbers_(body),
          expandSxf_(out.ver() < kVerSxf && sourceVer >= kVerSxf), ver_(out.ver()),
          wide_(out.ver() >= kVerPenWidth) {}

    void WriteList(const ListsOut& L) {
        out_.CountOut(CountObjects(L));
        WriteEntities(L);
    }

    void WriteBlockDefs(std::int32_t n2) {
        const std::size_t n =
            Clamp(std::min<std::int64_t>(n2, body_.EntBlockDefN), body_.EntBlockDef.size());
        // The count is that of the definitions actually written, so that it
        // always matches the objects that follow.
        std::uint32_t referenced = 0;
        for (std::size_t i = 0; i < n; ++i)
            if (body_.EntBlockDef[i].ref_flag) ++referenced;
        out_.CountOut(referenced);
        for (std::size_t i = 0; i < n; ++i) {
            const TEntJwwBlockDef& d = body_.EntBlockDef[i];
            if (!d.ref_flag) continue;
            Tag(kBlockDefSlot);
            out_.AttrOut(d.att, kKindBlockDef);
            // Its own output number: a later definition sharing a number with
            // an earlier one must not take that one's number.
            w_.u32(static_cast<std::uint32_t>(d.ref_no));
            w_.u32(d.bRefferd);
            w_.u32(d.dtime);
            out_.StrOut(Cleaned(d.strName, scratch_), d.storedName);
            // The definition's entity count, then the definition takes its
            // object index, then its entities follow.
            const ListsOut L = DefListsOut(d);
            out_.CountOut(CountObjects(L));
            ++st_.objectIndex;
            WriteEntities(L);
        }
    }

private:
    // Objects written for the list: its live entries, and six more for every
    // dimension whose SXF part is expanded.
    std::uint32_t CountObjects(const ListsOut& L) const {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < L.noN; ++i) {
            const TEntJwwNo& e = L.no[i];
            if (!Live(L, e)) continue;
            ++total;
            if (e.EntType == kKindSunpo && expandSxf_ && L.sunpo[static_cast<std::size_t>(e.EntNo)].bSxfMode != 0)
                total += 6;
        }
        if (total > 0xFFFFFFFFu) throw IoError(kFileIoError, "too many entities for one list");
        return static_cast<std::uint32_t>(total);
    }

    void WriteEntities(const ListsOut& L) {
        for (std::size_t i = 0; i < L.noN; ++i) {
            const TEntJwwNo& e = L.no[i];
            if (!Live(L, e)) continue;
            Tag(static_cast<std::size_t>(e.EntType - 1));
            const std::size_t k = static_cast<std::size_t>(e.EntNo);
            switch (e.EntType) {
                case kKindLine: LineBody(L.line[k]); break;
                case kKindEnko: Enko(L.enko[k]); break;
                case kKindTen: TenBody(L.ten[k], L.ten[k].bKariten); break;
                case kKindMoji: Moji(L.moji[k], true); break;
                case kKindSunpo: Sunpo(L.sunpo[k]); break;
                case kKindSolid: Solid(L.solid[k]); break;
                case kKindBlock: Block(L.block[k]); break;
                default: break;
            }
            ++st_.objectIndex;
        }
    }

    template <typename T>
    static bool InList(const std::vector<T>& list, std::int32_t count, std::int32_t index) {
        return index >= 0 && index < count && static_cast<std::size_t>(index) < list.size();
    }

    static bool Live(const ListsOut& L, const TEntJwwNo& e) {
        switch (e.EntType) {
            case kKindLine: return InList(L.line, L.lineN, e.EntNo);
            case kKindEnko: return InList(L.enko, L.enkoN, e.EntNo);
            case kKindTen: return InList(L.ten, L.tenN, e.EntNo);
            case kKindMoji: return InList(L.moji, L.mojiN, e.EntNo);
            case kKindSunpo: return InList(L.sunpo, L.sunpoN, e.EntNo);
            case kKindSolid: return InList(L.solid, L.solidN, e.EntNo);
            case kKindBlock: return InList(L.block, L.blockN, e.EntNo);
            default: return false;
        }
    }

    // The tag of the class in `slot`: its introduction the first time, a
    // reference afterwards.
    void Tag(std::size_t slot) {
        std::uint32_t& index = st_.slots[slot];
        if (index == 0) {
            const char* name = kClassNames[slot];
            const std::size_t length = std::strlen(name);
            w_.u16(0xFFFF);
            w_.u16(static_cast<std::uint16_t>(out_.ver()));
            w_.u16(static_cast<std::uint16_t>(length));
            w_.bytes({reinterpret_cast<const std::uint8_t*>(name), length});
            index = st_.objectIndex++;
        } else if (index < 0x7FFF) {
            w_.commit(Store(w_.room(2), static_cast<std::uint16_t>(0x8000 + index)));
        } else {
            out_.ClassTagOut(index);
        }
    }

    // Each record is encoded straight into the writer's buffer.
    std::uint8_t* Attr(std::uint8_t* p, const TEntJwwAttr& a, std::int32_t kind) const {
        return EncodeAttr(p, MapAttrForOutput(a, ver_, kind), wide_);
    }

    void LineBody(const TEntJwwLine& l) {
        std::uint8_t* p = Attr(w_.room(47), l.att, kKindLine);
        p = Store(p, l.start_x);
        p = Store(p, l.start_y);
        p = Store(p, l.end_x);
        w_.commit(Store(p, l.end_y));
    }

    void Enko(const TEntJwwEnko& e) {
        std::uint8_t* p = Attr(w_.room(75), e.att, kKindEnko);
        p = Store(p, e.start_x);
        p = Store(p, e.start_y);
        p = Store(p, e.dHankei);
        p = Store(p, e.radKaishiKaku);
        p = Store(p, e.radEnkoKaku);
        p = Store(p, e.radKatamukiKaku);
        p = Store(p, e.dHenpeiRitsu);
        w_.commit(Store(p, e.bZenEnFlg));
    }

    void TenBody(const TEntJwwTen& t, std::uint32_t bKariten) {
        std::uint8_t* p = Attr(w_.room(55), t.att, kKindTen);
        p = Store(p, t.start_x);
        p = Store(p, t.start_y);
        p = Store(p, bKariten);
        if (t.att.nPenStyle == kMarkerPenStyle) {
            p = Store(p, t.nCode);
            p = Store(p, t.radKaitenKaku);
            p = Store(p, t.dBairitsu);
        }
        w_.commit(p);
    }

    // A text record; `options` applies the output options to its text (a
    // dimension's text gets only the text-variable option, which changes
    // nothing). A string no rule changes goes out with its stored bytes.
    void Moji(const TEntJwwMoji& m, bool options) {
        std::uint8_t* p = Attr(w_.room(83), m.att, kKindMoji);
        p = Store(p, m.start_x);
        p = Store(p, m.start_y);
        p = Store(p, m.end_x);
        p = Store(p, m.end_y);
        p = Store(p, m.nMojiShu);
        p = Store(p, ClampSize(m.dSizeX));
        p = Store(p, ClampSize(m.dSizeY));
        p = Store(p, m.dKankaku);
        w_.commit(Store(p, m.degKakudo));
        out_.StrOut(Cleaned(m.strFontName, scratch_), m.storedFontName);
        const std::u16string& text = Cleaned(m.str, scratch_);
        if (options && (out_.fileOutOpt() & (kOutOptBmTemp | kOutOptBmName)))
            out_.StrOut(ApplyTextOutputOptions(text, out_.fileOutOpt()), m.storedStr);
        else
            out_.StrOut(text, m.storedStr);
    }

    void Sunpo(const TEntJwwSunpo& s) {
        out_.AttrOut(s.att, kKindSunpo);
        LineBody(s.Sen);
        Moji(s.Moji, false);
        if (ver_ >= kVerSxf) {
            w_.u16(s.bSxfMode);
            LineBody(s.Ho1);
            LineBody(s.Ho2);
            TenBody(s.Te1, s.Te1.bKariten);
            TenBody(s.Te2, s.Te2.bKariten);
            TenBody(s.Kt1, s.Kt1.bKariten);
            TenBody(s.Kt2, s.Kt2.bKariten);
            return;
        }
        if (!expandSxf_ || s.bSxfMode == 0) return;
        // Versions without the SXF part get its six sub-records as entities of
        // their own; the base points become temporary points.
        constexpr std::size_t kLineSlot = kKindLine - 1;
        constexpr std::size_t kTenSlot = kKindTen - 1;
        ++st_.objectIndex;
        Tag(kLineSlot);
        LineBody(s.Ho1);
        ++st_.objectIndex;
        Tag(kLineSlot);
        LineBody(s.Ho2);
        ++st_.objectIndex;
        Tag(kTenSlot);
        TenBody(s.Te1, s.Te1.bKariten);
        ++st_.objectIndex;
        Tag(kTenSlot);
        TenBody(s.Te2, s.Te2.bKariten);
        ++st_.objectIndex;
        Tag(kTenSlot);
        TenBody(s.Kt1, 1);
        ++st_.objectIndex;
        Tag(kTenSlot);
        TenBody(s.Kt2, 1);
    }

    void Solid(const TEntJwwSolid& s) {
        std::uint8_t* p = Attr(w_.room(83), s.att, kKindSolid);
        p = Store(p, s.start_x);
        p = Store(p, s.start_y);
        p = Store(p, s.end_x);
        p = Store(p, s.end_y);
        p = Store(p, s.DPoint2_x);
        p = Store(p, s.DPoint2_y);
        p = Store(p, s.DPoint3_x);
        p = Store(p, s.DPoint3_y);
        if (s.att.nPenColor == 10) p = Store(p, s.Color);
        w_.commit(p);
    }

    void Block(const TEntJwwBlock& b) {
        std::uint8_t* p = Attr(w_.room(59), b.att, kKindBlock);
        p = Store(p, b.DPKijunTen_x);
        p = Store(p, b.DPKijunTen_y);
        p = Store(p, b.dBairitsuX);
        p = Store(p, b.dBairitsuY);
        p = Store(p, b.radKaitenKaku);
        w_.commit(Store(p, numbers_(b.nNumber)));
    }

    ArchiveOut& out_;
    ByteWriter& w_;
    const DrawingBody& body_;
    BlockNumbers numbers_;
    bool expandSxf_;
    std::int32_t ver_;
    bool wide_;
    std::u16string scratch_;
    ArchiveState st_;
};

// A rough size of the written body, so the output buffer grows once or twice.
std::size_t EstimateListBytes(const ListsOut& L) {
    return 4 + L.noN * 16 + static_cast<std::size_t>(std::max(L.lineN, 0)) * 49 +
           static_cast<std::size_t>(std::max(L.enkoN, 0)) * 77 + static_cast<std::size_t>(std::max(L.tenN, 0)) * 57 +
           static_cast<std::size_t>(std::max(L.mojiN, 0)) * 128 +
           static_cast<std::size_t>(std::max(L.sunpoN, 0)) * 560 +
           static_cast<std::size_t>(std::max(L.solidN, 0)) * 85 + static_cast<std::size_t>(std::max(L.blockN, 0)) * 61;
}

}  // namespace

const char* ClassNameOf(std::int32_t kind) {
    if (kind < 1 || kind > 8) return "";
    return kClassNames[static_cast<std::size_t>(kind - 1)];
}

void ReadBody(ArchiveIn& in, DrawingBody& body, std::int32_t& n1, std::int32_t& n2) {
    const std::uint32_t n = in.CountIn();
    // Every entity needs its tag and at least the smallest record, and the
    // block definition count follows the list.
    CheckCount(in.r, n, MinEntityBytes(in.version()), "entity");
    n1 = static_cast<std::int32_t>(n);
    n2 = 0;
    body.EntBlockDefN = 0;
    body.EntBlockDef.clear();
    // Fresh room for the order list, asked for in large pages before any of
    // it is touched, unless the room kept from the drawing before is enough
    // (it is then mapped already). A read for the counts only keeps no order.
    body.EntNo.clear();
    if (body.recordSink || body.EntNo.capacity() < n) body.EntNo.shrink_to_fit();
    if (!body.recordSink && body.EntNo.capacity() < n) {
        body.EntNo.reserve(n);
        platform::AdviseLargePages(body.EntNo.data(), n * sizeof(TEntJwwNo));
    }
    if (!body.recordSink) body.EntNo.resize(n);
    ListsIn lists = MainListsIn(body);
    lists.sink = body.recordSink;
    lists.line.clear();
    lists.enko.clear();
    lists.ten.clear();
    lists.moji.clear();
    lists.sunpo.clear();
    lists.solid.clear();
    lists.block.clear();
    lists.lineN = lists.enkoN = lists.tenN = lists.mojiN = lists.sunpoN = lists.solidN = lists.blockN = 0;
    ArchiveState st;
    TextBatch texts(in);
    try {
        ReadEntityList(in, st, lists, n, !lists.sink, texts);
        ReadBlockDefs(in, st, body, n2, texts);
    } catch (...) {
        // The texts of the records read before the failure stay readable.
        texts.Flush();
        throw;
    }
    texts.Flush();
}

void WriteBody(ArchiveOut& out, const DrawingBody& body, std::int32_t n1, std::int32_t n2,
               std::int32_t sourceVer) {
    std::size_t estimate = EstimateListBytes(MainListsOut(body, n1));
    const std::size_t defs = Clamp(std::min<std::int64_t>(n2, body.EntBlockDefN), body.EntBlockDef.size());
    for (std::size_t i = 0; i < defs; ++i)
        if (body.EntBlockDef[i].ref_flag) estimate += 64 + EstimateListBytes(DefListsOut(body.EntBlockDef[i]));
    out.w.reserve(out.w.size() + estimate);

    BodyWriter writer(out, body, sourceVer);
    writer.WriteList(MainListsOut(body, n1));
    writer.WriteBlockDefs(n2);
}

}  // namespace tervalo
