#include "archive/byte_reader.h"

#include <algorithm>

namespace tervalo {

ByteReader::ByteReader(ByteSource& source, std::size_t window)
    : total_(source.size()), source_(&source), window_(new std::uint8_t[window]), capacity_(window) {
    data_ = {window_, 0};
}

ByteReader::~ByteReader() { delete[] window_; }

bool ByteReader::Fill(std::size_t n) {
    const std::size_t have = data_.size() - pos_;
    if (!source_ || n > total_ - pos()) return false;
    // Keep the unread bytes, move them to the front and read up to a full
    // window behind them.
    if (n > capacity_) {
        const std::size_t bigger = std::max(n, 2 * capacity_);
        auto* w = new std::uint8_t[bigger];
        std::memcpy(w, data_.data() + pos_, have);
        delete[] window_;
        window_ = w;
        capacity_ = bigger;
    } else if (have > 0) {
        std::memmove(window_, data_.data() + pos_, have);
    }
    base_ += pos_;
    pos_ = 0;
    std::size_t filled = have;
    const std::size_t want = std::min(capacity_, total_ - base_);
    while (filled < want) {
        const std::size_t got = source_->read({window_ + filled, want - filled});
        if (got == 0) break;
        filled += got;
    }
    data_ = {window_, filled};
    // A file that shrank while it was read ends where its bytes end.
    if (filled < want) total_ = base_ + filled;
    return n <= filled;
}

void ByteReader::Short(std::size_t n, const char* what) const {
    throw IoError(kFileIoError, std::string("file ends inside a ") + what + " at offset " + std::to_string(pos()) +
                                    " (" + std::to_string(n) + " bytes needed, " + std::to_string(remaining()) +
                                    " left)");
}

void ByteReader::seek(std::size_t p) {
    if (p > total_) throw IoError(kFileIoError, "seek past the end");
    if (p >= base_ && p <= base_ + data_.size()) {
        pos_ = p - base_;
        return;
    }
    if (!source_ || p < base_) throw IoError(kFileIoError, "seek backwards in a file read in pieces");
    skip(p - pos());
}

}  // namespace tervalo
