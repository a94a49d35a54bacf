// Writes the fuzz targets' seed inputs with the tests' drawing builders:
//   make_seeds SEED_FOLDER        one small input per version band and target
//   make_seeds --bomb FILE LEN    a drawing of 1000 inserts of a definition
//                                 holding 1000 inserts of one whose name is
//                                 LEN characters long (for memory figures)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "convert/settings_file.h"
#include "convert_drawings.h"
#include "jww_builder.h"

namespace fs = std::filesystem;
using namespace tervalo;
using namespace tervalo::test;

namespace {

void Write(const fs::path& p, const Bytes& data) {
    fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!f) {
        std::fprintf(stderr, "cannot write %s\n", p.string().c_str());
        std::exit(1);
    }
}

// A body with one of each kind the builders know: points of every state, a
// dimension, a line, texts (one naming a bound image, one in the Unicode
// form), inserts of a used and a flagged definition, a nested insert.
Bytes SampleBody(std::int32_t v) {
    BodyBuilder b(v);
    b.Add(Temp(1, 2)).Add(Real(3, 4)).Add(Marker(5, 6, -2)).Add(LineSpec{0, 0, 1, 1});
    b.Add(DimensionSpec{Temp(0, 0), Real(10, 0), Temp(0, 5), Marker(10, 5, 3)});
    b.Add(TextSpec{"^@BM%temp%pic.bmp,10,10", false}).Add(TextSpec{"u", true});
    b.Add(InsertSpec{7, 8, 3}).Add(InsertSpec{1, 1, 99});
    b.Def({3, "used", {Temp(0, 1), InsertSpec{0, 0, 5}}, 0});
    b.Def({3, "namesake", {Real(2, 2)}, 1});
    b.Def({5, "nested", {Temp(1, 1), TextSpec{"^@BM%temp%inner.png,1", false}}, 0});
    b.Def({9, "unused", {Temp(4, 4)}, 0});
    return b.Build();
}

Bytes SampleImages() {
    return JwwImageSectionBuilder()
        .entry("pic.bmp", Bytes{'B', 'M', 1, 2, 3})
        .entry("PIC.BMP", Bytes{'B', 'M', 9})
        .entry("inner.png", Bytes{0x89, 'P', 'N', 'G'})
        .entry("../up.bmp", Bytes{1})
        .entry("nul.txt", Bytes{2})
        .emptyNameEntry(0)
        .build();
}

Bytes DosFile(const std::string& signature, const std::string& params, int blocks) {
    Bytes out(200, 0);
    std::copy(signature.begin(), signature.end(), out.begin());
    const std::string c1 = "comment one", c2 = "two";
    std::copy(c1.begin(), c1.end(), out.begin() + 40);
    std::copy(c2.begin(), c2.end(), out.begin() + 72);
    for (int i = 0; i < blocks; ++i) {
        Bytes block(200, 0);
        std::copy(params.begin(), params.end(), block.begin());
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

Bytes Bomb(std::size_t nameLength) {
    JwwBodyBuilder b(700);
    for (int i = 0; i < 1000; ++i) b.block(i, 0, 2);
    b.def(1, std::string(nameLength, 'n')).point(0, 0, true);
    b.def(2, "outer");
    for (int i = 0; i < 1000; ++i) b.block(0, i, 1);
    return BuildJww(700, b.build());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--bomb") {
        Write(argv[2], Bomb(std::stoul(argv[3])));
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds SEED_FOLDER | make_seeds --bomb FILE NAME_LENGTH\n");
        return 2;
    }
    const fs::path root = argv[1];
    // One drawing per band of header layout and record layout.
    for (std::int32_t v : {220, 223, 225, 230, 231, 300, 350, 351, 420, 600, 700}) {
        JwwHeaderBuilder h(v);
        h.memo = ByteBuilder().str("memo\r\nline").data();
        const Bytes jww = BuildJwwFrom(h.build(), v, SampleBody(v), SampleImages());
        Write(root / "jww" / ("v" + std::to_string(v) + ".jww"), jww);
        if (v == 700) Write(root / "convert" / "v700.jww", jww);
        if (v == 420) Write(root / "convert" / "v420.jww", jww);
    }
    for (std::int32_t v : {230, 300, 351, 420, 700})
        Write(root / "jws" / ("v" + std::to_string(v) + ".jws"), BuildJws(v, SampleBody(v)));
    Write(root / "jwc" / "header.jwc", DosFile("jw_cad(c)data.......", "12,3,0,0,0,1,1,1,1,1.5,0,3,2,1", 3));
    Write(root / "jwk" / "header.jwk", DosFile("jw_cad(c)sym........", "1,2,3,4,0.5,0.5,1,0,0.5", 1));

    TSettingsData settings;
    settings.ReferenceFolder = u"/home/user/\u56f3\u9762";
    settings.OutputFolder = u"C:\\out";
    settings.Options.MakeMarker = 1;
    settings.Options.MarkerScale = 2.5;
    fs::create_directories(root / "settings");
    if (!SaveSettingsFile(Utf8ToUtf16((root / "settings" / "settings.dat").string()), settings)) return 1;
    return 0;
}
