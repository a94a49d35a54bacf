// Pieces shared by the .jwc and .jwk header readers: the 200-byte block
// reader over an in-memory copy of the file's start, the decoding of a
// parameter block and the conversion of single parameters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/byte_reader.h"
#include "text/encoding.h"

namespace tervalo::dos {

// Size of one header block, and how many bytes of a file a header can occupy
// (four blocks).
inline constexpr std::size_t kBlockSize = 200;
inline constexpr std::size_t kMaxHeaderBytes = 4 * kBlockSize;

// Reads consecutive 200-byte blocks into one buffer. A block cut short by
// the end of the data replaces only the start of the buffer; the rest keeps
// the previous block's bytes (zeros before the first block). A read that
// yields no bytes at all raises IoError("File I/O Error").
class HeaderBlockReader {
public:
    explicit HeaderBlockReader(ByteSpan data) : reader_(data) {}

    void ReadBlock();
    ByteSpan Block() const { return ByteSpan(buffer_.data(), kBlockSize); }
    // Bytes [offset, offset + count) of the current block.
    ByteSpan Field(std::size_t offset, std::size_t count) const;

private:
    ByteReader reader_;
    int blocksRead_ = 0;
    std::array<std::uint8_t, kBlockSize> buffer_{};
};

// True when the file's first 20 bytes, decoded as code page 932 and cut at
// their first NUL, equal the signature exactly. False when the file cannot
// be opened.
bool FileHasSignature(const std::filesystem::path& path, const std::u16string& signature);

// Reads the identification block: the identification text (40 bytes) and the
// two comments (32 bytes each), each decoded and cut at its first NUL.
void ReadIdentBlock(HeaderBlockReader& reader, std::u16string& jwID, std::u16string& comment1,
                    std::u16string& comment2);

// Reads one parameter block and returns its 200 bytes as text, NULs kept.
std::u16string ReadParamBlock(HeaderBlockReader& reader);

// Code page 932 text of the bytes, keeping every zero byte as U+0000.
std::u16string AnsiBytesToTextKeepNul(ByteSpan bytes);

// Splits the comma-separated text into para[0 .. n-1]; entries without a
// value read "0", values after the n-th are ignored. para is resized to n.
void SplitParamsInto(std::vector<std::u16string>& para, std::u16string text, std::int32_t n);

// The text before its first NUL character.
std::u16string CutAtNul(const std::u16string& text);

// Parameter i of para as an integer / a single; 0 when missing or malformed.
std::int32_t ParamInt(const std::vector<std::u16string>& para, std::size_t i);
float ParamSingle(const std::vector<std::u16string>& para, std::size_t i);

// A segment:offset address "SSSS:OOOO" (hexadecimal digits; the character
// between is not examined) as a linear address segment * 16 + offset. Short
// texts give shorter or empty digit groups, which read as 0.
std::int32_t SegmentAddress(const std::u16string& param);

}  // namespace tervalo::dos
