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
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "fs/fsutil.h"
#include "fs/platform.h"
#include "model/entity_lists.h"
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

std::size_t Clamp(std::int64_t n, std::size_t size) {
    if (n <= 0) return 0;
    return std::min<std::size_t>(static_cast<std::size_t>(n), size);
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

// ---------------------------------------------------------------------------
// The records of the seven entity kinds and the head of a block definition,
// each described once for reading (BodyIn) and writing (BodyOut).

using TextField = TextBatch::Field;

template <typename IO>
TERVALO_INLINE void Transfer(IO& io, Rec<IO, TEntJwwLine>& l) {
    io.Record(l.att, kKindLine, l.start_x, l.start_y, l.end_x, l.end_y);
}

template <typename IO>
TERVALO_INLINE void Transfer(IO& io, Rec<IO, TEntJwwEnko>& e) {
    io.Record(e.att, kKindEnko, e.start_x, e.start_y, e.dHankei, e.radKaishiKaku, e.radEnkoKaku,
              e.radKatamukiKaku, e.dHenpeiRitsu, e.bZenEnFlg);
}

// A point; the marker fields follow only for a point marker. Other points
// read get code 0, rotation 0 and the scale `plainScale`.
template <typename IO>
TERVALO_INLINE void Transfer(IO& io, Rec<IO, TEntJwwTen>& t, double plainScale = 0.0) {
    io.Record(t.att, kKindTen, t.start_x, t.start_y, t.bKariten);
    if (t.att.nPenStyle == kMarkerPenStyle) {
        io.Fields(t.nCode, t.radKaitenKaku, t.dBairitsu);
    } else if constexpr (IO::kReading) {
        t.nCode = 0;
        t.radKaitenKaku = 0.0;
        t.dBairitsu = plainScale;
    }
}

// A text record, of its own or as the text of a dimension (which the output
// options leave alone).
template <typename IO>
void Transfer(IO& io, Rec<IO, TEntJwwMoji>& m, bool dimension = false) {
    io.Record(m.att, kKindMoji, m.start_x, m.start_y, m.end_x, m.end_y, m.nMojiShu,
              Adjust(m.dSizeX, kTextSizeIn, kTextSizeOut), Adjust(m.dSizeY, kTextSizeIn, kTextSizeOut), OnRead(m.dKankaku, kTextSpacingIn),
              m.degKakudo);
    io.Text(m.strFontName, m.storedFontName, dimension ? TextField::kSunpoFont : TextField::kMojiFont);
    io.Text(m.str, m.storedStr, dimension ? TextField::kSunpoStr : TextField::kMojiStr);
}

template <typename IO>
void Transfer(IO& io, Rec<IO, TEntJwwSunpo>& s) {
    io.Record(s.att, kKindSunpo);
    Transfer(io, s.Sen);
    Transfer(io, s.Moji, true);
    if (io.version() >= kVerSxf) {
        io.Fields(s.bSxfMode);
        Transfer(io, s.Ho1);
        Transfer(io, s.Ho2);
        for (auto* t : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) Transfer(io, *t);
    } else if constexpr (IO::kReading) {
        // Older files have no SXF part: the sub-records carry the
        // dimension's attribute and zero coordinates.
        s.bSxfMode = 0;
        for (TEntJwwLine* l : {&s.Ho1, &s.Ho2}) {
            *l = TEntJwwLine{};
            AttrCopy(s.att, l->att);
        }
        for (TEntJwwTen* t : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) {
            *t = TEntJwwTen{};
            AttrCopy(s.att, t->att);
            t->att.nPenStyle = 0;
        }
    }
}

template <typename IO>
TERVALO_INLINE void Transfer(IO& io, Rec<IO, TEntJwwSolid>& s) {
    io.Record(s.att, kKindSolid, s.start_x, s.start_y, s.end_x, s.end_y, s.DPoint2_x, s.DPoint2_y,
              s.DPoint3_x, s.DPoint3_y);
    // A solid of pen colour 10 has a colour of its own.
    if (s.att.nPenColor == 10)
        io.Fields(s.Color);
    else if constexpr (IO::kReading)
        s.Color = 0;
}

template <typename IO>
TERVALO_INLINE void Transfer(IO& io, Rec<IO, TEntJwwBlock>& b) {
    io.Record(b.att, kKindBlock, b.DPKijunTen_x, b.DPKijunTen_y, b.dBairitsuX, b.dBairitsuY, b.radKaitenKaku,
              io.BlockNumber(b.nNumber));
}

// The head of a block definition (its entities follow as a list). A written
// definition carries its own output number: a later definition sharing a
// number with an earlier one must not take that one's number. A definition
// read in the long time form keeps its ordinal instead of its time.
template <typename IO>
void Transfer(IO& io, Rec<IO, TEntJwwBlockDef>& d, std::uint32_t ordinal) {
    io.Record(d.att, kKindBlockDef,
              OnWrite(d.nNumber, [&d](std::uint32_t) { return static_cast<std::uint32_t>(d.ref_no); }), d.bRefferd,
              d.dtime);
    if constexpr (IO::kReading) {
        if (d.dtime >= kLongTimeForm) {
            io.Filler(8, 0);
            d.dtime = ordinal;
        }
    }
    io.Name(d.strName, d.storedName);
}

// The reading cursor of the body. The texts of a record wait in the batch by
// the list the record goes into and its index there.
class BodyIn : public FieldReader {
public:
    BodyIn(ArchiveIn& in, TextBatch& texts) : FieldReader(in), texts_(texts) {}

    std::uint32_t& BlockNumber(std::uint32_t& n) const { return n; }

    // The next record read goes into `list` at `index`.
    void Into(void* list, std::size_t index) {
        list_ = list;
        index_ = index;
    }

    void Text(std::u16string& s, StoredString& keep, TextField field) {
        ArchiveIn& in = archive();
        if (!in.stored()) {
            s = in.NameIn(&keep);
            return;
        }
        std::uint32_t deferred = 0;
        s = in.NameInDeferred(keep, deferred);
        if (deferred) texts_.Add(list_, index_, field, keep, deferred);
    }

private:
    TextBatch& texts_;
    void* list_ = nullptr;
    std::size_t index_ = 0;
};

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
// A point read without marker fields gets the scale `plainScale`.
// kCounting: a read that counts only hands the records to `sink` and keeps
// no order; of the inserts it keeps the first of each block number, since
// they decide which definitions count (and hands every insert to the sink).
// (A template, so that the ordinary read pays nothing for it.)
template <bool kCounting>
void ReadEntityListAs(BodyIn& io, ArchiveState& st, const EntityLists& L, std::uint32_t n, bool reserve,
                      double plainScale, TextBatch& texts, RecordSink* sink) {
    ArchiveIn& in = io.archive();
    std::uint32_t counter = 0;
    std::array<ListPlan, 7> plans;
    // The block numbers of the inserts kept by a read that counts.
    [[maybe_unused]] std::conditional_t<kCounting, std::unordered_set<std::uint32_t>, char> insertNumbers{};
    while (counter < n) {
        const std::int32_t kind = ReadEntityTag(in, st);
        if (kind == 0) continue;  // a tag of no entity class: no object follows
        std::int32_t index = 0;
        L.With(kind, [&](const auto& list) {
            using T = typename std::decay_t<decltype(list)>::Record;
            constexpr bool kTexts = std::is_same_v<T, TEntJwwMoji> || std::is_same_v<T, TEntJwwSunpo>;
            constexpr bool kSunk = kCounting && !std::is_same_v<T, TEntJwwBlock>;
            if (reserve)
                plans[static_cast<std::size_t>(kind - 1)].BeforeAppend(list.items, kind, counter, n,
                                                                       in.r.remaining() + 2);
            T record;
            if constexpr (std::is_same_v<T, TEntJwwTen>) {
                Transfer(io, record, plainScale);
            } else {
                // A sunk text is not in its list: its batch entry decodes nothing.
                if constexpr (kTexts) io.Into(&list.items, list.items.size());
                Transfer(io, record);
            }
            if constexpr (kSunk) {
                sink->Take(record);
            } else if constexpr (kCounting) {
                sink->Take(record);
                if (insertNumbers.insert(record.nNumber).second) list.Append(std::move(record));
            } else {
                list.Append(std::move(record));
                index = list.count - 1;
            }
            if constexpr (kTexts) texts.FlushIfFull();
        });
        if constexpr (!kCounting) L.no[counter] = TEntJwwNo{kind, index};
        ++counter;
        ++st.objectIndex;
    }
}

// Reads `n` entity objects into the lists; L.no has n entries already
// (none for a read that counts into `sink`).
void ReadEntityList(BodyIn& io, ArchiveState& st, const EntityLists& L, std::uint32_t n, bool reserve,
                    double plainScale, TextBatch& texts, RecordSink* sink = nullptr) {
    if (sink) ReadEntityListAs<true>(io, st, L, n, reserve, plainScale, texts, sink);
    else ReadEntityListAs<false>(io, st, L, n, reserve, plainScale, texts, nullptr);
}

void ReadBlockDefs(BodyIn& io, ArchiveState& st, DrawingBody& body, std::int32_t& n2, TextBatch& texts) {
    ArchiveIn& in = io.archive();
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
        Transfer(io, def, d + 1);
        const std::uint32_t n = in.CountIn();
        CheckCount(in.r, n, MinEntityBytes(ver), "entity");
        def.N = static_cast<std::int32_t>(n);
        def.mNo.assign(n, TEntJwwNo{});
        ++st.objectIndex;
        ReadEntityList(io, st, ListsOf(def), n, false, 0.0, texts);
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

// The writing cursor of the body: block numbers become output numbers, and
// the output options apply to the text of text entities.
class BodyOut : public FieldWriter {
public:
    BodyOut(ArchiveOut& out, const DrawingBody& body) : FieldWriter(out), numbers_(body) {}

    std::uint32_t BlockNumber(std::uint32_t n) const { return numbers_(n); }

    // A string no rule changes goes out with its stored bytes.
    void Text(const std::u16string& s, const StoredString& keep, TextField field) {
        ArchiveOut& out = archive();
        const std::u16string& text = Cleaned(s, scratch_);
        if (field == TextField::kMojiStr && (out.fileOutOpt() & (kOutOptBmTemp | kOutOptBmName)))
            out.StrOut(ApplyTextOutputOptions(text, out.fileOutOpt()), keep);
        else
            out.StrOut(text, keep);
    }

private:
    BlockNumbers numbers_;
    std::u16string scratch_;
};

class BodyWriter {
public:
    BodyWriter(ArchiveOut& out, const DrawingBody& body, std::int32_t sourceVer)
        : out_(out), w_(out.w), body_(body), io_(out, body),
          expandSxf_(out.ver() < kVerSxf && sourceVer >= kVerSxf) {}

    // Whether dimensions gain sub-records of their own (the count of a list
    // then depends on its dimensions).
    bool ExpandsDimensions() const { return expandSxf_; }

    // The first `n` entries of a list, without their count (written before).
    void WriteRecords(const ConstEntityLists& L, std::int32_t n) { WriteEntities(L, L.Order(n)); }

    void WriteList(const ConstEntityLists& L, std::int32_t n) {
        const auto order = L.Order(n);
        out_.CountOut(CountObjects(L, order));
        WriteEntities(L, order);
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
            Transfer(io_, d, 0);
            // The definition's entity count, then the definition takes its
            // object index, then its entities follow.
            const ConstEntityLists L = ListsOf(d);
            const auto order = L.Order(d.N);
            out_.CountOut(CountObjects(L, order));
            ++st_.objectIndex;
            WriteEntities(L, order);
        }
    }

private:
    // Objects written for the list: its live entries, and six more for every
    // dimension whose SXF part is expanded.
    std::uint32_t CountObjects(const ConstEntityLists& L, std::span<const TEntJwwNo> order) const {
        std::uint64_t total = 0;
        for (const TEntJwwNo& e : order) {
            L.With(e.EntType, [&](const auto& list) {
                if (!list.Has(e.EntNo)) return;
                ++total;
                if constexpr (std::is_same_v<typename std::decay_t<decltype(list)>::Record, TEntJwwSunpo>)
                    if (expandSxf_ && list.items[static_cast<std::size_t>(e.EntNo)].bSxfMode != 0) total += 6;
            });
        }
        if (total > 0xFFFFFFFFu) throw IoError(kFileIoError, "too many entities for one list");
        return static_cast<std::uint32_t>(total);
    }

    void WriteEntities(const ConstEntityLists& L, std::span<const TEntJwwNo> order) {
        for (const TEntJwwNo& e : order) {
            L.With(e.EntType, [&](const auto& list) {
                if (!list.Has(e.EntNo)) return;
                Tag(static_cast<std::size_t>(e.EntType - 1));
                Write(list.items[static_cast<std::size_t>(e.EntNo)]);
                ++st_.objectIndex;
            });
        }
    }

    template <typename T>
    void Write(const T& record) {
        Transfer(io_, record);
    }

    void Write(const TEntJwwSunpo& s) {
        Transfer(io_, s);
        if (!expandSxf_ || s.bSxfMode == 0) return;
        // Versions without the SXF part get its six sub-records as entities of
        // their own; the base points become temporary points.
        constexpr std::size_t kLineSlot = kKindLine - 1;
        constexpr std::size_t kTenSlot = kKindTen - 1;
        for (const TEntJwwLine* l : {&s.Ho1, &s.Ho2}) {
            ++st_.objectIndex;
            Tag(kLineSlot);
            Transfer(io_, *l);
        }
        for (const TEntJwwTen* t : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) {
            TEntJwwTen point = *t;
            if (t == &s.Kt1 || t == &s.Kt2) point.bKariten = 1;
            ++st_.objectIndex;
            Tag(kTenSlot);
            Transfer(io_, point);
        }
    }

    // The tag of the class in `slot`: its introduction the first time, a
    // reference afterwards.
    TERVALO_INLINE void Tag(std::size_t slot) {
        const std::uint32_t index = st_.slots[slot];
        if (index != 0 && index < 0x7FFF)
            w_.u16(static_cast<std::uint16_t>(0x8000 + index));
        else
            FirstOrLongTag(slot);
    }

    void FirstOrLongTag(std::size_t slot) {
        std::uint32_t& index = st_.slots[slot];
        if (index == 0) {
            const char* name = kClassNames[slot];
            const std::size_t length = std::strlen(name);
            w_.u16(0xFFFF);
            w_.u16(static_cast<std::uint16_t>(out_.ver()));
            w_.u16(static_cast<std::uint16_t>(length));
            w_.bytes({reinterpret_cast<const std::uint8_t*>(name), length});
            index = st_.objectIndex++;
        } else {
            out_.ClassTagOut(index);
        }
    }

    ArchiveOut& out_;
    ByteWriter& w_;
    const DrawingBody& body_;
    BodyOut io_;
    bool expandSxf_;
    ArchiveState st_;
};

// A rough size of the written body, so the output buffer grows once or twice.
std::size_t EstimateListBytes(const ConstEntityLists& L, std::int32_t n) {
    // Bytes of a record of each kind, tag included (kind k at k-1).
    constexpr std::array<std::size_t, 7> kBytes = {49, 77, 57, 128, 560, 85, 61};
    std::size_t total = 4 + L.Order(n).size() * 16;
    L.ForEach([&](const auto& list) {
        total += static_cast<std::size_t>(std::max(list.count, 0)) * kBytes[static_cast<std::size_t>(list.kKind - 1)];
    });
    return total;
}

// A part of the drawing's own list, read and written before the next part is read.
struct ListChunk final : DrawingBody {};

// Records of the drawing's own list held at once while streaming.
constexpr std::uint32_t kChunkRecords = 4096;

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
    const EntityLists lists = ListsOf(body);
    lists.ForEach([](const auto& list) { list.Clear(); });
    ArchiveState st;
    TextBatch texts(in);
    BodyIn io(in, texts);
    try {
        // A read that counts only keeps no bytes of the strings it hands on,
        // nor looks at their texts.
        StoredStrings* const stored = body.recordSink ? in.KeepStringsIn(nullptr) : nullptr;
        in.PassOverTexts(body.recordSink != nullptr);
        ReadEntityList(io, st, lists, n, !body.recordSink, 1.0, texts, body.recordSink);
        in.PassOverTexts(false);
        if (body.recordSink) in.KeepStringsIn(stored);
        ReadBlockDefs(io, st, body, n2, texts);
    } catch (...) {
        // The texts of the records read before the failure stay readable.
        texts.Flush();
        throw;
    }
    texts.Flush();
}

