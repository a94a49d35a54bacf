// The JWW drawing container: header, tables, entity lists, block definitions
// and bound images of one drawing, with its file operations.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "model/drawing_body.h"
#include "model/jww_header.h"

namespace tervalo {

class ByteReader;
class ByteWriter;
class ArchiveIn;
class ArchiveOut;

class TJwwData : public DrawingBody {
public:
    TJwwData();   // Create: constructs and runs DataInit
    ~TJwwData();  // Destroy: runs DataFree
    TJwwData(const TJwwData&) = delete;
    TJwwData& operator=(const TJwwData&) = delete;

    TEntJwwHeader Enthd;
    std::vector<TEntJwwLayer> EntLay;
    std::vector<TEntJwwColorNo> EntCol;
    std::vector<TEntJwwLineTypeNo> EntLtp1;
    std::vector<TEntJwwRandomLineNo> EntLtp2;
    std::vector<TEntJwwLineTypeNo> EntLtp3;
    std::vector<TEntJwwColorExNo> EntColS;
    std::vector<TEntJwwLineTypeExNo> EntLtpS;

    void DataInit();
    void DataFree();

    // True when the file starts with "JwwData." and a version from 220 to 700.
    bool FileCheck(const std::filesystem::path& FName) const;
    // The same for the first bytes of a file (or all of them).
    static bool HeadCheck(std::span<const std::uint8_t> head);
    // Empties the container and reads the header and tables only.
    bool FileHeaderIn(const std::filesystem::path& FName);
    // Reads the whole drawing; false when any section is incomplete.
    bool FileIn(const std::filesystem::path& FName);
    // Writes the drawing as a file of version Ver; a failed write leaves no file.
    bool FileOut(const std::filesystem::path& FName, std::int32_t Ver);

    // In-memory forms of FileIn and FileOut (the image section still uses
    // BindImageFolder). Used by the file operations, tests and fuzzers.
    bool ReadFromBuffer(std::span<const std::uint8_t> data);
    bool WriteToBuffer(std::int32_t Ver, std::vector<std::uint8_t>& out);
    // Reads the drawing from a reader (whole buffer or a window over a file).
    bool ReadFrom(ByteReader& r);
    // Writes the drawing through `sink`, which receives the file in pieces
    // and throws IoError to stop; false with LastError() on any failure.
    bool WriteTo(std::int32_t Ver, const std::function<void(std::span<const std::uint8_t>)>& sink);
    // Where the body of the last read began (just past the header).
    std::size_t BodyOffset() const { return bodyOffset_; }
    // Writes what WriteTo writes for the whole read of a file, from a read of
    // it that handed the records of its own list to a record sink: those
    // records are read again from `r` (the same file, at BodyOffset()), a
    // part at a time, and each part is handed to `convert` (which may change
    // its records) before it is written. Only for a version that expands no
    // dimensions (the version read, or any from 420 on).
    bool StreamTo(std::int32_t Ver, ByteReader& r, const std::function<void(DrawingBody&)>& convert,
                  const std::function<void(std::span<const std::uint8_t>)>& sink);

    // Deletes the copied-out image files ending in .gz, and the others.
    void BindImageDeleteGzFile();
    void BindImageDeleteNonGzFile();
    // The file of a bound image's name in BindImageFolder; empty for a name
    // that could reach outside that folder or name a device.
    std::filesystem::path BindImagePath(const std::u16string& name) const;

    // The reason of the last failed FileIn/FileHeaderIn/FileOut, for people.
    const std::string& LastError() const { return lastError_; }

private:
    bool HeaderIn(ByteReader& r, bool lenient);
    void HeaderOut(ByteWriter& w, std::int32_t Ver);
    void ImagesIn(ArchiveIn& in);
    // With `mainTexts`, those are the texts of the drawing's own list that
    // may refer to an image (its list itself is not looked at).
    void ImagesOut(ArchiveOut& out, const std::vector<std::u16string>* mainTexts = nullptr);

    std::string lastError_;
    std::size_t bodyOffset_ = 0;
};

// Whether the text of a text entity has the form of a reference to a bound
// image (only such texts keep an image when the drawing is written).
bool IsImageReference(const std::u16string& text);

}  // namespace tervalo
