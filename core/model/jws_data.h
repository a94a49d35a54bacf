// The JWS figure container: a 452-byte header, then the same entity list and
// block definitions as a JWW drawing (no image section at any version).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "model/drawing_body.h"

namespace tervalo {

class ByteReader;
class ByteWriter;

struct TEntJwsHeader {
    std::u16string jwID;
    std::int32_t jwVer = 0;
    double BasePoint_x = 0, BasePoint_y = 0;
    std::int32_t dmy01 = 0, dmy02 = 0, dmy03 = 0, dmy04 = 0, dmy05 = 0, dmy06 = 0;
    double dmy11 = 0, dmy12 = 0, dmy13 = 0, dmy14 = 0, dmy15 = 0, dmy16 = 0;
    double Mx1 = 0, My1 = 0, Mx2 = 0, My2 = 0;
    std::int32_t n1 = 0;
    std::int32_t n2 = 0;
    bool operator==(const TEntJwsHeader&) const = default;
};

class TJwsData : public DrawingBody {
public:
    TJwsData();   // Create: constructs and runs DataInit
    ~TJwsData();  // Destroy: runs DataFree
    TJwsData(const TJwsData&) = delete;
    TJwsData& operator=(const TJwsData&) = delete;

    TEntJwsHeader Enthd;

    static constexpr std::size_t kHeaderSize = 452;

    void DataInit();
    void DataFree();

    // True when the file carries "JwsData" and a version from 230 to 700.
    bool FileCheck(const std::filesystem::path& FName) const;
    // The same for the first bytes of a file (or all of them).
    static bool HeadCheck(std::span<const std::uint8_t> head);
    // Empties the container and reads the header only.
    bool FileHeaderIn(const std::filesystem::path& FName);
    // Reads the whole figure; false when any section is incomplete.
    bool FileIn(const std::filesystem::path& FName);
    // Writes the figure as version Ver (230 and below become 230, 300 becomes
    // 351); a failed write leaves no file.
    bool FileOut(const std::filesystem::path& FName, std::int32_t Ver);

    bool ReadFromBuffer(std::span<const std::uint8_t> data);
    bool WriteToBuffer(std::int32_t Ver, std::vector<std::uint8_t>& out);
    bool ReadFrom(ByteReader& r);
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

    // The version FileOut writes for a requested version.
    static std::int32_t NormalizeVersion(std::int32_t Ver);

    const std::string& LastError() const { return lastError_; }

private:
    bool HeaderIn(ByteReader& r, bool lenient);
    void HeaderOut(ByteWriter& w, std::int32_t Ver);

    std::string lastError_;
    std::size_t bodyOffset_ = 0;
};

}  // namespace tervalo
