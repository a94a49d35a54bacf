#include "convert/stream_convert.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "codec/driver_support.h"
#include "convert/point_rules.h"
#include "model/jws_data.h"
#include "model/jww_data.h"

namespace tervalo {

namespace {

// Output option that keeps the Unicode string form of a source that used it.
constexpr std::int32_t kUnicodeStrings = 32;

std::int64_t ChangePoints(DrawingBody& body, ConvertDirection direction, std::int32_t version,
                          const TConvertOptions& options) {
    return direction == ConvertDirection::ToReal ? ConvertPointsToReal(body, version, options)
                                                 : ConvertPointsToTemporary(body, version, options);
}

// Keeps none of the records of the drawing's own list (the read keeps an
// insert of each block number, which decide the referenced definitions),
// but counts the points the conversion will change, so the report has its
// count even when the output fails before the list is written.
class CountChanges final : public RecordSink {
public:
    // `version`: the version of the drawing, read before any record.
    CountChanges(ConvertDirection direction, const std::int32_t& version, const TConvertOptions& options)
        : direction_(direction), version_(version), options_(options) {}

    std::int64_t changed = 0;

    void Take(const TEntJwwLine&) override {}
    void Take(const TEntJwwEnko&) override {}
    void Take(const TEntJwwTen& point) override { Count(one_.EntTen, one_.EntTenN, point); }
    void Take(const TEntJwwMoji&) override {}
    void Take(const TEntJwwSunpo& dimension) override { Count(one_.EntSunpo, one_.EntSunpoN, dimension); }
    void Take(const TEntJwwSolid&) override {}
    void Take(const TEntJwwBlock&) override {}

private:
    struct One final : DrawingBody {};
    template <typename T>
    void Count(std::vector<T>& list, std::int32_t& n, const T& record) {
        list.assign(1, record);
        n = 1;
        changed += ChangePoints(one_, direction_, version_, options_);
        n = 0;
    }
    ConvertDirection direction_;
    const std::int32_t& version_;
    const TConvertOptions& options_;
    One one_;
};

void Free(TJwwData& jww) { JwwDataFree(jww); }
void Free(TJwsData& jws) { jws.DataFree(); }

bool ImagesReady(const TJwwData& jww, ConvertReport* report) {
    std::string missing;
    if (BoundImagesExtracted(jww, missing)) return true;
    if (report) {
        report->failure = ConvertFailure::ImagesNotExtracted;
        report->detail = "bound image " + missing + " could not be copied out";
    }
    return false;
}
bool ImagesReady(const TJwsData&, ConvertReport*) { return true; }

// Hands the output to a sink on a thread of its own, in pieces of
// kPieceBytes, so that the next part of the drawing is built while the last
// is written. At most kPiecesAhead pieces wait; a failure of the sink stops
// the writing and comes back from the next Write or from Finish.
class WriterThread {
public:
    static constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
    static constexpr std::size_t kPiecesAhead = 4;

    explicit WriterThread(const OutputSink& out) : out_(out), thread_([this] { Run(); }) {}
    // Without Finish (the output failed) the pieces still waiting are dropped.
    ~WriterThread() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            queue_.clear();
        }
        changed_.notify_all();
        thread_.join();
    }
    WriterThread(const WriterThread&) = delete;
    WriterThread& operator=(const WriterThread&) = delete;

    void Write(std::span<const std::uint8_t> bytes) {
        while (!bytes.empty()) {
            if (piece_.capacity() < kPieceBytes) piece_.reserve(kPieceBytes);
            const std::size_t n = std::min(bytes.size(), kPieceBytes - piece_.size());
            piece_.insert(piece_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
            bytes = bytes.subspan(n);
            if (piece_.size() == kPieceBytes) Hand();
        }
    }

    // Waits until every piece is written; rethrows the sink's failure.
    void Finish() {
        if (!piece_.empty()) Hand();
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return (queue_.empty() && !writing_) || error_; });
        if (error_) std::rethrow_exception(error_);
    }

