#include "dos/header_blocks.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fs/fsutil.h"
#include "text/func.h"

namespace tervalo::dos {

void HeaderBlockReader::ReadBlock() {
    const std::size_t count = std::min(kBlockSize, reader_.remaining());
    if (count == 0)
        throw IoError(kFileIoError, "header block " + std::to_string(blocksRead_ + 1) + " missing");
    const ByteSpan bytes = reader_.bytes(count);
    std::copy(bytes.begin(), bytes.end(), buffer_.begin());
    ++blocksRead_;
}

ByteSpan HeaderBlockReader::Field(std::size_t offset, std::size_t count) const {
    if (offset >= kBlockSize) return {};
    return ByteSpan(buffer_.data() + offset, std::min(count, kBlockSize - offset));
}

bool FileHasSignature(const std::filesystem::path& path, const std::u16string& signature) {
    Bytes head;
    if (!ReadFilePrefix(path, signature.size(), head)) return false;
    return AnsiBytesToText(head) == signature;
}

void ReadIdentBlock(HeaderBlockReader& reader, std::u16string& jwID, std::u16string& comment1,
                    std::u16string& comment2) {
    reader.ReadBlock();
    jwID = AnsiBytesToText(reader.Field(0, 40));
    comment1 = AnsiBytesToText(reader.Field(40, 32));
    comment2 = AnsiBytesToText(reader.Field(72, 32));
}

std::u16string ReadParamBlock(HeaderBlockReader& reader) {
    reader.ReadBlock();
    return AnsiBytesToTextKeepNul(reader.Block());
}

std::u16string AnsiBytesToTextKeepNul(ByteSpan bytes) {
    // A zero byte is never part of a double-byte character in code page 932,
    // so decoding each run between zero bytes on its own is exact.
    std::u16string text;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == 0) {
            if (i > start) text += AnsiBytesToText(bytes.subspan(start, i - start));
            if (i < bytes.size()) text += u'\0';
            start = i + 1;
        }
    }
    return text;
}

void SplitParamsInto(std::vector<std::u16string>& para, std::u16string text, std::int32_t n) {
    if (n <= 0) {
        para.clear();
        return;
    }
    para.assign(static_cast<std::size_t>(n), u"0");
    for (std::size_t j = 0; j < para.size(); ++j) {
        const std::size_t comma = text.find(u',');
        if (comma == std::u16string::npos) {
            para[j] = text;
            return;
        }
        para[j] = text.substr(0, comma);
        text.erase(0, comma + 1);
        if (text.empty()) return;
    }
}

std::u16string CutAtNul(const std::u16string& text) {
    return text.substr(0, text.find(u'\0'));
}

std::int32_t ParamInt(const std::vector<std::u16string>& para, std::size_t i) {
    if (i >= para.size()) return 0;
    return StrToIntOrZero(CutAtNul(para[i]));
}

float ParamSingle(const std::vector<std::u16string>& para, std::size_t i) {
    if (i >= para.size()) return 0.0f;
    const double value = StrToFloatOrZero(CutAtNul(para[i]));
    // Values beyond the single range become infinities rather than relying
    // on an out-of-range conversion.
    if (std::isnan(value)) return 0.0f;
    if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

std::int32_t SegmentAddress(const std::u16string& param) {
    const std::u16string text = CutAtNul(param);
    auto part = [&text](std::size_t start, std::size_t count) {
        return start < text.size() ? text.substr(start, count) : std::u16string();
    };
    const std::int32_t segment = StrToIntOrZero(u"$" + part(0, 4));
    const std::int32_t offset = StrToIntOrZero(u"$" + part(5, 4));
    // At most four digits each, so the sum stays far inside 32 bits; computed
    // in 64 bits all the same in case a sign slipped through the parser.
    const std::int64_t address = static_cast<std::int64_t>(segment) * 16 + offset;
    if (address > std::numeric_limits<std::int32_t>::max() ||
        address < std::numeric_limits<std::int32_t>::min())
        return 0;
    return static_cast<std::int32_t>(address);
}

}  // namespace tervalo::dos
