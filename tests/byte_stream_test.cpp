// The reader through a window that a source refills, and the writer through
// a buffer that a sink empties, give the same results as whole buffers.
#include <gtest/gtest.h>

#include <algorithm>

#include "archive/byte_reader.h"
#include "archive/byte_writer.h"
#include "codec/drawing_generator.h"
#include "model/jww_data.h"
#include "text/encoding.h"

namespace tervalo {
namespace {

// Hands out the bytes a few at a time, as a slow file would.
class ChunkySource : public ByteSource {
public:
    ChunkySource(const Bytes& data, std::size_t chunk) : data_(data), chunk_(chunk) {}
    std::size_t size() const override { return data_.size(); }
    std::size_t read(std::span<std::uint8_t> out) override {
        const std::size_t n = std::min({out.size(), chunk_, data_.size() - at_});
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(at_), n, out.begin());
        at_ += n;
        return n;
    }

private:
    const Bytes& data_;
    std::size_t chunk_;
    std::size_t at_ = 0;
};

TEST(ByteStreams, DrawingReadThroughASmallWindowIsTheDrawingReadWhole) {
    for (std::int32_t version : {350, 700}) {
        GeneratorOptions o;
        o.version = version;
        o.entities = 4000;
        o.unicode = version == 350;
        o.images = version == 700 ? 3 : 0;  // images far larger than the window
        TJwwData made;
        std::string error;
        ASSERT_TRUE(GenerateDrawing(o, made, error));
        Bytes file;
        ASSERT_TRUE(made.WriteToBuffer(version, file));
        for (std::size_t cut : {std::size_t{0}, std::size_t{100}, file.size() / 2}) {
            const Bytes data(file.begin(), file.end() - static_cast<std::ptrdiff_t>(cut));
            TJwwData whole, windowed;
            whole.BindImageExr = windowed.BindImageExr = true;
            const bool okWhole = whole.ReadFromBuffer(data);
            ChunkySource source(data, 7);
            ByteReader r(source, 64);
            const bool okWindowed = windowed.ReadFrom(r);
            EXPECT_EQ(okWhole, cut == 0);
            EXPECT_EQ(okWindowed, okWhole);
            EXPECT_EQ(windowed.LastError(), whole.LastError());
            EXPECT_EQ(windowed.EntNo, whole.EntNo);
            EXPECT_EQ(windowed.EntMoji, whole.EntMoji);
            EXPECT_EQ(windowed.EntBlockDef, whole.EntBlockDef);
            if (!okWhole) continue;
            whole.SetFileOutOption(whole.MojiEncode ? 32 : 0);
            windowed.SetFileOutOption(windowed.MojiEncode ? 32 : 0);
            Bytes a, b;
            ASSERT_TRUE(whole.WriteToBuffer(version, a));
            ASSERT_TRUE(windowed.WriteToBuffer(version, b));
            EXPECT_TRUE(a == b && a == data) << version;
        }
    }
}

TEST(ByteStreams, WriterThroughASinkWritesWhatMemoryHolds) {
    auto write = [](ByteWriter& w) {
        for (int i = 0; i < 20; ++i) {
            w.u8(static_cast<std::uint8_t>(i));
            w.u16(0xBEEF);
            w.f64(i * 0.5);
            w.commit(Store<std::uint32_t>(w.room(4), 0xA0B0C0D0u + static_cast<std::uint32_t>(i)));
        }
        const Bytes run(100, 0x5A);  // longer than the sink's buffer
        w.bytes(run);
        std::uint8_t* p = w.room(40);  // so is this piece
        std::fill_n(p, 40, std::uint8_t{0x77});
        w.commit(p + 40);
        w.fill(37, 0x11);
        w.u32(7);
    };
    ByteWriter memory;
    write(memory);
    Bytes streamed;
    std::size_t pieces = 0;
    ByteWriter sinked([&](std::span<const std::uint8_t> b) { streamed.insert(streamed.end(), b.begin(), b.end()), ++pieces; },
                      16);
    write(sinked);
    EXPECT_EQ(sinked.size(), memory.size());
    sinked.Finish();
    EXPECT_EQ(streamed, memory.data());
    EXPECT_GT(pieces, 10u);
}

}  // namespace
}  // namespace tervalo