private:
    void Hand() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return queue_.size() < kPiecesAhead || error_; });
        if (error_) std::rethrow_exception(error_);
        queue_.push_back(std::move(piece_));
        piece_.clear();
        if (!spare_.empty()) {
            piece_ = std::move(spare_.back());
            spare_.pop_back();
        }
        lock.unlock();
        changed_.notify_all();
    }

    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return !queue_.empty() || stop_; });
            if (stop_) return;
            Bytes piece = std::move(queue_.front());
            queue_.pop_front();
            writing_ = true;
            lock.unlock();
            std::exception_ptr failed;
            try {
                out_(piece);
            } catch (...) {
                failed = std::current_exception();
            }
            piece.clear();
            lock.lock();
            writing_ = false;
            if (spare_.size() < kPiecesAhead) spare_.push_back(std::move(piece));
            if (failed) {
                error_ = failed;
                queue_.clear();
            }
            changed_.notify_all();
        }
    }

    const OutputSink& out_;
    Bytes piece_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Bytes> queue_;
    std::vector<Bytes> spare_;
    bool writing_ = false;
    bool stop_ = false;
    std::exception_ptr error_;
    std::thread thread_;  // last: starts once the members it uses are made
};

enum class Outcome { Built, Failed, NotStreamed };

template <typename Container>
Outcome Stream(Container& data, ConvertDirection direction, const std::filesystem::path& source,
               const TConvertOptions& options, const OutputSink& out, ConvertReport* report) {
    std::string ignored;
    // First read: everything but the records of the drawing's own list.
    platform::InputFile first;
    if (!OpenInputFile(source, first, ignored)) return Outcome::NotStreamed;
    // The records come after the header, whose version the counter reads.
    CountChanges counter(direction, data.Enthd.jwVer, options);
    bool read = false;
    {
        FileByteSource bytes(first);
        ByteReader r(bytes, kReadWindow);
        data.recordSink = &counter;
        read = data.ReadFrom(r);
        data.recordSink = nullptr;
    }
    if (!read) return Outcome::NotStreamed;
    if (!ImagesReady(data, report)) return Outcome::Failed;
    const std::int32_t version = data.Enthd.jwVer;

    const std::int64_t changed = counter.changed + ChangePoints(data, direction, version, options);
    data.SetFileOutOption(data.MojiEncode ? kUnicodeStrings : 0);

    // Second read: the own list, a part at a time, into the output.
    platform::InputFile second;
    std::string reason;
    bool built = OpenInputFile(source, second, reason);
    if (built) {
        FileByteSource bytes(second);
        ByteReader r(bytes, kReadWindow);
        // Without a thread to spare the output is written as it is built.
        std::optional<WriterThread> writer;
        try {
            writer.emplace(out);
        } catch (const std::system_error&) {
        }
        const OutputSink toWriter = [&](std::span<const std::uint8_t> b) { writer->Write(b); };
        built = RunGuarded(reason, [&] { r.seek(data.BodyOffset()); }) &&
                data.StreamTo(version, r, [&](DrawingBody& part) { ChangePoints(part, direction, version, options); },
                              writer ? toWriter : out);
        if (!built && reason.empty()) reason = data.LastError();
        if (built && writer) built = RunGuarded(reason, [&] { writer->Finish(); }, kNoMemoryToWrite);
    }
    if (report) {
        report->changedPoints = changed;
        if (!built) {
            report->failure = ConvertFailure::WriteFailed;
            report->detail = reason;
        }
    }
    return built ? Outcome::Built : Outcome::Failed;
}

template <typename Container, typename Whole>
bool StreamOrWhole(Container& data, ConvertDirection direction, const std::filesystem::path& source,
                   const TConvertOptions& options, const OutputSink& out, ConvertReport* report, Whole&& whole) {
    if (report) *report = ConvertReport{};
    Outcome outcome = Outcome::NotStreamed;
    try {
        outcome = Stream(data, direction, source, options, out, report);
    } catch (const std::bad_alloc&) {
        outcome = Outcome::NotStreamed;
    }
    Free(data);
    if (outcome != Outcome::NotStreamed) return outcome == Outcome::Built;
    // The whole-model conversion says why the source cannot be converted.
    return whole();
}

}  // namespace

bool StreamConvertJwwTo(TJwwData& jww, ConvertDirection direction, const std::filesystem::path& source,
                        const TConvertOptions& options, const OutputSink& sink, ConvertReport* report) {
    return StreamOrWhole(jww, direction, source, options, sink, report,
                         [&] { return ConvertJwwTo(jww, direction, source, options, sink, report); });
}

bool StreamConvertJwsTo(TJwsData& jws, ConvertDirection direction, const std::filesystem::path& source,
                        const TConvertOptions& options, const OutputSink& sink, ConvertReport* report) {
    return StreamOrWhole(jws, direction, source, options, sink, report,
                         [&] { return ConvertJwsTo(jws, direction, source, options, sink, report); });
}

}  // namespace tervalo
