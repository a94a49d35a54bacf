// The Windows file layer: paths beyond 260 characters, names in UTF-16,
// file identity, binary reading and the three time stamps of a copy.
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fs/fsutil.h"
#include "fs/platform.h"
#include "test_support.h"

namespace tervalo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::u16string Text(const fs::path& p) { return platform::TextFromPath(p); }

TEST(FsWin32, PathsLongerThan260CharactersWork) {
    TempDir dir;
    std::u16string folder = Text(dir.path());
    for (int i = 0; i < 6; ++i) folder += u"\\" + std::u16string(50, static_cast<char16_t>(u'a' + i));
    ASSERT_GT(folder.size(), 300u);
    ASSERT_TRUE(MakeFolder(folder));
    const std::u16string file = folder + u"\\\u5E73\u9762.jww";
    ASSERT_TRUE(WriteWholeFile(file, Bytes{1, 2, 3}));
    EXPECT_TRUE(FileFound(file));
    Bytes back;
    ASSERT_TRUE(ReadWholeFile(file, back));
    EXPECT_EQ(back, (Bytes{1, 2, 3}));
    CopyFileWithTimes(file, folder + u"\\copy.BAK");
    EXPECT_TRUE(FileFound(folder + u"\\copy.BAK"));
    ScanFolder(folder + u"\\", u"*.*");
    EXPECT_EQ(FileCount, 2);
    EXPECT_TRUE(DeleteFileQuiet(file));
    EXPECT_FALSE(FileFound(file));
    // The extended form given by a caller is taken as it is.
    EXPECT_TRUE(FileFound(u"\\\\?\\" + folder + u"\\copy.BAK"));
}

TEST(FsWin32, NamesAreUtf16AndSeparatorsEitherWay) {
    TempDir dir;
    const std::u16string name = u"\u56F3\u9762.jww";
    ASSERT_TRUE(WriteWholeFile(Text(dir.path()) + u"/" + name, Bytes{7}));
    EXPECT_TRUE(fs::exists(dir.path() / std::wstring(L"\u56F3\u9762.jww")));
    ScanFolder(Text(dir.path()) + u"\\", u"*.JWW");
    ASSERT_EQ(FileCount, 1);
    EXPECT_EQ(FileList[0].name, name);
}

TEST(FsWin32, FilesHaveTheirOwnIdentity) {
    TempDir dir;
    test::WriteFile(dir.path() / "a.jww", Bytes{1});
    test::WriteFile(dir.path() / "b.jww", Bytes{1});
    platform::NodeInfo a, a2, b;
    ASSERT_FALSE(platform::Inspect(dir.path() / "a.jww", true, a));
    ASSERT_FALSE(platform::Inspect(fs::path(dir.path().native() + L"/./A.JWW"), true, a2));
    ASSERT_FALSE(platform::Inspect(dir.path() / "b.jww", true, b));
    EXPECT_EQ(a.kind, platform::NodeKind::Regular);
    EXPECT_NE(a.id.file, 0u);
    EXPECT_EQ(a.id, a2.id) << "another spelling of the same file";
    EXPECT_NE(a.id, b.id);
}

TEST(FsWin32, FilesAreReadAndWrittenAsBytes) {
    TempDir dir;
    // 0x1A ends a file read in text mode; CR LF and lone LF must stay as they are.
    const Bytes data = {0x41, 0x1A, 0x42, 0x0D, 0x0A, 0x0A, 0x00, 0xFF};
    ASSERT_TRUE(WriteWholeFile(test::U16((dir.path() / "b.jww").string()), data));
    EXPECT_EQ(test::ReadFile(dir.path() / "b.jww"), data);
    Bytes back;
    ASSERT_TRUE(ReadWholeFile(test::U16((dir.path() / "b.jww").string()), back));
    EXPECT_EQ(back, data);
}

TEST(FsWin32, CopyKeepsTheThreeTimeStamps) {
    TempDir dir;
    const std::wstring src = dir.path().native() + L"\\src.jww", dst = dir.path().native() + L"\\dst.BAK";
    test::WriteFile(src, Bytes(5000, 3));
    test::WriteFile(dst, Bytes{9});
    const auto stamp = [](std::uint64_t t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; };
    const FILETIME created = stamp(130000000000000001ULL), accessed = stamp(131000000000000002ULL),
                   written = stamp(132000000000000003ULL);
    HANDLE h = CreateFileW(src.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetFileTime(h, &created, &accessed, &written));
    CloseHandle(h);
    // What the file system keeps of them (Wine on Linux keeps no creation
    // time) is what the copy must carry.
    WIN32_FILE_ATTRIBUTE_DATA before{}, ad{};
    ASSERT_TRUE(GetFileAttributesExW(src.c_str(), GetFileExInfoStandard, &before));
    ASSERT_EQ(CompareFileTime(&before.ftLastWriteTime, &written), 0);
    ASSERT_FALSE(CopyFileReplacing(platform::TextFromPath(src), platform::TextFromPath(dst)));
    // The times first: reading the copy may touch its access time.
    ASSERT_TRUE(GetFileAttributesExW(dst.c_str(), GetFileExInfoStandard, &ad));
    EXPECT_EQ(CompareFileTime(&ad.ftLastWriteTime, &written), 0);
    if (CompareFileTime(&before.ftCreationTime, &created) == 0) {
        EXPECT_EQ(CompareFileTime(&ad.ftCreationTime, &created), 0);
    }
    // The access time is not checked: Wine on Linux moves it on its own.
    EXPECT_EQ(test::ReadFile(dst), Bytes(5000, 3));
}

TEST(FsWin32, FileOpenByAnotherProgramIsStillRead) {
    TempDir dir;
    const std::wstring p = dir.path().native() + L"\\open.jww";
    test::WriteFile(p, Bytes{5, 6});
    // Open for writing elsewhere (as the drawing program keeps it).
    HANDLE h = CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Bytes back;
    EXPECT_TRUE(ReadWholeFile(platform::TextFromPath(p), back));
    EXPECT_EQ(back, (Bytes{5, 6}));
    CloseHandle(h);
}

}  // namespace
}  // namespace tervalo
#endif
