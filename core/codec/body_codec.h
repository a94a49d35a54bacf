// The body codec shared by JWW drawings and JWS figures: the entity list
// (lines, arcs, points, texts, dimensions, solids, block inserts) and the block
// definition section, in the object archive of the Jw_cad formats.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "archive/archive.h"
#include "model/drawing_body.h"

namespace tervalo {

// Object index and class slots of one read or write, from the entity count to
// the end of the block definitions.
struct ArchiveState {
    std::uint32_t objectIndex = 1;
    // Class index of each class, 0 while not introduced. Slot k-1 is kind k;
    // slot 7 is the block definition class.
    std::array<std::uint32_t, 8> slots{};
    // The last short class-reference tag read and the kind it selected
    // (most entities follow one of their own kind).
    std::uint16_t lastTag = 0;
    std::int32_t lastKind = 0;
};

// Reads the entity list and then the block definition section into `body`.
// Sets n1 (order entries) and n2 (definitions). Throws IoError when the data
// end before the structure they announce is complete, or on an unknown class.
// The body's lists are trimmed to their counts even when it throws.
// With body.recordSink set, the records of the drawing's own list (all but
// the block inserts) go to the sink instead of the lists, and no order list
// is kept.
void ReadBody(ArchiveIn& in, DrawingBody& body, std::int32_t& n1, std::int32_t& n2);

// Writes the entity list and the referenced block definitions for the target
// version out.ver(). `sourceVer` is the version the drawing was read in (it
// decides the SXF expansion of dimensions for versions below 420).
void WriteBody(ArchiveOut& out, const DrawingBody& body, std::int32_t n1, std::int32_t n2,
               std::int32_t sourceVer);

// Writes the drawing's own list as it reads it from `in` (positioned at the
// entity count), a part at a time, then the referenced block definitions of
// `model`. `model` is a read that counted its own list (a record sink):
// it holds the block definitions, their numbering and the strings they keep;
// `in` keeps its strings in model.storedStrings (or nowhere). Each part is
// handed to `convert` before it is written. The bytes are those WriteBody
// writes for the whole read of the same file; the list must be written in a
// form that expands no dimensions. Throws IoError as ReadBody and WriteBody
// do, and when the entity count is not `n1`.
void StreamBody(ArchiveIn& in, ArchiveOut& out, DrawingBody& model, std::int32_t n1, std::int32_t n2,
                std::int32_t sourceVer, const std::function<void(DrawingBody&)>& convert);

// Class names of the archive, by kind code 1..8.
const char* ClassNameOf(std::int32_t kind);

}  // namespace tervalo
