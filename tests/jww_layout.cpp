#include "jww_layout.h"

#include <cstring>

#include "archive/byte_reader.h"

namespace tervalo::test {

namespace {

class Walker {
public:
    explicit Walker(const Bytes& b) : r_(b) {}
    void fixed(const std::string& name, std::size_t n) {
        out_.push_back({name, r_.pos(), n});
        r_.skip(n);
    }
    void str(const std::string& name) {
        const std::size_t at = r_.pos();
        std::uint8_t b = r_.u8();
        if (b == 0xFF) {
            std::uint16_t w = r_.u16();
            if (w == 0xFFFE) {
                std::uint32_t c = r_.u8();
                if (c == 0xFF) c = r_.u16();
                r_.skip(2 * c);
            } else {
                r_.skip(w);
            }
        } else {
            r_.skip(b);
        }
        out_.push_back({name, at, r_.pos() - at});
    }
    std::vector<LayoutField> out_;
    ByteReader r_;
};

std::string N(const char* base, int i) { return std::string(base) + "[" + std::to_string(i) + "]"; }

}  // namespace

std::vector<LayoutField> JwwHeaderLayout(const Bytes& file) {
    Walker w(file);
    std::int32_t V = 0;
    std::memcpy(&V, file.data() + 8, 4);
    w.fixed("signature", 8);
    w.fixed("jwVer", 4);
    w.str("strMemo");
    w.fixed("nZumen, nWriteGLay", 8);
    for (int g = 0; g < 16; ++g) w.fixed(N("layer group states and layer states", g), 148);
    w.fixed("reserved 56 bytes", 56);
    w.fixed("lnSunpou1..5", 20);
    w.fixed("reserved 4 bytes", 4);
    w.fixed("nMaxDrawWid", 4);
    w.fixed("print origin and scale, nPrtSet, nMemoriMode, grid", 24 + 8 + 40);
    for (int i = 0; i < 256; ++i) w.str(N("aStrLayName", i));
    for (int i = 0; i < 16; ++i) w.str(N("aStrGLayName", i));
    w.fixed("shadow settings", 16 + 4 + 8);
    if (V >= 300) w.fixed("sky view settings", 16);
    w.fixed("nMMTani3D", 4);
    w.fixed("display scale and origins", 48);
    if (V >= 231) {
        w.fixed("zoom jumps 1..8", 28 * 8);
        w.fixed("reserved values and text background", 56);
    } else {
        w.fixed("zoom jumps 1..4", 24 * 4);
    }
    w.fixed("adFukusenSuuchi, dRyougawaFukusenTomeDe", 88);
    w.fixed("EntCol screen colours and widths", 80);
    w.fixed("EntCol print colours, widths, point radii", 160);
    w.fixed("EntLtp1", 128);
    w.fixed("EntLtp2", 100);
    w.fixed("EntLtp3", 64);
    w.fixed("print switches", 40);
    w.fixed("print value P", 4);
    if (V >= 223) w.fixed("drawing time and view settings", 20 + 40);
    if (V >= 225) w.fixed("dimension settings", 32);
    if (V >= 230) w.fixed("nSolidNinniColor, SolidColor", 8);
    if (V >= 420) {
        for (int i = 0; i <= 256; ++i) w.fixed(N("EntColS screen colour and width", i), 8);
        for (int i = 0; i <= 256; ++i) {
            w.str(N("EntColS astrUDColorName", i));
            w.fixed(N("EntColS print colour, width, point radius", i), 16);
        }
        for (int i = 0; i <= 32; ++i) w.fixed(N("EntLtpS pattern", i), 16);
        for (int i = 0; i <= 32; ++i) {
            w.str(N("EntLtpS astrUDLTypeName", i));
            w.fixed(N("EntLtpS segments and pitches", i), 84);
        }
    }
    w.fixed("EntMoj text types", 280);
    w.fixed("current text settings", 24 + 8 + 16 + 4 + 48);
    return w.out_;
}

}  // namespace tervalo::test
