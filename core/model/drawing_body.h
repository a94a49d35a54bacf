// What the JWW drawing container and the JWS figure container hold alike:
// the entity lists, the block definitions and block tree, the bound-image
// list, the output options and the Unicode flag. One body codec reads and
// writes this part for both file kinds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "model/records.h"

namespace tervalo {

// The archive strings kept byte for byte by a read (see StoredString). The
// id differs for every read, so a record carried over from another container
// never takes these bytes for its own.
struct StoredStrings {
    std::vector<std::uint8_t> bytes;
    std::uint64_t id = 0;
    // Empties the bytes (keeping room of up to `keptRoom` bytes) and takes a
    // new id.
    void Reset(std::size_t keptRoom = 0);
};

// Takes the records of a drawing's own list as they are read, for a reader
// that wants to count them without keeping them (see DrawingBody::recordSink).
class RecordSink {
public:
    virtual void Take(const TEntJwwLine& line) = 0;
    virtual void Take(const TEntJwwEnko& arc) = 0;
    virtual void Take(const TEntJwwTen& point) = 0;
    virtual void Take(const TEntJwwMoji& text) = 0;
    virtual void Take(const TEntJwwSunpo& dimension) = 0;
    virtual void Take(const TEntJwwSolid& solid) = 0;
    // Every insert; the list keeps only the first of each block number.
    virtual void Take(const TEntJwwBlock& insert) = 0;

protected:
    ~RecordSink() = default;
};

class DrawingBody {
public:
    std::vector<TEntJwwLayerGroup> EntLgrp;
    std::vector<TEntJwwMojiType> EntMoj;
    std::vector<TEntJwwNo> EntNo;

    std::vector<TEntJwwLine> EntLine;
    std::int32_t EntLineN = 0;
    std::vector<TEntJwwEnko> EntEnko;
    std::int32_t EntEnkoN = 0;
    std::vector<TEntJwwTen> EntTen;
    std::int32_t EntTenN = 0;
    std::vector<TEntJwwMoji> EntMoji;
    std::int32_t EntMojiN = 0;
    std::vector<TEntJwwSunpo> EntSunpo;
    std::int32_t EntSunpoN = 0;
    std::vector<TEntJwwSolid> EntSolid;
    std::int32_t EntSolidN = 0;
    std::vector<TEntJwwBlock> EntBlock;
    std::int32_t EntBlockN = 0;
    std::vector<TEntJwwBlockDef> EntBlockDef;
    std::int32_t EntBlockDefN = 0;
    std::vector<TEntJwwBlockTree> EntBlockTree;
    std::int32_t EntBlockTreeN = 0;
    std::int32_t EntBlockNum = 0;

    std::filesystem::path BindImageFolder;
    std::vector<TBindImageType> BindImage;
    std::int32_t BindImageN = 0;
    bool BindImageExp = false;
    bool BindImageExr = false;

    std::int32_t FileOutOpt = 0;
    std::int32_t FontNameN = 0;
    std::vector<std::u16string> FontNames;
    bool MojiEncode = false;
    StoredStrings storedStrings;
    double myMinWx = 0, myMinWy = 0, myMaxWx = 0, myMaxWy = 0;
    // When set, a read hands the records of the drawing's own list to it
    // instead of keeping them: the lists stay empty but for the first block
    // insert of each block number (which decide the referenced definitions
    // just as all of them do), memory does not grow with
    // the drawing, and the body cannot be written. The records handed on
    // have empty texts (their strings are passed over). Kept by DataInit.
    RecordSink* recordSink = nullptr;

    // FileOutOpt := n when 0 <= n <= 63, otherwise 0.
    void SetFileOutOption(std::int32_t n);
    // Empties the bound-image list.
    void BindImageInit();
    // Decides which definitions are referenced and their output numbers
    // (ref_flag, ref_no, EntBlockNum) and empties the block tree. Reading
    // runs this; it takes time and memory in proportion to the drawing.
    void MarkBlockReferences();
    // MarkBlockReferences, then builds the block tree (up to
    // kMaxBlockTreeNodes nodes), for callers that want the placements.
    void MakeBlockTree();
    // The output block number of an insert's block number n: the ref_no of
    // the first definition with that number, or EntBlockNum (a number no
    // written definition has) when no referenced definition answers to it.
    // A written definition carries its own ref_no.
    std::uint32_t ChangeBlockNo(std::uint32_t n) const;

    // Upper bound on the nodes of the block tree; the referenced set and the
    // output numbering never depend on it.
    static constexpr std::int32_t kMaxBlockTreeNodes = 1'000'000;
    // A list (or the stored string bytes) whose room is at most this many
    // bytes keeps it when the body is emptied, so that the next drawing read
    // into the same container (a batch reads many) reuses pages already
    // mapped instead of faulting fresh ones in; a larger one gives it back.
    static constexpr std::size_t kKeptListBytes = std::size_t{16} << 20;

protected:
    DrawingBody() = default;
    ~DrawingBody() = default;
    // Resets everything of the body that DataInit resets (not the image
    // folder, the two image flags, the extents or the record sink). The
    // lists keep room of up to kKeptListBytes each.
    void ResetBody();
    // Releases the member lists of every block definition below EntBlockDefN.
    void FreeBlockDefMembers();
};

}  // namespace tervalo
