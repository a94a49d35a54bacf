// The command line, run as a program through the shell (so not on Windows,
// where scripts/windows.sh compares the Windows tervalo-cli with this one).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "convert/settings_file.h"
#include "convert_drawings.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "test_support.h"

namespace tervalo {
namespace {

using namespace tervalo::test;
namespace fs = std::filesystem;

struct CliResult {
    int rc = -1;
    std::string out, err;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string Slurp(const fs::path& p) {
    Bytes b = ReadFile(p);
    return std::string(b.begin(), b.end());
}

// Runs tervalo-cli in `cwd` with the arguments, in an English locale unless
// `lang` names another; TMPDIR points into `io` so that nothing may be left
// in the temporary folder unseen.
CliResult RunCli(const TempDir& io, const std::vector<std::string>& args, const fs::path& cwd = {},
                 const std::string& lang = "C.UTF-8", const std::string& input = {}) {
    fs::create_directories(io.path() / "tmp");
    std::string cmd = "cd " + Quote(cwd.empty() ? io.path().string() : cwd.string()) +
                      " && LC_ALL= LC_MESSAGES= LANG=" + Quote(lang) + " TMPDIR=" + Quote((io.path() / "tmp").string()) +
                      " " + Quote(TERVALO_CLI_PATH);
    for (const auto& a : args) cmd += " " + Quote(a);
    if (!input.empty()) {
        WriteFile(io.path() / "stdin", Bytes(input.begin(), input.end()));
        cmd += " <" + Quote((io.path() / "stdin").string());
    }
    cmd += " >" + Quote((io.path() / "stdout").string()) + " 2>" + Quote((io.path() / "stderr").string());
    int status = std::system(cmd.c_str());
    CliResult r;
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(io.path() / "stdout");
    r.err = Slurp(io.path() / "stderr");
    return r;
}

std::size_t LineCount(const std::string& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

TEST(CliTest, HelpAndVersion) {
    TempDir io;
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--help"}, {"info", "--help"}, {"convert", "--help"}, {"convert", "-o", "x", "--help"},
          {"render", "-h"}, {"generate", "--help"}}) {
        CliResult r = RunCli(io, args);
        EXPECT_EQ(r.rc, 0) << args[0];
        EXPECT_NE(r.out.find("Usage: tervalo-cli"), std::string::npos);
        EXPECT_TRUE(r.err.empty());
    }
    for (std::vector<std::string> args : {std::vector<std::string>{"--version"}, {"convert", "--version"}, {"info", "--version"},
                                      {"render", "--version"}}) {
        CliResult v = RunCli(io, args);
        EXPECT_EQ(v.rc, 0);
        EXPECT_EQ(v.out.rfind("tervalo-cli ", 0), 0u);
        EXPECT_EQ(LineCount(v.out), 1u);
        EXPECT_TRUE(v.err.empty());
    }
}

TEST(CliTest, BadArgumentsGiveOneLineAndExitCode2) {
    TempDir io;
    WriteFile(io.path() / "a.jws", BuildJws(700, BodyBuilder(700).Build()));
    fs::create_directory(io.path() / "o");
    // The arguments, and what the one line must name.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command"},
        {{"frobnicate"}, "frobnicate"},
        {{"info"}, "no file"},
        {{"info", "--bogus", "a.jws"}, "--bogus"},
        {{"info", "-0", "a.jws"}, "-0"},
        {{"convert", "-o", "o", "a.jws"}, "--to-real or --to-temporary"},
        {{"convert", "--to-real", "--to-temporary", "-o", "o", "a.jws"}, "exclude"},
        {{"convert", "--to-real", "a.jws"}, "output folder"},
        {{"convert", "--to-real", "-o", "o"}, "no file"},
        {{"convert", "--to-real", "--marker", "7", "-o", "o", "a.jws"}, "--marker"},
        {{"convert", "--to-real", "--marker", "**", "-o", "o", "a.jws"}, "--marker"},
        {{"convert", "--to-real", "--marker", "-o", "o", "a.jws"}, "--marker needs"},
        {{"convert", "--to-real", "--marker", "x", "--scale", "0", "-o", "o", "a.jws"}, "--scale"},
        {{"convert", "--to-real", "--marker", "x", "--scale", "1e9", "-o", "o", "a.jws"}, "--scale"},
        {{"convert", "--to-real", "--marker", "x", "--scale", "2.5x", "-o", "o", "a.jws"}, "--scale"},
        {{"convert", "--to-real", "--marker", "x", "--scale", "nan", "-o", "o", "a.jws"}, "--scale"},
        {{"convert", "--to-real", "--scale", "2", "-o", "o", "a.jws"}, "--scale needs --marker"},
        {{"convert", "--to-temporary", "--marker", "star", "-o", "o", "a.jws"}, "--marker applies to --to-real"},
        {{"convert", "--to-temporary", "--scale", "2", "-o", "o", "a.jws"}, "--scale applies to --to-real"},
        {{"convert", "--to-real", "--markers", "-o", "o", "a.jws"}, "--markers applies to --to-temporary"},
        {{"convert", "--to-real", "--marker-ends", "-o", "o", "a.jws"}, "--marker-ends applies"},
        {{"convert", "--to-real", "-q", "-v", "-o", "o", "a.jws"}, "-q and -v"},
        {{"convert", "--to-real", "-0", "-o", "o", "a.jws"}, "-0 applies to --files-from"},
        {{"convert", "--to-real", "--files-from", "none.txt", "-o", "o"}, "none.txt"},
        {{"convert", "--to-real", "--dry-run=yes", "-o", "o", "a.jws"}, "--dry-run takes no value"},
        {{"convert", "--to-real", "--bogus", "-o", "o", "a.jws"}, "--bogus"},
        {{"convert", "--to-real", "--settings", "missing.dat", "a.jws"}, "missing.dat"},
        {{"convert", "--to-real", "-o"}, "-o needs"},
        {{"convert", "--to-real", "-o", "nowhere", "a.jws"}, "does not exist"},
        {{"generate", "--version", "700", "--entities", "5", "-o", "g.jww"}, "--format"},
        {{"generate", "--format", "dxf", "--version", "700", "--entities", "5", "-o", "g"}, "jww or jws"},
        {{"generate", "--format", "jww", "--version", "700", "--entities", "5", "--size-mb", "1", "-o", "g"}, "one of"},
        {{"generate", "--format", "jww", "--version", "219", "--entities", "5", "-o", "g.jww"}, "220 to 700"},
        {{"generate", "--format", "jws", "--version", "700", "--entities", "5", "--images", "1", "-o", "g"}, "images"},
        {{"generate", "--format", "jws", "--version"}, "--version needs"},
        // An option is never the value of another, and a flag takes none.
        {{"render", "a.jws", "-o", "--size", "100x100"}, "-o needs"},
        {{"convert", "--to-real", "--output=", "a.jws"}, "--output needs"},
        {{"convert", "-rqo", "--", "a.jws"}, "-o needs"},
        {{"info", "--json=no", "a.jws"}, "--json takes no value"},
        {{"--bogus", "info"}, "--bogus"},
    };
    for (const auto& [args, named] : cases) {
        std::string joined = "tervalo-cli ";
        for (const auto& a : args) joined += a + " ";
        SCOPED_TRACE(joined);
        CliResult r = RunCli(io, args);
        EXPECT_EQ(r.rc, 2);
        EXPECT_EQ(LineCount(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_TRUE(fs::is_empty(io.path() / "o"));
}

// A figure with points of every state in every place, two block
// definitions (one referenced) and a Unicode text.
Bytes InfoFigure() {
    BodyBuilder body(700);
    body.Add(Temp(1, 1)).Add(Real(2, 2)).Add(Marker(3, 3, -3));
    body.Add(DimensionSpec{Temp(1, 0), Real(2, 0), Marker(3, 0, 7), Temp(4, 0)});
    body.Add(InsertSpec{0, 0, 9}).Add(TextSpec{"abc", true});
    body.Def({9, "used", {Temp(5, 5), DimensionSpec{Real(0, 0), Real(0, 0), Real(0, 0), Real(0, 0)}}});
    body.Def({11, "unused", {Real(6, 6)}});
    return BuildJws(700, body.Build());
}

TEST(CliTest, InfoJsonOfAFigure) {
    TempDir io;
    WriteFile(io.path() / "a.jws", InfoFigure());
    CliResult r = RunCli(io, {"info", "--json", "a.jws"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out,
              R"({"file":"a.jws","format":"jws","version":700,"dos":false,"memo":"",)"
              R"("entities":{"line":0,"arc":0,"point":3,"text":1,"dimension":1,"solid":0,"block":1},)"
              R"("block_entities":{"line":0,"arc":0,"point":2,"text":0,"dimension":1,"solid":0,"block":0},)"
              R"("points":{"temporary":1,"real":1,"marker":1},)"
              R"("dimension_points":{"temporary":2,"real":1,"marker":1},)"
              R"("block_points":{"temporary":1,"real":1,"marker":0},)"
              R"("block_dimension_points":{"temporary":0,"real":4,"marker":0},)"
              R"("block_definitions":2,"referenced_block_definitions":1,"images":[],"unicode":true})"
              "\n");
    CliResult text = RunCli(io, {"info", "a.jws"});
    EXPECT_EQ(text.rc, 0);
    EXPECT_NE(text.out.find("format: JWS, version 700"), std::string::npos);
    EXPECT_NE(text.out.find("dimension points: temporary 2, real 1, marker 1"), std::string::npos);
}

TEST(CliTest, InfoJsonOfADrawingWithMemoAndImageWritesNothing) {
    TempDir io;
    JwwHeaderBuilder header(700);
    header.memo = {7, 'a', '\r', '\n', '"', '\\', 0x01, 'b'};
    BodyBuilder body(700);
    body.Add(TextSpec{"^@BM%temp%pic.bmp,1,1"});
    ByteBuilder images;
    images.u32(1);
    ImageEntry(images, "pic.bmp", Bytes(10, 0x55));
    WriteFile(io.path() / "d.jww", BuildJwwFrom(header.build(), 700, body.Build(), images.data()));
    const auto before = std::distance(fs::directory_iterator(io.path()), fs::directory_iterator());
    CliResult r = RunCli(io, {"info", "--json", "d.jww", "missing.jww"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(LineCount(r.out), 2u);
    EXPECT_NE(r.out.find(R"("format":"jww","version":700,"dos":false,"memo":"a\r\n\"\\\u0001b",)"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(R"({"file":"missing.jww","error":"file not found"})" "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(R"("images":[{"name":"pic.bmp","size":10}],"unicode":false})"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("missing.jww"), std::string::npos);
    EXPECT_EQ(LineCount(r.err), 1u);
    // stdout, stderr and tmp are the only new entries; no image was copied out.
    EXPECT_EQ(std::distance(fs::directory_iterator(io.path()), fs::directory_iterator()), before + 3);
    EXPECT_FALSE(fs::exists(io.path() / "pic.bmp"));
}

TEST(CliTest, InfoOfDosFilesAndUnreadableFiles) {
    TempDir io;
    ByteBuilder jwc;
    jwc.ascii("jw_cad(c)data.......").fill(20, 0);
    jwc.ascii("first").fill(27, 0).ascii("second").fill(26, 0).fill(96, 0);
    jwc.ascii("12,3,4,5,6").fill(190, 0).fill(400, 0);
    WriteFile(io.path() / "old.jwc", jwc.data());
    WriteFile(io.path() / "junk.jww", Bytes(50, 'j'));
    CliResult r = RunCli(io, {"info", "--json", "old.jwc"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, R"({"file":"old.jwc","format":"jwc","version":0,"dos":true,"memo":"first second",)"
                     R"("comment1":"first","comment2":"second",)"
                     R"("entities":{"line":12,"arc":3,"point":5,"text":4,"virtual_points":6}})"
                     "\n");
    CliResult bad = RunCli(io, {"info", "junk.jww"});
    EXPECT_EQ(bad.rc, 1);
    EXPECT_TRUE(bad.out.empty());
    EXPECT_EQ(bad.err.rfind("tervalo-cli: junk.jww: ", 0), 0u) << bad.err;
}

TEST(CliTest, ConvertAFolder) {
    TempDir io;
    fs::create_directories(io.path() / "in" / "sub.jws");  // a folder, not a file
    fs::create_directory(io.path() / "out");
    BodyBuilder body(700);
    body.Add(Temp(1, 1)).Add(Temp(2, 2));
    WriteFile(io.path() / "in" / "b.jws", BuildJws(700, body.Build()));
    WriteFile(io.path() / "in" / "A.JWW", BuildJww(700, body.Build()));
    WriteFile(io.path() / "in" / "notes.txt", {1});
    CliResult r = RunCli(io, {"convert", "--to-real", "--marker", "○", "--scale", "2.5", "-o", "out", "in"});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "converted: in/A.JWW -> out/A.JWW\nconverted: in/b.jws -> out/b.jws\n"
                     "2 converted, 0 not converted\n");
    TJwsData jws;
    ASSERT_TRUE(jws.FileIn(U16((io.path() / "out" / "b.jws").string())));
    ASSERT_EQ(jws.EntTenN, 2);
    EXPECT_EQ(jws.EntTen[1].att.nPenStyle, 100);
    EXPECT_EQ(static_cast<std::int32_t>(jws.EntTen[1].nCode), -2);
    EXPECT_EQ(jws.EntTen[1].dBairitsu, 2.5);
    EXPECT_FALSE(fs::exists(io.path() / "out" / "notes.txt"));
    EXPECT_TRUE(fs::is_empty(io.path() / "tmp")) << "the private work folder is removed";

    // Again, now with a broken figure in the folder: the others are still
    // converted, the existing outputs are backed up, and the run fails.
    WriteFile(io.path() / "in" / "c.jws", Bytes(10, 'x'));
    CliResult again = RunCli(io, {"convert", "--to-temporary", "--markers", "-o", "out", "in"});
    EXPECT_EQ(again.rc, 1);
    EXPECT_NE(again.err.find("not converted: in/c.jws: "), std::string::npos) << again.err;
    EXPECT_NE(again.out.find("2 converted, 1 not converted\n"), std::string::npos) << again.out;
    EXPECT_TRUE(fs::exists(io.path() / "out" / "b.BAK"));
    EXPECT_TRUE(fs::exists(io.path() / "out" / "A.BAK"));
    ASSERT_TRUE(jws.FileIn(U16((io.path() / "out" / "b.jws").string())));
    EXPECT_EQ(jws.EntTen[1].bKariten, 1u);
}

TEST(CliTest, ConvertRefusesTheSourceFolderAsOutput) {
    TempDir io;
    fs::create_directory(io.path() / "in");
    WriteFile(io.path() / "in" / "a.jws", BuildJws(700, BodyBuilder(700).Add(Temp(1, 1)).Build()));
    const Bytes before = ReadFile(io.path() / "in" / "a.jws");
    CliResult r = RunCli(io, {"convert", "--to-real", "-o", "in/", "in/a.jws"}, {}, "ja_JP.UTF-8");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("保存先フォルダは参照フォルダと同じにしないで下さい。"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(io.path() / "in" / "a.jws"), before);
    CliResult missing = RunCli(io, {"convert", "--to-real", "-o", "nowhere", "in/a.jws"});
    EXPECT_EQ(missing.rc, 2);
    EXPECT_NE(missing.err.find("the output folder does not exist"), std::string::npos) << missing.err;
}

TEST(CliTest, ConvertTakesOptionsFromASettingsFile) {
    TempDir io;
    fs::create_directory(io.path() / "out");
    BodyBuilder body(700);
    body.Add(Real(1, 1));
    WriteFile(io.path() / "a.jws", BuildJws(700, body.Build()));
    TSettingsData settings;
    settings.OutputFolder = U16((io.path() / "out").string());
    settings.Options.Direction = 1;
    ASSERT_TRUE(SaveSettingsFile(U16((io.path() / "s.dat").string()), settings));

    CliResult r = RunCli(io, {"convert", "--settings", "s.dat", "a.jws"});
    EXPECT_EQ(r.rc, 0) << r.err;
    TJwsData jws;
    ASSERT_TRUE(jws.FileIn(U16((io.path() / "out" / "a.jws").string())));
    EXPECT_EQ(jws.EntTen[0].bKariten, 1u);

    // An explicit flag overrides the file: back to real points, as markers.
    fs::create_directory(io.path() / "out2");
    r = RunCli(io, {"convert", "--settings", "s.dat", "--to-real", "--marker", "6", "-o", "out2", "out/a.jws"});
    EXPECT_EQ(r.rc, 0) << r.err;
    ASSERT_TRUE(jws.FileIn(U16((io.path() / "out2" / "a.jws").string())));
    EXPECT_EQ(jws.EntTen[0].bKariten, 0u);
    EXPECT_EQ(static_cast<std::int32_t>(jws.EntTen[0].nCode), -7);
}

TEST(CliTest, ConvertReportsFilesNotConverted) {
    TempDir io;
    fs::create_directories(io.path() / "x");
    fs::create_directories(io.path() / "y");
    fs::create_directory(io.path() / "out");
    Bytes fig = BuildJws(700, BodyBuilder(700).Add(Temp(1, 1)).Build());
    WriteFile(io.path() / "x" / "p.jws", fig);
    WriteFile(io.path() / "y" / "p.jws", fig);
    WriteFile(io.path() / "n.txt", {1});
    CliResult r = RunCli(io, {"convert", "--to-real", "-o", "out", "x/p.jws", "y/p.jws", "n.txt", "none.jws"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.out.find("converted: x/p.jws -> out/p.jws\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("not converted: y/p.jws: an earlier file of this run writes the same target"),
              std::string::npos);
    EXPECT_NE(r.err.find("not converted: ./none.jws: file not found"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("not converted: ./n.txt: this file extension is not converted\n"), std::string::npos) << r.err;
    EXPECT_EQ(LineCount(r.err), 3u) << "one line per file, in one language: " << r.err;
    EXPECT_NE(r.out.find("1 converted, 3 not converted"), std::string::npos);
}


// Failures name their real reason: a path that does not exist (whatever its
// extension), a folder entry whose name is not UTF-8, a folder that cannot be
// read, and a full disk (the earlier target then stays as it was).
TEST(CliTest, ConvertNamesTheRealReason) {
    TempDir io;
    fs::create_directories(io.path() / "in");
    fs::create_directory(io.path() / "out");
    WriteFile(io.path() / "in" / "\xFF\xFE.jws", BuildJws(700, BodyBuilder(700).Add(Temp(1, 1)).Build()));
    CliResult r = RunCli(io, {"convert", "--to-real", "-o", "out", "gone.txt", "in"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("not converted: ./gone.txt: file not found\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": the file name is not valid UTF-8\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("拡張子"), std::string::npos) << "a missing file is no extension problem: " << r.err;
    EXPECT_NE(r.out.find("0 converted, 2 not converted"), std::string::npos) << r.out;

    if (::geteuid() != 0) {  // the super-user reads every folder
        fs::create_directory(io.path() / "locked");
        fs::permissions(io.path() / "locked", fs::perms::none);
        r = RunCli(io, {"convert", "--to-real", "-o", "out", "locked"});
        fs::permissions(io.path() / "locked", fs::perms::owner_all);
        EXPECT_EQ(r.rc, 1);
        EXPECT_NE(r.err.find("cannot read the folder locked: Permission denied"), std::string::npos) << r.err;
    }

    // A full disk, where a small file system can be mounted for the test.
    const fs::path small = io.path() / "small";
    fs::create_directory(small);
    if (std::system(("mount -t tmpfs -o size=64k tmpfs " + Quote(small.string()) + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small file system here; the full disk is tested by an injected failure";
    BodyBuilder big(700);
    for (int i = 0; i < 4000; ++i) big.Add(Temp(i, i));
    WriteFile(io.path() / "in" / "big.jws", BuildJws(700, big.Build()));
    WriteFile(small / "big.jws", {1, 2, 3});
    r = RunCli(io, {"convert", "--to-real", "-o", small.string(), "in/big.jws"});
    const Bytes after = ReadFile(small / "big.jws");
    const std::size_t entries = static_cast<std::size_t>(std::distance(fs::directory_iterator(small), {}));
    std::system(("umount " + Quote(small.string())).c_str());
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(after, (Bytes{1, 2, 3}));
    EXPECT_EQ(entries, 1u) << "no backup and no partial file is left";
}


// What scripts rely on: a dry run that writes nothing and says what a run
// would do, recursion that mirrors subfolders (and never enters the output
// folder), JSON results, lists read from standard input, one language per
// run, and names kept on one line.
TEST(CliTest, ScriptedRuns) {
    TempDir io;
    const fs::path in = io.path() / "in", out = io.path() / "out";
    fs::create_directories(in / "sub" / "deep");
    fs::create_directory(out);
    const Bytes fig = BuildJws(700, BodyBuilder(700).Add(Temp(1, 1)).Add(Temp(2, 2)).Build());
    for (const char* name : {"a.jws", "new\nline.jws", "sub/b.jws", "sub/deep/c.JWS"}) WriteFile(in / name, fig);
    WriteFile(out / "a.jws", {1, 2, 3});

    CliResult dry = RunCli(io, {"convert", "-n", "-r", "--json", "--to-real", "-o", "out", "in"});
    EXPECT_EQ(dry.rc, 0) << dry.err;
    EXPECT_EQ(dry.out,
              R"({"source":"in/a.jws","target":"out/a.jws","converted":true,"dry_run":true,"backup":"out/a.BAK",)"
              R"("up_to_date":false,"changed_points":2})" "\n"
              R"({"source":"in/new\nline.jws","target":"out/new\nline.jws","converted":true,"dry_run":true,)"
              R"("backup":null,"up_to_date":false,"changed_points":2})" "\n"
              R"({"source":"in/sub/b.jws","target":"out/sub/b.jws","converted":true,"dry_run":true,"backup":null,)"
              R"("up_to_date":false,"changed_points":2})" "\n"
              R"({"source":"in/sub/deep/c.JWS","target":"out/sub/deep/c.JWS","converted":true,"dry_run":true,)"
              R"("backup":null,"up_to_date":false,"changed_points":2})" "\n"
              R"({"summary":{"converted":4,"not_converted":0}})" "\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 1) << "a dry run writes nothing";
    EXPECT_EQ(ReadFile(out / "a.jws"), (Bytes{1, 2, 3}));

    CliResult ja = RunCli(io, {"convert", "-r", "--to-real", "-o", "out", "in"}, {}, "ja_JP.UTF-8");
    EXPECT_EQ(ja.rc, 0) << ja.err;
    EXPECT_EQ(ja.out, "変換しました: in/a.jws → out/a.jws (バックアップ: out/a.BAK)\n"
                      "変換しました: in/new\\nline.jws → out/new\\nline.jws\n"
                      "変換しました: in/sub/b.jws → out/sub/b.jws\n"
                      "変換しました: in/sub/deep/c.JWS → out/sub/deep/c.JWS\n"
                      "4個のファイルを変換しました。\n");
    TJwsData jws;
    ASSERT_TRUE(jws.FileIn(U16((out / "sub" / "deep" / "c.JWS").string())));
    EXPECT_EQ(jws.EntTen[0].bKariten, 0u);

    // Two of them back, named on standard input and separated by NUL bytes.
    CliResult list = RunCli(io, {"convert", "--to-temporary", "--files-from", "-", "-0", "-v", "-o", "in"}, {}, "C",
                            std::string("out/a.jws\0out/sub/b.jws\0", 24));
    EXPECT_EQ(list.rc, 0) << list.err;
    // in/a.jws already holds exactly this conversion (it is the source of
    // out/a.jws), so it stays, with no backup; there is no in/b.jws yet.
    EXPECT_EQ(list.out, "converted: out/a.jws -> in/a.jws (already up to date: left as it is, 2 points changed)\n"
                        "converted: out/sub/b.jws -> in/b.jws (no backup needed, 2 points changed)\n"
                        "2 converted, 0 not converted\n");
    EXPECT_FALSE(fs::exists(in / "a.BAK"));

    // An output folder inside the tree is never searched; the tree itself as
    // output folder is refused.
    CliResult nested = RunCli(io, {"convert", "-r", "-q", "--to-real", "-o", "in/sub", "in"});
    EXPECT_EQ(nested.rc, 0) << nested.err;
    EXPECT_TRUE(nested.out.empty() && nested.err.empty()) << nested.out << nested.err;
    EXPECT_FALSE(fs::exists(in / "sub" / "sub")) << "in/sub was entered";
    EXPECT_TRUE(fs::exists(in / "sub" / "deep" / "c.JWS"));
    CliResult same = RunCli(io, {"convert", "-r", "--to-real", "-o", "in/./", "in"});
    EXPECT_EQ(same.rc, 2) << same.err;
}

// "--opt value", "--opt=value", "-oDIR" and short flags together mean the
// same; "--" ends the options; an operand is taken as it is, brackets and
// commas too. generate's format version is --format-version or --version.
TEST(CliTest, OptionForms) {
#ifdef _WIN32
    GTEST_SKIP() << "runs tervalo-cli through a POSIX shell; scripts/windows.sh checks the Windows tervalo-cli against the Linux one";
#else
    TempDir io;
    fs::create_directory(io.path() / "[x,y]");
    WriteFile(io.path() / "[x,y]" / "a.jws", BuildJws(700, BodyBuilder(700).Add(Temp(1, 1)).Build()));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"convert", "--to-real", "--marker", "circle", "--scale", "2.5", "-o", "o", "[x,y]"},
             {"convert", "--to-real", "--marker=circle", "--scale=2.5", "--output=o", "[x,y]/a.jws"},
             {"convert", "-rq", "--to-real", "--marker", "x", "--marker", "circle", "--scale", "2.5", "-oo", "--", "[x,y]"}}) {
        SCOPED_TRACE(args[3]);
        fs::remove_all(io.path() / "o");
        fs::create_directory(io.path() / "o");
        CliResult r = RunCli(io, args);
        ASSERT_EQ(r.rc, 0) << r.err;
        TJwsData jws;
        ASSERT_TRUE(jws.FileIn(U16((io.path() / "o" / "a.jws").string())));
        EXPECT_EQ(static_cast<std::int32_t>(jws.EntTen[0].nCode), -2);
        EXPECT_EQ(jws.EntTen[0].dBairitsu, 2.5);
    }
    CliResult a = RunCli(io, {"generate", "--format", "jws", "--format-version", "420", "--entities", "40", "-o", "g1.jws"});
    CliResult b = RunCli(io, {"generate", "--format=jws", "--version=420", "--entities=40", "-og2.jws"});
    ASSERT_EQ(a.rc, 0) << a.err;
    ASSERT_EQ(b.rc, 0) << b.err;
    EXPECT_EQ(ReadFile(io.path() / "g1.jws"), ReadFile(io.path() / "g2.jws"));
    TJwsData g;
    ASSERT_TRUE(g.FileIn(U16((io.path() / "g1.jws").string())));
    EXPECT_EQ(g.Enthd.jwVer, 420);
#endif
}

// Every marker name and alias selects its glyph.
TEST(CliTest, MarkerNamesAndAliases) {
    TempDir io;
    WriteFile(io.path() / "a.jws", BuildJws(700, BodyBuilder(700).Add(Temp(1, 1)).Build()));
    const std::vector<std::pair<std::string, int>> names = {
        {"*", 0}, {"star", 0}, {"o", 1}, {"Circle", 1}, {".", 2}, {"dot", 2}, {"+", 3}, {"plus", 3},
        {"square", 4}, {"triangle", 5}, {"x", 6}, {"cross", 6}, {"△", 5}, {"3", 3}};
    for (const auto& [name, index] : names) {
        SCOPED_TRACE(name);
        fs::remove_all(io.path() / "o");
        fs::create_directory(io.path() / "o");
        CliResult r = RunCli(io, {"convert", "--to-real", "--marker", name, "-o", "o", "a.jws"});
        ASSERT_EQ(r.rc, 0) << r.err;
        TJwsData jws;
        ASSERT_TRUE(jws.FileIn(U16((io.path() / "o" / "a.jws").string())));
        EXPECT_EQ(static_cast<std::int32_t>(jws.EntTen[0].nCode), -(index + 1));
    }
}

}  // namespace
}  // namespace tervalo
