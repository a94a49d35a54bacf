// The UI test of tervalo.exe's window, driven by window messages (never by
// screen coordinates): the window is made as the program makes it, with a
// settings file pointing at a copy of the corpus, and each step sends the
// messages a user's keys and clicks would send (a tree view selection, list
// view states, button clicks, a header click, keys into the queue, text
// pasted into the output folder field, the ？ menu, a dropped folder, the
// settings dialog's controls), waits for the window to show the outcome and
// checks it. Modal message boxes are replaced by services that answer at once and
// keep what was said; the settings dialog is the real one.
//
// Usage: tervalo_ui_test --shots OUT_FOLDER FOLDER DRAWING   (the README's picture)
// Usage: tervalo_ui_test --package FOLDER
//   starts FOLDER\tervalo.exe as the user would, finds its window, closes it
//   and checks that it kept its settings beside itself.
// Usage: tervalo_ui_test SETTINGS_FOLDER CORPUS_COPY SUBFOLDER EXPECTED OUT LONG [MANY]
//   SUBFOLDER  a folder below CORPUS_COPY to select in the tree
//   EXPECTED   its files as the Linux tervalo-cli converts them with
//              --to-real --marker circle --scale 2.5
//   OUT        an empty output folder
//   LONG       a folder of many drawings, for a run that is stopped
//   MANY       optional: a folder of thousands of drawings, listed and timed
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "convert/convert_options.h"
#include "convert/settings_file.h"
#include "main_window.h"
#include "preview_job.h"
#include "resource.h"
#include "settings_form.h"
#include "win_text.h"

using namespace tervalo;
using namespace tervalo::win;

namespace {

int g_failed = 0, g_passed = 0;
bool g_stepOk = true;
std::string g_step;
std::chrono::steady_clock::time_point g_stepStart;

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}
std::string Utf8(const std::u16string& s) { return Utf8(W(s)); }

void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Begin(const std::string& name) {
    g_step = name;
    g_stepOk = true;
    g_stepStart = std::chrono::steady_clock::now();
}

void End() {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - g_stepStart).count();
    Print("[" + std::string(g_stepOk ? " OK " : "FAIL") + "] " + g_step + " (" + std::to_string(ms) + " ms)");
    (g_stepOk ? g_passed : g_failed)++;
}

bool Expect(bool ok, const std::string& what) {
    if (!ok) {
        g_stepOk = false;
        Print("    failed: " + what);
    }
    return ok;
}