void WriteBody(ArchiveOut& out, const DrawingBody& body, std::int32_t n1, std::int32_t n2,
               std::int32_t sourceVer) {
    std::size_t estimate = EstimateListBytes(ListsOf(body), n1);
    const std::size_t defs = Clamp(std::min<std::int64_t>(n2, body.EntBlockDefN), body.EntBlockDef.size());
    for (std::size_t i = 0; i < defs; ++i) {
        const TEntJwwBlockDef& d = body.EntBlockDef[i];
        if (d.ref_flag) estimate += 64 + EstimateListBytes(ListsOf(d), d.N);
    }
    out.w.reserve(out.w.size() + estimate);

    BodyWriter writer(out, body, sourceVer);
    writer.WriteList(ListsOf(body), n1);
    writer.WriteBlockDefs(n2);
}

void StreamBody(ArchiveIn& in, ArchiveOut& out, DrawingBody& model, std::int32_t n1, std::int32_t n2,
                std::int32_t sourceVer, const std::function<void(DrawingBody&)>& convert) {
    BodyWriter writer(out, model, sourceVer);
    if (writer.ExpandsDimensions()) throw std::logic_error("a list whose dimensions expand is not streamed");
    const std::uint32_t n = in.CountIn();
    CheckCount(in.r, n, MinEntityBytes(in.version()), "entity");
    if (static_cast<std::int64_t>(n) != n1)
        throw IoError(kFileIoError, "the file changed while it was converted: " + std::to_string(n) +
                                        " entities where " + std::to_string(n1) + " were read");
    // Every record read is live, so the count is the source's.
    out.CountOut(n);
    // The texts of each part keep their bytes past those of the model's own
    // strings (header and definitions), and give the room back once written.
    StoredStrings* const stored = in.stored() ? &model.storedStrings : nullptr;
    const std::size_t mark = stored ? stored->bytes.size() : 0;
    ListChunk chunk;
    const EntityLists lists = ListsOf(chunk);
    ArchiveState st;
    TextBatch texts(in);
    BodyIn io(in, texts);
    for (std::uint32_t done = 0; done < n;) {
        const std::uint32_t k = std::min(n - done, kChunkRecords);
        lists.ForEach([](const auto& list) { list.Clear(); });
        chunk.EntNo.assign(k, TEntJwwNo{});
        ReadEntityList(io, st, lists, k, false, 1.0, texts);
        texts.Flush();
        convert(chunk);
        writer.WriteRecords(ListsOf(std::as_const(chunk)), static_cast<std::int32_t>(k));
        if (stored) stored->bytes.resize(mark);
        done += k;
    }
    writer.WriteBlockDefs(n2);
}

}  // namespace tervalo