// Handles the window's messages until `done` holds; false after `ms`.
bool WaitFor(HWND main, const std::function<bool()>& done, DWORD ms = 30000) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (!done()) {
        if (GetTickCount64() > end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;  // the window's end is seen by `done`
            if (MainWindow::TranslateKeys(main, &msg)) continue;
            if (main && IsWindow(main) && IsDialogMessageW(main, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

void Settle(HWND main, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    WaitFor(main, [&] { return GetTickCount64() >= end; }, ms + 1000);
}

std::wstring Join(const std::wstring& a, const std::wstring& b) { return a.back() == L'\\' ? a + b : a + L"\\" + b; }

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(Join(folder, L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream f(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

std::wstring CellText(HWND list, int row, int column) {
    wchar_t buf[1024] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buf;
    item.cchTextMax = static_cast<int>(std::size(buf));
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buf;
}

// A key as the keyboard sends it: into the queue of the focused control,
// where the test's loop handles it as the program's loop would.
void PressKey(HWND control, WPARAM key) {
    PostMessageW(control, WM_KEYDOWN, key, 1);
    PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

// Typed or pasted into an edit box: its whole text replaced, as a paste does
// (the box counts as modified).
void Paste(HWND edit, const std::wstring& text) {
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

int FocusedRow(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)); }

// The popup menu open at the moment (its items read back), then closed.
std::vector<std::wstring> g_menuItems;
void CALLBACK ReadAndCloseMenu(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (HWND popup = FindWindowW(L"#32768", nullptr)) {
        if (auto menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0))) {
            for (int i = 0; i < GetMenuItemCount(menu); ++i) {
                wchar_t text[128] = {};
                GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
                g_menuItems.push_back(text);
            }
        }
    }
    EndMenu();
}

int RowCount(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

void SelectRow(HWND list, int row, bool on) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | (on ? LVIS_FOCUSED : 0u);
    item.state = on ? (LVIS_SELECTED | LVIS_FOCUSED) : 0u;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void ClickHeader(HWND main, HWND list, int column) {
    NMLISTVIEW nm{};
    nm.hdr.hwndFrom = list;
    nm.hdr.idFrom = kIdList;
    nm.hdr.code = LVN_COLUMNCLICK;
    nm.iItem = -1;
    nm.iSubItem = column;
    SendMessageW(main, WM_NOTIFY, kIdList, reinterpret_cast<LPARAM>(&nm));
}

int HeaderSortFlags(HWND list, int column) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    Header_GetItem(ListView_GetHeader(list), column, &item);
    return item.fmt & (HDF_SORTUP | HDF_SORTDOWN);
}

std::wstring TreeItemText(HWND tree, HTREEITEM item) {
    wchar_t text[MAX_PATH] = {};
    TVITEMW tvi{};
    tvi.mask = TVIF_TEXT;
    tvi.hItem = item;
    tvi.pszText = text;
    tvi.cchTextMax = MAX_PATH;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tvi));
    return text;
}

// A folder dropped from Explorer: the HDROP of one path.
void DropPath(HWND main, const std::wstring& path) {
    const std::size_t bytes = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
    HGLOBAL mem = GlobalAlloc(GHND, bytes);
    auto* df = static_cast<DROPFILES*>(GlobalLock(mem));
    df->pFiles = sizeof(DROPFILES);
    df->fWide = TRUE;
    auto* names = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(df) + sizeof(DROPFILES));
    std::copy(path.begin(), path.end(), names);
    GlobalUnlock(mem);
    SendMessageW(main, WM_DROPFILES, reinterpret_cast<WPARAM>(mem), 0);  // the window frees it
}

std::string Hex(const std::u16string& folder) {
    static const char* digits = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : Utf8(folder)) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

struct Recorded {
    std::vector<std::u16string> messages;
    std::vector<std::u16string> questions;
    std::vector<std::u16string> opened;
    int beeps = 0;
    int results = 0;
    std::u16string resultsSummary;
    std::vector<gui::ResultRow> resultRows;
    std::function<void(HWND)> onDialog;
};

Services TestServices(Recorded& r) {
    Services s;
    s.message = [&r](HWND, const std::u16string& text, gui::MessageKind) { r.messages.push_back(text); };
    s.beep = [&r] { ++r.beeps; };
    s.ask = [&r](HWND, const std::u16string& text) {
        r.questions.push_back(text);
        return true;
    };
    s.pickFolder = [](HWND, const std::u16string&, const std::u16string&) { return std::u16string(); };
    s.openPath = [&r](HWND, const std::u16string& path) {
        r.opened.push_back(path);
        return true;
    };
    s.results = [&r](HWND, const std::u16string& summary, const std::vector<gui::ResultRow>& rows) {
        ++r.results;
        r.resultsSummary = summary;
        r.resultRows = rows;
    };
    s.dialogOpened = [&r](HWND dlg) {
        if (r.onDialog) r.onDialog(dlg);
    };
    return s;
}

// The packed program, started in its own folder.
int TestPackage(const std::wstring& folder) {
    Begin("the packed tervalo.exe starts, lists, closes and keeps its settings");
    const std::wstring exe = Join(folder, L"tervalo.exe"), dat = Join(folder, L"tervalo.dat");
    DeleteFileW(dat.c_str());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + exe + L"\"";
    if (Expect(CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi) != 0,
               "the program starts")) {
        WaitForInputIdle(pi.hProcess, 30000);
        struct Find {
            DWORD pid;
            HWND found;
        } find{pi.dwProcessId, nullptr};
        auto look = [&] {
            EnumWindows(
                [](HWND h, LPARAM data) -> BOOL {
                    auto* f = reinterpret_cast<Find*>(data);
                    DWORD pid = 0;
                    GetWindowThreadProcessId(h, &pid);
                    wchar_t cls[64] = {};
                    GetClassNameW(h, cls, 64);
                    if (pid == f->pid && std::wstring(cls) == L"TervaloMainWindow") f->found = h;
                    return f->found == nullptr;
                },
                reinterpret_cast<LPARAM>(&find));
            return find.found != nullptr;
        };
        if (Expect(WaitFor(nullptr, look, 60000), "its main window appears")) {
            wchar_t title[128] = {};
            GetWindowTextW(find.found, title, 128);
            Expect(std::wstring(title) == L"Tervalo Ver.1.10", "the title: " + Utf8(std::wstring(title)));
            HWND status = GetDlgItem(find.found, kIdStatus);
            Expect(WaitFor(nullptr, [&] { return SendMessageW(status, SB_GETTEXTLENGTHW, 0, 0) != 0; }, 30000),
                   "the status bar says what it found");
            PostMessageW(find.found, WM_CLOSE, 0, 0);
        }
        Expect(WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0, "it ends when closed");
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        Expect(code == 0, "exit code " + std::to_string(code));
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    Expect(GetFileAttributesW(dat.c_str()) != INVALID_FILE_ATTRIBUTES, "tervalo.dat is written beside it");
    End();
    Print("ui: " + std::to_string(g_passed) + " passed, " + std::to_string(g_failed) + " failed");
    return g_failed ? 1 : 0;
}

// Saves what the screen shows of the window (frame included) as a BMP.
bool SaveWindowPicture(HWND hwnd, const std::wstring& path) {
    RECT r;
    GetWindowRect(hwnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u), size = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + size;
    std::ofstream f(path.c_str(), std::ios::binary);
    f.write(reinterpret_cast<const char*>(&fh), sizeof fh);
    f.write(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
    f.write(static_cast<const char*>(bits), size);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return static_cast<bool>(f);
}

// The README's picture: FOLDER listed, the preview showing DRAWING as a
// conversion to temporary points would write it.
int TakeShots(const std::wstring& outFolder, const std::wstring& folder, const std::wstring& drawing) {
    const std::wstring settingsPath = Join(outFolder, L"shots.dat");
    {
        std::ofstream f(settingsPath.c_str(), std::ios::binary);
        f << "40\r\n40\r\n1440\r\n800\r\n220\r\n" << Hex(U(folder)) << "\r\n" << Hex(U(L"C:\\変換後")) << "\r\n";
        const char* rest[] = {"0", "0", "0", "0", "0", "0", "0", "64", "64", "1", "0", "1", "1", "0", "0", "0", "1"};
        for (const char* line : rest) f << line << "\r\n";
        std::ofstream layout(Join(outFolder, L"shots.layout").c_str(), std::ios::binary);
        layout << "preview_shown=1\r\npreview_width=470\r\n";
    }
    Recorded rec;
    MainWindow::Options options;
    options.settings = {U(settingsPath), U(settingsPath)};
    options.quitOnClose = false;
    auto window = std::make_unique<MainWindow>(options, TestServices(rec));
    MainWindow& w = *window;
    if (!w.Create(SW_SHOWNORMAL)) return 1;
    HWND main = w.Handle();
    WaitFor(main, [&] { return w.listingsFinished >= 1 && w.countsFinished >= 1; }, 60000);
    SendMessageW(w.Preview().AfterBox(), BM_SETCHECK, BST_CHECKED, 0);
    // The drawing's row when it is listed (the preview follows it), else the
    // drawing shown by itself.
    const std::wstring name = drawing.substr(drawing.find_last_of(L"\\/") + 1);
    int row = -1;
    for (int r = 0; r < RowCount(w.List()) && row < 0; ++r)
        if (CellText(w.List(), r, 0) == name) row = r;
    if (row >= 0) {
        SetFocus(w.List());
        SelectRow(w.List(), row, true);
        ListView_EnsureVisible(w.List(), row, FALSE);
    } else {
        w.Preview().ShowFile(U(drawing), ConvertOptions);
    }
    WaitFor(main, [&] { return !w.Preview().Loading(); }, 60000);
    Settle(main, 800);
    const bool ok = SaveWindowPicture(main, Join(outFolder, L"windows-main-window.bmp"));
    PostMessageW(main, WM_CLOSE, 0, 0);
    WaitFor(main, [&] { return !w.Alive(); }, 30000);
    DeleteFileW(settingsPath.c_str());
    DeleteFileW(Join(outFolder, L"shots.layout").c_str());
    return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--package") return TestPackage(argv[2]);
    if (argc == 5 && std::wstring(argv[1]) == L"--shots") {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
        return TakeShots(argv[2], argv[3], argv[4]);
    }
    if (argc < 7) {
        Print("usage: tervalo_ui_test SETTINGS_FOLDER CORPUS_COPY SUBFOLDER EXPECTED OUT LONG [MANY]");
        return 2;
    }
    const std::wstring settingsFolder = argv[1], corpus = argv[2], sub = argv[3], expected = argv[4], out = argv[5],
                       longFolder = argv[6], many = argc > 7 ? argv[7] : L"";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    const std::wstring settingsPath = Join(settingsFolder, L"tervalo.dat");
    DeleteFileW(settingsPath.c_str());
    DeleteFileW(Join(settingsFolder, L"tervalo.layout").c_str());
    {
        // The reference folder is the corpus copy, the output folder given.
        std::ofstream f(settingsPath.c_str(), std::ios::binary);
        const char* rest[] = {"0", "80", "80", "80", "80", "80", "80", "64", "64", "0", "0", "1", "1", "0", "0", "0", "1"};
        f << "40\r\n40\r\n1100\r\n700\r\n240\r\n" << Hex(U(corpus)) << "\r\n" << Hex(U(out)) << "\r\n";
        for (const char* line : rest) f << line << "\r\n";
    }
    Recorded rec;
    MainWindow::Options options;
    options.settings = {U(settingsPath), U(settingsPath)};
    options.quitOnClose = false;
    const std::wstring subPath = Join(corpus, sub);
    int savedNameWidth = 0;
    TConvertOptions chosen;

    {
        auto window = std::make_unique<MainWindow>(options, TestServices(rec));
        MainWindow& w = *window;

        Begin("start: the settings' reference folder is listed");
        Expect(w.Create(SW_SHOWNORMAL), "the window is created");
        HWND main = w.Handle(), list = w.List();
        Expect(WaitFor(main, [&] { return w.listingsFinished >= 1; }), "the first listing ends");
        Expect(WindowText(w.Control(kIdLabel1)) == u"参照フォルダ：" + U(corpus), "the caption names the folder");
        Expect(RowCount(list) == static_cast<int>(FilesIn(corpus).size()),
               "one row per file of the folder (" + std::to_string(RowCount(list)) + ")");
        Expect(w.StatusText() == gui::FoundText(FilesIn(corpus).size()), "status: " + Utf8(w.StatusText()));
        Expect(WindowText(w.Control(kIdOutputEdit)) == U(out), "the output folder is shown");
        Expect(w.Tree().SelectedPath() == U(corpus) || !w.Tree().IsShellTree(),
               "the tree shows the folder selected: " + Utf8(w.Tree().SelectedPath()));
        Print(std::string("    folder tree: ") + (w.Tree().IsShellTree() ? "shell name-space tree control" : "plain tree view"));
        End();

        Begin("select a folder in the tree");
        {
            HWND tv = w.Tree().TreeView();
            auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tv, TVM_GETNEXTITEM, TVGN_CARET, 0));
            Expect(item != nullptr, "a tree item is selected");
            SendMessageW(tv, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
            Settle(main, 300);
            HTREEITEM target = nullptr;
            for (auto c = reinterpret_cast<HTREEITEM>(SendMessageW(tv, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
                 c; c = reinterpret_cast<HTREEITEM>(SendMessageW(tv, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(c))))
                if (TreeItemText(tv, c) == sub) target = c;
            Expect(target != nullptr, "the subfolder is in the tree below the folder");
            const int before = w.listingsFinished;
            SendMessageW(tv, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(target));
            Expect(WaitFor(main, [&] { return w.listingsFinished > before; }, 10000), "the folder is listed");
            Expect(w.Logic().ReferenceFolder() == U(subPath), "the reference folder: " + Utf8(w.Logic().ReferenceFolder()));
            Expect(WindowText(w.Control(kIdLabel1)) == u"参照フォルダ：" + U(subPath), "the caption follows");
        }
        End();

        Begin("read the list's rows back, sort by name");
        {
            std::vector<std::wstring> files = FilesIn(subPath);
            Expect(RowCount(list) == static_cast<int>(files.size()), "a row per file");
            int withVersion = 0;
            std::vector<std::wstring> names;
            for (int r = 0; r < RowCount(list); ++r) {
                names.push_back(CellText(list, r, 0));
                if (!CellText(list, r, 5).empty()) ++withVersion;
                const std::wstring kind = CellText(list, r, 1);
                Expect(kind.size() > 1 && kind[0] == L'.', "row " + std::to_string(r) + " has a kind");
            }
            Expect(withVersion == RowCount(list), "every drawing shows its version");
            std::vector<std::wstring> a = names, b = files;
            std::sort(a.begin(), a.end());
            std::sort(b.begin(), b.end());
            Expect(a == b, "the rows name the folder's files");
            Expect(WaitFor(main, [&] { return w.countsFinished >= 2; }, 30000), "the point counts arrive");
            Expect(!CellText(list, 0, 7).empty(), "the real-point count is shown");
            ClickHeader(main, list, 0);
            Expect(HeaderSortFlags(list, 0) == HDF_SORTDOWN, "the first click sorts descending, with the arrow");
            bool descending = true;
            for (int r = 1; r < RowCount(list); ++r)
                if (CompareStringOrdinal(CellText(list, r - 1, 0).c_str(), -1, CellText(list, r, 0).c_str(), -1, TRUE) ==
                    CSTR_LESS_THAN)
                    descending = false;
            Expect(descending, "the names are in descending order");
            ClickHeader(main, list, 0);
            Expect(HeaderSortFlags(list, 0) == HDF_SORTUP, "the second click sorts ascending");
        }
        End();

        Begin("the file type filters the list");
        {
            HWND combo = w.Control(kIdFileType);
            std::size_t jws = 0;
            for (const std::wstring& f : FilesIn(subPath))
                if (f.size() > 4 && CompareStringOrdinal(f.c_str() + f.size() - 4, 4, L".jws", 4, TRUE) == CSTR_EQUAL) ++jws;
            auto choose = [&](int index) {
                const int before = w.listingsFinished;
                SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
                SendMessageW(main, WM_COMMAND, MAKEWPARAM(kIdFileType, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
                return WaitFor(main, [&] { return w.listingsFinished > before; }, 30000);
            };
            Expect(choose(3) && RowCount(list) == static_cast<int>(jws), "*.jws lists the figures only");
            Expect(choose(2) && RowCount(list) == static_cast<int>(FilesIn(subPath).size() - jws), "*.jww the drawings only");
            Expect(choose(0) && RowCount(list) == static_cast<int>(FilesIn(subPath).size()), "*.* every file again");
            ClickHeader(main, list, 0);
            ClickHeader(main, list, 0);
        }
        End();

        Begin("the preview draws the current file, after conversion with the changed points");
        {
            SendMessageW(w.Control(kIdPreviewToggle), BM_CLICK, 0, 0);
            SelectRow(list, 0, true);
            Expect(WaitFor(main, [&] { return w.Preview().Content() && !w.Preview().Loading(); }, 30000), "the file is read");
            const gui::PreviewContent* c = w.Preview().Content();
            Expect(c && c->scene && c->scene->Size() > 0, "its primitives are drawn");
            Expect(c && c->counts.Total() > 0, "its points are counted");
            // Drawn as a conversion to temporary points would write it (these
            // figures hold real points).
            ConvertOptions.Direction = 1;
            SendMessageW(w.Preview().AfterBox(), BM_CLICK, 0, 0);
            Expect(WaitFor(main, [&] { return w.Preview().Content() && w.Preview().Content()->after && !w.Preview().Loading(); }, 30000),
                   "drawn again after conversion");
            c = w.Preview().Content();
            // (real points that are marker end points stay real by default)
            Expect(c && c->counts.real > 0 && c->countsAfter.real < c->counts.real &&
                       c->countsAfter.Total() == c->counts.Total() && c->changedCount > 0,
                   c ? "real points turn temporary and are marked: real " + std::to_string(c->counts.real) + " -> " +
                           std::to_string(c->countsAfter.real) + ", temporary " + std::to_string(c->counts.temporary) +
                           " -> " + std::to_string(c->countsAfter.temporary) + ", " + std::to_string(c->changedCount) +
                           " marked"
                     : std::string("no content"));
            ConvertOptions.Direction = 0;
            const double scale = w.Preview().View().Scale();
            RECT rc;
            GetClientRect(w.Preview().Canvas(), &rc);
            POINT centre{rc.right / 2, rc.bottom / 2};
            ClientToScreen(w.Preview().Canvas(), &centre);
            SendMessageW(w.Preview().Canvas(), WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(centre.x, centre.y));
            Expect(std::fabs(w.Preview().View().Scale() / scale - 1.25) < 1e-9, "the wheel zooms");
            SendMessageW(w.Preview().Canvas(), WM_LBUTTONDBLCLK, 0, MAKELPARAM(5, 5));
            Expect(std::fabs(w.Preview().View().Scale() / scale - 1) < 1e-9, "a double click fits again");
            SendMessageW(w.Preview().AfterBox(), BM_CLICK, 0, 0);
            SendMessageW(w.Control(kIdPreviewToggle), BM_CLICK, 0, 0);
            SelectRow(list, 0, false);
        }
        End();

        Begin("the preview names the file it shows; empty, it says what to do");
        {
            HWND caption = w.Preview().Caption(), canvas = w.Preview().Canvas();
            SendMessageW(w.Control(kIdPreviewToggle), BM_CLICK, 0, 0);
            SelectRow(list, 1, true);
            Expect(WaitFor(main, [&] { return w.Preview().Content() && !w.Preview().Loading(); }, 30000), "the file is read");
            Expect(IsWindowVisible(caption) && WindowText(caption) == U(CellText(list, 1, 0)),
                   "the caption names the file: " + Utf8(WindowText(caption)));
            const gui::PreviewContent* c = w.Preview().Content();
            Expect(c && (c->scene ? WindowText(canvas).empty() : WindowText(canvas) == c->message),
                   "a drawing instead of a text: " + Utf8(WindowText(canvas)));
            ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
            Expect(WindowText(caption).empty(), "no file, no caption");
            Expect(WindowText(canvas) == gui::kPreviewEmptyText, "the empty preview says what to do: " + Utf8(WindowText(canvas)));
            SendMessageW(w.Control(kIdPreviewToggle), BM_CLICK, 0, 0);
            Expect(!IsWindowVisible(caption), "folded away with the preview");
        }
        End();

        Begin("更新 and F5 list the folder again, the selection kept");
        {
            HWND refresh = w.Control(kIdRefresh);
            Expect(WindowText(refresh) == u"更新" && IsWindowVisible(refresh), "the 更新 button");
            SelectRow(list, 1, true);
            SelectRow(list, 2, true);
            const std::vector<std::size_t> selected = w.SelectedRows();
            const std::wstring current = CellText(list, 2, 0);
            auto relisted = [&](const std::function<void()>& action) {
                const int before = w.listingsFinished;
                action();
                return WaitFor(main, [&] { return w.listingsFinished > before; }, 30000);
            };
            Expect(relisted([&] { SendMessageW(refresh, BM_CLICK, 0, 0); }), "the button lists the folder again");
            Expect(w.SelectedRows() == selected && FocusedRow(list) >= 0 && CellText(list, FocusedRow(list), 0) == current,
                   "the same files are selected, the same one current");
            Expect(w.StatusText() == gui::FoundText(FilesIn(subPath).size()), "status: " + Utf8(w.StatusText()));
            SetFocus(list);
            Expect(relisted([&] { PressKey(list, VK_F5); }), "F5 in the list lists it again");
            Expect(relisted([&] { PressKey(w.Control(kIdFileType), VK_F5); }), "F5 elsewhere in the window too");
            Expect(w.SelectedRows() == selected, "the selection is kept");
            ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        }
        End();

        Begin("the output folder typed or pasted: Enter or leaving the field sets it; 開く opens it");
        {
            HWND edit = w.Control(kIdOutputEdit), open = w.Control(kIdOpenOutput);
            const std::wstring typed = Join(settingsFolder, L"出力 先"), missing = Join(settingsFolder, L"無いフォルダ");
            CreateDirectoryW(typed.c_str(), nullptr);
            Expect(!(GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) && IsWindowEnabled(edit), "the field can be edited");
            Paste(edit, L"  " + typed + L"\u3000");
            Expect(w.Logic().OutputFolder() == U(out), "not taken while typing");
            PressKey(edit, VK_RETURN);
            Expect(WaitFor(main, [&] { return w.Logic().OutputFolder() == U(typed); }, 5000),
                   "Enter takes it, without the spaces around it: " + Utf8(w.Logic().OutputFolder()));
            Expect(WindowText(edit) == U(typed), "the field shows it as taken");
            const std::size_t opened = rec.opened.size(), said = rec.messages.size();
            SendMessageW(open, BM_CLICK, 0, 0);
            Expect(WindowText(open) == u"開く" && rec.opened.size() == opened + 1 && rec.opened.back() == U(typed),
                   "開く opens it in Explorer");
            Paste(edit, missing);
            SetFocus(list);
            Expect(w.Logic().OutputFolder() == U(missing), "leaving the field takes it");
            SendMessageW(open, BM_CLICK, 0, 0);
            Expect(rec.opened.size() == opened + 1 && rec.messages.size() == said + 1, "a missing folder is not opened; the user is told");
            Paste(edit, out);
            SetFocus(list);
            Expect(w.Logic().OutputFolder() == U(out) && WindowText(edit) == U(out), "the run's folder again");
        }
        End();

        Begin("？: the help (F1 too) and the about box with the version and the licences");
        {
            HWND help = w.Control(kIdHelp);
            Expect(WindowText(help) == u"？" && IsWindowVisible(help), "the ？ button");
            g_menuItems.clear();
            SetTimer(nullptr, 0, 300, ReadAndCloseMenu);
            SendMessageW(help, BM_CLICK, 0, 0);  // returns when the menu has closed
            Expect(g_menuItems == std::vector<std::wstring>{L"使い方(&H)\tF1", L"バージョン情報(&A)"},
                   "its menu: " + std::to_string(g_menuItems.size()) + " items");
            const std::size_t said = rec.messages.size();
            SetFocus(list);
            PressKey(list, VK_F1);
            Expect(WaitFor(main, [&] { return rec.messages.size() > said; }, 5000) && rec.messages.back() == gui::HelpText(),
                   "F1 shows the help");
            SendMessageW(main, WM_COMMAND, MAKEWPARAM(kIdHelpContents, 0), 0);
            Expect(rec.messages.size() == said + 2 && rec.messages.back() == gui::HelpText(), "and so does 使い方");
            SendMessageW(main, WM_COMMAND, MAKEWPARAM(kIdAbout, 0), 0);
            const std::u16string about = rec.messages.size() == said + 3 ? rec.messages.back() : u"";
            Expect(about.rfind(u"Tervalo Ver.1.10", 0) == 0 && about.find(u"Windows API") != std::u16string::npos &&
                       about.find(u"MinGW-w64") != std::u16string::npos && about.find(u"zlib") != std::u16string::npos &&
                       about.find(u"GCC Runtime Library Exception") != std::u16string::npos &&
                       about.find(u"ICU") == std::u16string::npos,
                   "バージョン情報: the version and what is linked in, no ICU: " + Utf8(about));
        }
        End();

        Begin("change the options in the settings dialog");
        {
            // First a scale that is refused, then 2.5: point markers ○.
            int stage = 0;
            rec.onDialog = [&](HWND dlg) {
                auto set = [dlg](int id, const wchar_t* text) {
                    SendMessageW(GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
                };
                PostMessageW(GetDlgItem(dlg, IDC_RADIO1), BM_CLICK, 0, 0);
                if (IsDlgButtonChecked(dlg, IDC_CHECK1) != BST_CHECKED) PostMessageW(GetDlgItem(dlg, IDC_CHECK1), BM_CLICK, 0, 0);
                SendDlgItemMessageW(dlg, IDC_MARKER, CB_SETCURSEL, 1, 0);
                set(IDC_SCALE, L"abc");
                PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
                stage = 1;
                // Once refused, the right scale and OK.
                SetTimer(dlg, 77, 300, [](HWND d, UINT, UINT_PTR id, DWORD) {
                    KillTimer(d, id);
                    SendMessageW(GetDlgItem(d, IDC_SCALE), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"2.5"));
                    PostMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
                });
            };
            const int beeps = rec.beeps;
            SendMessageW(w.Control(kIdSettings), BM_CLICK, 0, 0);  // returns when the dialog has closed
            rec.onDialog = nullptr;
            Expect(stage == 1, "the dialog opened");
            Expect(rec.beeps == beeps + 1, "the scale abc is refused with a beep");
            Expect(!rec.messages.empty() && rec.messages.back() == gui::kScaleRefusedText, "and says why");
            Expect(ConvertOptions.Direction == 0 && ConvertOptions.MakeMarker == 1 && ConvertOptions.MarkerIndex == 1 &&
                       ConvertOptions.MarkerScale == 2.5 && ConvertOptions.SxfDimensions == 1 && ConvertOptions.BlockContents == 1,
                   "the options: to real points, markers ○ at 2.5");
            chosen = ConvertOptions;
        }
        End();

        Begin("select files and convert; the files equal the Linux tervalo-cli's");
        {
            // Ctrl+A in the list selects every file.
            SetFocus(list);
            BYTE keys[256];
            GetKeyboardState(keys);
            keys[VK_CONTROL] |= 0x80;
            SetKeyboardState(keys);
            NMLVKEYDOWN press{};
            press.hdr.hwndFrom = list;
            press.hdr.idFrom = kIdList;
            press.hdr.code = LVN_KEYDOWN;
            press.wVKey = 'A';
            SendMessageW(main, WM_NOTIFY, kIdList, reinterpret_cast<LPARAM>(&press));
            keys[VK_CONTROL] &= 0x7F;
            SetKeyboardState(keys);
            Expect(static_cast<int>(w.SelectedRows().size()) == RowCount(list) && RowCount(list) > 0,
                   "Ctrl+A selects every file (" + std::to_string(w.SelectedRows().size()) + " of " +
                       std::to_string(RowCount(list)) + ")");
            ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
            std::vector<std::u16string> picked;
            for (int r = 0; r < RowCount(list); r += 3) {
                SelectRow(list, r, true);
                picked.push_back(U(CellText(list, r, 0)));
            }
            Expect(w.SelectedRows().size() == picked.size(), "the rows are selected");
            const int runs = w.runsFinished;
            SendMessageW(w.Control(kIdConvert), BM_CLICK, 0, 0);
            Expect(WaitFor(main, [&] { return w.runsFinished > runs; }, 120000), "the run ends");
            Expect(w.StatusText().find(u"個のファイルを変換しました") != std::u16string::npos, "status: " + Utf8(w.StatusText()));
            Expect(FilesIn(out).size() == picked.size(), "one file per selected row in the output folder (" +
                                                            std::to_string(FilesIn(out).size()) + ")");
            int same = 0;
            for (const std::u16string& name : picked) {
                const std::string mine = ReadAll(Join(out, W(name))), theirs = ReadAll(Join(expected, W(name)));
                if (Expect(!mine.empty() && mine == theirs, "byte for byte: " + Utf8(name))) ++same;
            }
            Print("    " + std::to_string(same) + " of " + std::to_string(picked.size()) + " files equal the Linux conversion");
        }
        End();

        Begin("double click opens the file with its program");
        {
            const std::size_t before = rec.opened.size();
            NMITEMACTIVATE nm{};
            nm.hdr.hwndFrom = list;
            nm.hdr.idFrom = kIdList;
            nm.hdr.code = NM_DBLCLK;
            nm.iItem = w.SelectedRows().empty() ? -1 : static_cast<int>(w.SelectedRows().front());
            SendMessageW(main, WM_NOTIFY, kIdList, reinterpret_cast<LPARAM>(&nm));
            Expect(rec.opened.size() == before + 1 && rec.opened.back().rfind(U(subPath), 0) == 0, "the shell is asked to open it");
        }
        End();

        Begin("a file not converted: the results list names it with its reason");
        {
            const std::wstring broken = Join(settingsFolder, L"壊れた図面");
            CreateDirectoryW(broken.c_str(), nullptr);
            {
                std::ofstream f(Join(broken, L"壊れた.jww").c_str(), std::ios::binary);
                f << "JwwData. this is not a drawing";
            }
            const int before = w.listingsFinished;
            DropPath(main, broken);
            Expect(WaitFor(main, [&] { return w.listingsFinished > before; }, 30000) && RowCount(list) == 1, "the folder is listed");
            SelectRow(list, 0, true);
            const int runs = w.runsFinished, shown = rec.results;
            SendMessageW(w.Control(kIdConvert), BM_CLICK, 0, 0);
            Expect(WaitFor(main, [&] { return w.runsFinished > runs; }, 60000), "the run ends");
            Expect(rec.results == shown + 1, "the results are shown");
            Expect(rec.resultRows.size() == 1 && rec.resultRows[0].name == u"壊れた.jww" && !rec.resultRows[0].reason.empty(),
                   "the file with its reason: " + (rec.resultRows.empty() ? std::string() : Utf8(rec.resultRows[0].reason)));
            Expect(rec.resultsSummary == w.StatusText() &&
                       w.StatusText().find(u"1個のファイルは変換できませんでした") != std::u16string::npos,
                   "headed by the status: " + Utf8(w.StatusText()));
        }
        End();

        Begin("a dropped folder is listed; a long run is stopped");
        {
            const int before = w.listingsFinished;
            DropPath(main, longFolder);
            Expect(WaitFor(main, [&] { return w.listingsFinished > before; }, 60000), "the dropped folder is listed");
            Expect(w.Logic().ReferenceFolder() == U(longFolder), "it is the reference folder");
            const int total = RowCount(list);
            for (int r = 0; r < total; ++r) SelectRow(list, r, true);
            const int runs = w.runsFinished;
            SendMessageW(w.Control(kIdConvert), BM_CLICK, 0, 0);
            Expect(WindowText(w.Control(kIdConvert)) == u"中止", "the button reads 中止");
            Expect(!IsWindowEnabled(w.Control(kIdSettings)), "the settings button is disabled during the run");
            Expect(WaitFor(main, [&] { return w.StatusText().find(u" / ") != std::u16string::npos; }), "progress is shown");
            SendMessageW(w.Control(kIdConvert), BM_CLICK, 0, 0);
            Expect(WaitFor(main, [&] { return w.runsFinished > runs; }, 120000), "the run ends");
            const BatchSummary& s = w.Logic().LastRun();
            Expect(s.stopped && static_cast<int>(s.files.size()) < total,
                   "stopped after " + std::to_string(s.files.size()) + " of " + std::to_string(total));
            Expect(w.StatusText().rfind(u"変換を中止しました。", 0) == 0, "status: " + Utf8(w.StatusText()));
            Expect(WindowText(w.Control(kIdConvert)) == u"変換 (&T)" && IsWindowEnabled(w.Control(kIdSettings)),
                   "the controls are back");
        }
        End();

        Begin("close during a run: asked, the run stops, the window closes");
        {
            ListView_SetColumnWidth(list, 0, 173);
            savedNameWidth = 173;
            SendMessageW(w.Control(kIdConvert), BM_CLICK, 0, 0);
            Expect(WaitFor(main, [&] { return w.StatusText().find(u" / ") != std::u16string::npos; }), "the run has started");
            const std::size_t asked = rec.questions.size();
            PostMessageW(main, WM_CLOSE, 0, 0);
            Expect(WaitFor(main, [&] { return !w.Alive(); }, 120000), "the window closes once the run has stopped");
            Expect(rec.questions.size() == asked + 1 && rec.questions.back() == gui::kCloseDuringRunText,
                   "the user was asked first");
            Expect(w.Logic().LastRun().stopped, "the run was stopped");
            TSettingsData saved;
            Expect(LoadSettingsFile(U(settingsPath), saved) && saved.ReferenceFolder == U(longFolder),
                   "the settings were saved");
        }
        End();
    }

    Begin("restart: the settings are restored");
    {
        ResetConvertOptions();
        // This time with the plain tree view, which must reach the saved
        // folder by expanding its parents too.
        options.plainTree = true;
        auto window = std::make_unique<MainWindow>(options, TestServices(rec));
        MainWindow& w = *window;
        Expect(w.Create(SW_SHOWNORMAL), "the window is created again");
        HWND main = w.Handle();
        Expect(WaitFor(main, [&] { return w.listingsFinished >= 1; }, 60000), "the folder is listed");
        Expect(w.Logic().ReferenceFolder() == U(longFolder), "the reference folder");
        Expect(WindowText(w.Control(kIdOutputEdit)) == U(out), "the output folder");
        Expect(ConvertOptions.MakeMarker == chosen.MakeMarker && ConvertOptions.MarkerIndex == chosen.MarkerIndex &&
                   ConvertOptions.MarkerScale == chosen.MarkerScale && ConvertOptions.Direction == chosen.Direction,
               "the conversion options");
        Expect(ListView_GetColumnWidth(w.List(), 0) == savedNameWidth, "the name column's width");
        Expect(!w.Tree().IsShellTree() && w.Tree().SelectedPath() == U(longFolder),
               "the plain tree shows the folder selected: " + Utf8(w.Tree().SelectedPath()));
        if (!many.empty()) {
            End();
            Begin("list a folder of many drawings");
            const int before = w.listingsFinished, counts = w.countsFinished;
            const auto start = std::chrono::steady_clock::now();
            DropPath(main, many);
            Expect(WaitFor(main, [&] { return w.listingsFinished > before; }, 300000), "the folder is listed");
            const auto listed = std::chrono::steady_clock::now();
            Expect(WaitFor(main, [&] { return w.countsFinished > counts; }, 600000), "the point counts arrive");
            const auto counted = std::chrono::steady_clock::now();
            auto ms = [](auto a, auto b) { return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count(); };
            Expect(RowCount(w.List()) == static_cast<int>(FilesIn(many).size()), "every file is listed");
            Print("    " + std::to_string(RowCount(w.List())) + " files listed in " + std::to_string(ms(start, listed)) +
                  " ms, point counts after " + std::to_string(ms(start, counted)) + " ms");
        }
        PostMessageW(main, WM_CLOSE, 0, 0);
        Expect(WaitFor(main, [&] { return !w.Alive(); }, 30000), "the window closes");
    }
    End();

    Print("ui: " + std::to_string(g_passed) + " passed, " + std::to_string(g_failed) + " failed");
    CoUninitialize();
    return g_failed ? 1 : 0;
}
