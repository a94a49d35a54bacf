#include "main_window.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windowsx.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "convert/convert_options.h"
#include "dialogs.h"
#include "file_rows.h"
#include "fs/fsutil.h"
#include "placement.h"
#include "resource.h"
#include "win_text.h"

namespace tervalo::win {

namespace {

constexpr wchar_t kMainClass[] = L"TervaloMainWindow";
constexpr UINT kRunTasks = WM_APP + 1;
constexpr UINT_PTR kTreeTimer = 1;
constexpr UINT kTreeInterval = 200;  // ms
constexpr int kSplitter = 5;         // 96-dpi pixels
constexpr int kTopLabel = 22, kPanel3 = 84;
constexpr wchar_t kTitle[] = L"Tervalo";
constexpr wchar_t kConvertText[] = L"変換 (&T)";
constexpr wchar_t kStopText[] = L"中止";
constexpr int kHelpButton = 28;  // 96-dpi pixels
// What the about box names beside the shared libraries: the window library
// and the runtime linked into the program.
constexpr char16_t kToolkitText[] =
    u"Windows API（Windows の一部）\n"
    u"MinGW-w64 ランタイム・winpthreads（著作権表示と許諾条件は同梱の licenses フォルダに）";

HWND Make(const wchar_t* cls, const wchar_t* text, DWORD style, HWND parent, int id, DWORD ex = 0) {
    return CreateWindowExW(ex, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

std::u16string KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::u16string out;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path) out = U(path);
    CoTaskMemFree(path);
    return out;
}

std::u16string FolderOf(const std::u16string& path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

std::u16string PickFolderDialog(HWND owner, const std::u16string& caption, const std::u16string& start) {
    IFileOpenDialog* dlg = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dlg)))) return {};
    std::u16string chosen;
    DWORD flags = 0;
    dlg->GetOptions(&flags);
    dlg->SetOptions(flags | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dlg->SetTitle(W(caption).c_str());
    IShellItem* folder = nullptr;
    if (!start.empty() && SUCCEEDED(SHCreateItemFromParsingName(W(start).c_str(), nullptr, IID_PPV_ARGS(&folder)))) {
        dlg->SetFolder(folder);
        folder->Release();
    }
    IShellItem* result = nullptr;
    if (SUCCEEDED(dlg->Show(owner)) && SUCCEEDED(dlg->GetResult(&result))) {
        PWSTR path = nullptr;
        if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) chosen = U(path);
        CoTaskMemFree(path);
        result->Release();
    }
    dlg->Release();
    return chosen;
}

}  // namespace

Services Services::Desktop() {
    Services s;
    s.message = [](HWND owner, const std::u16string& text, gui::MessageKind kind) {
        MessageBoxW(owner, W(text).c_str(), kTitle, MB_OK | (kind == gui::MessageKind::Error ? MB_ICONERROR : 0));
    };
    s.beep = [] { MessageBeep(MB_OK); };
    s.ask = [](HWND owner, const std::u16string& text) {
        return MessageBoxW(owner, W(text).c_str(), kTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
    };
    s.pickFolder = PickFolderDialog;
    s.openPath = [](HWND owner, const std::u16string& path) {
        const auto r = reinterpret_cast<INT_PTR>(ShellExecuteW(owner, L"open", W(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        return r > 32;
    };
    s.results = ShowResultsDialog;
    return s;
}

SettingsLocation SettingsLocationOf(const std::u16string& exePath) {
    const std::u16string beside = ReplaceExt(exePath, u".dat");
    const std::u16string appData = KnownFolder(FOLDERID_RoamingAppData);
    if (appData.empty()) return {beside, beside};
    const std::u16string fallback = appData + u"\\Tervalo\\" + ExtractNameOf(beside);
    const bool writable = gui::FolderWritable(FolderOf(beside));
    SettingsLocation s;
    s.savePath = writable ? beside : fallback;
    const std::u16string& other = writable ? fallback : beside;
    s.loadPath = !FileFound(PathOfText(s.savePath)) && FileFound(PathOfText(other)) ? other : s.savePath;
    return s;
}

MainWindow::MainWindow(Options options, Services services)
    : options_(std::move(options)), services_(std::move(services)) {
    logic_ = std::make_unique<gui::MainLogic>(*this);
    preview_ = std::make_unique<PreviewPane>(*this);
}

MainWindow::~MainWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
    preview_.reset();
    logic_.reset();
    if (font_) DeleteObject(font_);
    if (white_) DeleteObject(white_);
    if (keys_) DestroyAcceleratorTable(keys_);
}

bool MainWindow::Create(int show) {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(inst, kMainClass, &wc)) {
        wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = WndProc;
        wc.hInstance = inst;
        wc.hIcon = LoadIconW(inst, MAKEINTRESOURCEW(IDI_TERVALO));
        wc.hIconSm = wc.hIcon;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kMainClass;
        if (!RegisterClassExW(&wc)) return false;
    }
    logic_->LoadSettings(options_.settings.loadPath);
    const TSettingsData& d = logic_->settings().main;
    const gui::Rect placed = gui::FitOntoScreens({d.FormLeft, d.FormTop, d.FormWidth, d.FormHeight}, WorkAreas());
    hwnd_ = CreateWindowExW(WS_EX_ACCEPTFILES | WS_EX_CONTROLPARENT, kMainClass, W(gui::kWindowTitle).c_str(),
                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, placed.left, placed.top, placed.width, placed.height,
                            nullptr, nullptr, inst, this);
    if (!hwnd_) return false;
    dpi_ = static_cast<int>(GetDpiForWindow(hwnd_));
    if (dpi_ <= 0) dpi_ = 96;
    white_ = CreateSolidBrush(RGB(255, 255, 255));
    ACCEL keys[] = {{FVIRTKEY, VK_F1, kIdHelpContents}, {FVIRTKEY, VK_F5, kIdRefresh}};
    keys_ = CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));
    CreateControls();
    ApplySettings();
    Layout();
    logic_->Start();
    SetTimer(hwnd_, kTreeTimer, kTreeInterval, nullptr);
    ShowWindow(hwnd_, logic_->settings().layout.Maximized && show == SW_SHOWNORMAL ? SW_SHOWMAXIMIZED : show);
    UpdateWindow(hwnd_);
    return true;
}

void MainWindow::CreateControls() {
    label1_ = Make(L"STATIC", W(gui::kReferenceCaption).c_str(), SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE | SS_ENDELLIPSIS,
                   hwnd_, kIdLabel1);
    tree_.Create(hwnd_, kIdTree, options_.plainTree);
    label2_ = Make(L"STATIC", L"ファイルの種類：", SS_LEFT, hwnd_, -1);
    fileType_ = Make(WC_COMBOBOXW, L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, hwnd_, kIdFileType);
    for (int i = 0; i < gui::kFileTypeCount; ++i)
        SendMessageW(fileType_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(gui::FileTypeOf(i).text).c_str()));
    label3_ = Make(L"STATIC", L"※変換対象は", SS_LEFT, hwnd_, -1);
    pickOutput_ = Make(L"BUTTON", L"保存先フォルダ", BS_PUSHBUTTON | WS_TABSTOP, hwnd_, kIdPickOutput);
    outputEdit_ = Make(WC_EDITW, L"", ES_AUTOHSCROLL | WS_TABSTOP, hwnd_, kIdOutputEdit, WS_EX_CLIENTEDGE);
    SendMessageW(outputEdit_, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"フォルダを選ぶか、パスを入力・貼り付け"));
    openOutput_ = Make(L"BUTTON", L"開く", BS_PUSHBUTTON | WS_TABSTOP, hwnd_, kIdOpenOutput);
    label4_ = Make(L"STATIC", L"JWW/JWSのみ", SS_LEFT, hwnd_, -1);
    settingsButton_ = Make(L"BUTTON", L"変換設定(&S)", BS_PUSHBUTTON | WS_TABSTOP, hwnd_, kIdSettings);
    convertButton_ = Make(L"BUTTON", kConvertText, BS_PUSHBUTTON | WS_TABSTOP, hwnd_, kIdConvert);
    quitButton_ = Make(L"BUTTON", L"終了 (&X)", BS_PUSHBUTTON | WS_TABSTOP, hwnd_, kIdQuit);
    refresh_ = Make(L"BUTTON", L"更新", BS_PUSHBUTTON | WS_TABSTOP, hwnd_, kIdRefresh);
    previewToggle_ = Make(L"BUTTON", L"プレビュー(&P)", BS_AUTOCHECKBOX | WS_TABSTOP, hwnd_, kIdPreviewToggle);
    help_ = Make(L"BUTTON", L"？", BS_PUSHBUTTON | WS_TABSTOP, hwnd_, kIdHelp);
    // The buttons without a caption that says it all explain themselves.
    tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0, 0,
                            hwnd_, nullptr, GetModuleHandleW(nullptr), nullptr);
    const std::pair<HWND, const wchar_t*> tips[] = {
        {refresh_, L"一覧を読み直します (F5)"},
        {openOutput_, L"保存先フォルダをエクスプローラーで開きます"},
        {help_, L"使い方とバージョン情報 (F1)"},
    };
    for (const auto& [control, text] : tips) {
        TTTOOLINFOW ti{};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = hwnd_;
        ti.uId = reinterpret_cast<UINT_PTR>(control);
        ti.lpszText = const_cast<wchar_t*>(text);
        SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    list_ = Make(WC_LISTVIEWW, L"", LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | WS_TABSTOP, hwnd_, kIdList,
                 WS_EX_CLIENTEDGE);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    for (int c = 0; c < gui::kColumnCount; ++c) {
        const gui::ColumnInfo& info = gui::ColumnOf(c);
        std::wstring caption = W(info.caption);
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.fmt = info.rightAligned ? LVCFMT_RIGHT : LVCFMT_LEFT;
        col.cx = 80;
        col.pszText = caption.data();
        SendMessageW(list_, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
    }
    // The columns in the order they are shown (the memo after the version).
    int shown[gui::kColumnCount];
    for (int v = 0; v < gui::kColumnCount; ++v) shown[v] = gui::kShownColumnOrder[static_cast<std::size_t>(v)];
    ListView_SetColumnOrderArray(list_, gui::kColumnCount, shown);
    preview_->Create(hwnd_, nullptr);
    status_ = Make(STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP, hwnd_, kIdStatus);
    progress_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | PBS_SMOOTH, 0, 0, 0, 0, status_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdProgress)), GetModuleHandleW(nullptr),
                                nullptr);
    ApplyFonts();
}

void MainWindow::ApplyFonts() {
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof ncm;
    HFONT font = nullptr;
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0, static_cast<UINT>(dpi_)))
        font = CreateFontIndirectW(&ncm.lfMessageFont);
    if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    if (font_) DeleteObject(font_);
    font_ = font;
    EnumChildWindows(
        hwnd_,
        [](HWND child, LPARAM f) -> BOOL {
            SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(f), TRUE);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(font_));
    preview_->SetFont(font_);
}

void MainWindow::ApplySettings() {
    const gui::WindowSettings& ws = logic_->settings();
    treeWidth_ = std::max(0, ws.main.PanelWidth);
    previewWidth_ = ws.layout.PreviewWidth;
    previewShown_ = ws.layout.PreviewShown;
    SendMessageW(previewToggle_, BM_SETCHECK, previewShown_ ? BST_CHECKED : BST_UNCHECKED, 0);
    dialogLeft_ = ws.main.DialogLeft;
    dialogTop_ = ws.main.DialogTop;
    const int index = logic_->FileTypeIndex();
    SendMessageW(fileType_, CB_SETCURSEL, index >= 0 && index < gui::kFileTypeCount ? index : -1, 0);
    // Columns as wide as their usual texts, unless the settings give a
    // readable width of their own.
    HDC dc = GetDC(list_);
    HGDIOBJ old = SelectObject(dc, font_);
    for (int c = 0; c < gui::kColumnCount; ++c) {
        const gui::ColumnInfo& info = gui::ColumnOf(c);
        SIZE a{}, b{};
        const std::wstring sample = W(info.sample), caption = W(info.caption);
        GetTextExtentPoint32W(dc, sample.c_str(), static_cast<int>(sample.size()), &a);
        GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &b);
        int width = std::max(a.cx, b.cx) + S(16);
        const int stored = c < gui::kStoredColumns ? ws.main.ColumnWidths[static_cast<std::size_t>(c)]
                                                   : ws.layout.CountWidths[static_cast<std::size_t>(c - gui::kFirstCountColumn)];
        if ((c < gui::kStoredColumns ? ws.loaded : true) && stored >= gui::kMinColumnWidth) width = S(stored);
        ListView_SetColumnWidth(list_, c, width);
    }
    SelectObject(dc, old);
    ReleaseDC(list_, dc);
}

void MainWindow::StoreSettings() {
    gui::WindowSettings& ws = logic_->settings();
    WINDOWPLACEMENT wp{sizeof wp};
    if (GetWindowPlacement(hwnd_, &wp)) {
        // The restored bounds, in screen coordinates.
        RECT r = wp.rcNormalPosition;
        MONITORINFO mi{sizeof mi};
        if (GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &mi) && !(GetWindowLongW(hwnd_, GWL_EXSTYLE) & WS_EX_TOOLWINDOW))
            OffsetRect(&r, mi.rcWork.left - mi.rcMonitor.left, mi.rcWork.top - mi.rcMonitor.top);
        ws.main.FormLeft = r.left;
        ws.main.FormTop = r.top;
        ws.main.FormWidth = r.right - r.left;
        ws.main.FormHeight = r.bottom - r.top;
        ws.layout.Maximized = wp.showCmd == SW_SHOWMAXIMIZED;
    }
    ws.main.PanelWidth = treeWidth_;
    for (int c = 0; c < gui::kColumnCount; ++c) {
        const int width = Unscaled(ListView_GetColumnWidth(list_, c));
        if (c < gui::kStoredColumns) ws.main.ColumnWidths[static_cast<std::size_t>(c)] = width;
        else ws.layout.CountWidths[static_cast<std::size_t>(c - gui::kFirstCountColumn)] = width;
    }
    ws.main.DialogLeft = dialogLeft_;
    ws.main.DialogTop = dialogTop_;
    ws.layout.PreviewWidth = previewWidth_;
    ws.layout.PreviewShown = previewShown_;
}

void MainWindow::Layout() {
    if (!hwnd_) return;
    RECT rc;
    GetClientRect(hwnd_, &rc);
    const int w = rc.right, h = rc.bottom;
    SendMessageW(status_, WM_SIZE, 0, 0);
    RECT sr;
    GetWindowRect(status_, &sr);
    const int statusH = sr.bottom - sr.top;
    // The progress bar in the right part of the status bar.
    const int parts[2] = {std::max(S(100), w - S(200)), -1};
    SendMessageW(status_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    RECT part;
    SendMessageW(status_, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&part));
    MoveWindow(progress_, part.left + 2, part.top + 2, std::max(0L, part.right - part.left - S(18)),
               std::max(0L, part.bottom - part.top - 4), TRUE);

    const int top = S(kTopLabel);
    MoveWindow(label1_, 0, 0, std::max(0, w - S(kHelpButton + 4)), top, TRUE);
    MoveWindow(help_, std::max(0, w - S(kHelpButton + 2)), S(1), S(kHelpButton), top - S(2), TRUE);
    const int bodyH = std::max(0, h - top - statusH);
    const int treeW = std::clamp(S(treeWidth_), 0, std::max(0, w - S(kSplitter) - S(120)));
    tree_.Move(0, top, treeW, bodyH);
    const int x0 = treeW + S(kSplitter), rightW = std::max(0, w - x0);
    // The controls above the list, in three rows.
    const int row1 = top + S(6), row2 = top + S(32), row3 = top + S(58);
    MoveWindow(label2_, x0 + S(6), row1 + S(4), S(100), S(18), TRUE);
    MoveWindow(fileType_, x0 + S(108), row1, S(230), S(220), TRUE);
    MoveWindow(label3_, x0 + S(346), row1 + S(4), S(110), S(18), TRUE);
    MoveWindow(pickOutput_, x0 + S(6), row2, S(98), S(24), TRUE);
    // The field, then 開く beside it, before the note at the right.
    const int editW = std::max(S(60), rightW - S(108 + 124 + 50));
    MoveWindow(outputEdit_, x0 + S(108), row2 + 1, editW, S(22), TRUE);
    MoveWindow(openOutput_, x0 + S(108) + editW + S(4), row2, S(44), S(24), TRUE);
    MoveWindow(label4_, x0 + std::max(S(108 + 60 + 52), rightW - S(112)), row2 + S(4), S(108), S(18), TRUE);
    MoveWindow(settingsButton_, x0 + S(6), row3, S(104), S(24), TRUE);
    MoveWindow(convertButton_, x0 + S(114), row3, S(84), S(24), TRUE);
    MoveWindow(quitButton_, x0 + S(202), row3, S(84), S(24), TRUE);
    MoveWindow(previewToggle_, x0 + S(300), row3 + S(2), S(120), S(20), TRUE);
    // 更新 at the right end of the row, as far as the window leaves room.
    MoveWindow(refresh_, x0 + std::max(S(424), rightW - S(70)), row3, S(64), S(24), TRUE);

    const int listTop = top + S(kPanel3), listH = std::max(0, h - statusH - listTop);
    int previewW = 0;
    if (previewShown_) {
        previewW = previewWidth_ > 0 ? S(previewWidth_) : rightW * 45 / 100;
        previewW = std::clamp(previewW, std::min(S(120), rightW / 2), std::max(0, rightW - S(120)));
    }
    const int listW = previewShown_ ? std::max(0, rightW - previewW - S(kSplitter)) : rightW;
    MoveWindow(list_, x0, listTop, listW, listH, TRUE);
    for (HWND hc : {preview_->Caption(), preview_->AfterBox(), preview_->FitButton(), preview_->Info(), preview_->Canvas()})
        ShowWindow(hc, previewShown_ ? SW_SHOW : SW_HIDE);
    if (previewShown_) preview_->Move(x0 + listW + S(kSplitter), listTop, previewW, listH, dpi_);
    else preview_->Move(0, 0, 0, 0, dpi_);
}

int MainWindow::SplitterAt(int x, int y) const {
    RECT rc;
    GetClientRect(hwnd_, &rc);
    if (y < S(kTopLabel)) return 0;
    const int treeW = S(treeWidth_);
    if (x >= treeW && x < treeW + S(kSplitter)) return 1;
    if (previewShown_) {
        RECT lr;
        GetWindowRect(list_, &lr);
        MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&lr), 2);
        if (y >= lr.top && x >= lr.right && x < lr.right + S(kSplitter)) return 2;
    }
    return 0;
}

LRESULT CALLBACK MainWindow::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->Handle(msg, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_SIZE: Layout(); return 0;
        case WM_GETMINMAXINFO: {
            auto* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
            mmi->ptMinTrackSize = {S(480), S(320)};
            return 0;
        }
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wParam);
            ApplyFonts();
            const RECT* r = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top, SWP_NOZORDER | SWP_NOACTIVATE);
            Layout();
            return 0;
        }
        case WM_CTLCOLORSTATIC:
            // The reference folder caption on white, as a title line.
            if (reinterpret_cast<HWND>(lParam) == label1_) {
                SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
                return reinterpret_cast<LRESULT>(white_);
            }
            break;
        case WM_COMMAND: OnCommand(wParam, lParam); return 0;
        case WM_NOTIFY: return OnNotify(reinterpret_cast<const NMHDR*>(lParam));
        case WM_TIMER:
            if (wParam == kTreeTimer) OnTimer();
            return 0;
        case kRunTasks: RunTasks(); return 0;
        case WM_DROPFILES: {
            HDROP drop = reinterpret_cast<HDROP>(wParam);
            std::vector<std::u16string> paths;
            const UINT n = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
            for (UINT i = 0; i < n; ++i) {
                const UINT len = DragQueryFileW(drop, i, nullptr, 0);
                std::wstring p(len + 1, L'\0');
                DragQueryFileW(drop, i, p.data(), len + 1);
                p.resize(len);
                paths.push_back(U(p));
            }
            DragFinish(drop);
            if (!logic_->Running()) logic_->Drop(paths);
            return 0;
        }
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT && reinterpret_cast<HWND>(wParam) == hwnd_) {
                POINT p;
                GetCursorPos(&p);
                ScreenToClient(hwnd_, &p);
                if (SplitterAt(p.x, p.y)) {
                    SetCursor(LoadCursorW(nullptr, IDC_SIZEWE));
                    return TRUE;
                }
            }
            break;
        case WM_LBUTTONDOWN: {
            const int x = GET_X_LPARAM(lParam);
            dragging_ = SplitterAt(x, GET_Y_LPARAM(lParam));
            if (dragging_) {
                SetCapture(hwnd_);
                RECT lr;
                GetWindowRect(list_, &lr);
                MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&lr), 2);
                dragOffset_ = x - (dragging_ == 1 ? S(treeWidth_) : static_cast<int>(lr.right));
            }
            return 0;
        }
        case WM_MOUSEMOVE:
            if (dragging_) {
                RECT rc;
                GetClientRect(hwnd_, &rc);
                const int x = GET_X_LPARAM(lParam) - dragOffset_;
                if (dragging_ == 1) {
                    treeWidth_ = Unscaled(std::clamp(x, S(60), std::max(S(60), static_cast<int>(rc.right) - S(200))));
                } else {
                    const int right = rc.right - (x + S(kSplitter));
                    previewWidth_ = Unscaled(std::max(S(120), right));
                }
                Layout();
            }
            return 0;
        case WM_LBUTTONUP:
            if (dragging_) ReleaseCapture();
            dragging_ = 0;
            return 0;
        case WM_CLOSE:
            CommitOutputFolder();
            if (!logic_->CloseRequested()) return 0;
            KillTimer(hwnd_, kTreeTimer);
            StoreSettings();
            logic_->SaveSettings(options_.settings.savePath);
            DestroyWindow(hwnd_);
            return 0;
        case WM_DESTROY:
            KillTimer(hwnd_, kTreeTimer);
            if (options_.quitOnClose) PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY: {
            HWND self = hwnd_;
            SetWindowLongPtrW(self, GWLP_USERDATA, 0);
            {
                std::lock_guard<std::mutex> lock(tasksMutex_);
                hwnd_ = nullptr;
            }
            return DefWindowProcW(self, msg, wParam, lParam);
        }
        default: break;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

void MainWindow::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (preview_->OnCommand(wParam, lParam)) return;
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    switch (id) {
        case kIdFileType:
            if (code == CBN_SELCHANGE) logic_->SetFileType(static_cast<int>(SendMessageW(fileType_, CB_GETCURSEL, 0, 0)));
            break;
        case kIdPickOutput: logic_->PickOutputFolder(); break;
        case kIdOutputEdit:
            if (code == EN_KILLFOCUS) CommitOutputFolder();
            break;
        case kIdOpenOutput:
            CommitOutputFolder();
            logic_->OpenOutputFolder();
            break;
        case kIdSettings: OpenSettings(); break;
        case kIdConvert:
            CommitOutputFolder();
            logic_->ConvertClicked(SelectedRows());
            break;
        case kIdRefresh: RefreshList(); break;
        case kIdHelp: ShowHelpMenu(); break;
        case kIdHelpContents: Message(gui::HelpText(), gui::MessageKind::Plain); break;
        case kIdAbout: Message(gui::AboutText(gui::kVersionText, kToolkitText), gui::MessageKind::Plain); break;
        case kIdQuit: PostMessageW(hwnd_, WM_CLOSE, 0, 0); break;
        case IDOK:
            // Enter, as the dialog keys give it: in the list it opens the
            // file; in the output folder field it takes the folder typed.
            if (GetFocus() == list_) {
                const std::vector<std::size_t> rows = SelectedRows();
                logic_->OpenFile(rows.empty() ? std::nullopt : std::optional<std::size_t>(rows.front()));
            } else if (GetFocus() == outputEdit_) {
                CommitOutputFolder();
            }
            break;
        case kIdPreviewToggle:
            previewShown_ = SendMessageW(previewToggle_, BM_GETCHECK, 0, 0) == BST_CHECKED;
            Layout();
            ShowCurrentInPreview();
            break;
        default: break;
    }
}

void MainWindow::OpenSettings() {
    KillTimer(hwnd_, kTreeTimer);
    const bool ok = ShowSettingsDialog(
        hwnd_, dialogLeft_, dialogTop_, services_.beep,
        [this](HWND dlg, const std::u16string& text) {
            if (services_.message) services_.message(dlg, text, gui::MessageKind::Plain);
        },
        services_.dialogOpened);
    // The preview after conversion follows the new settings.
    if (ok) preview_->Refresh(ConvertOptions);
    SetTimer(hwnd_, kTreeTimer, kTreeInterval, nullptr);
}

LRESULT MainWindow::OnNotify(const NMHDR* hdr) {
    LRESULT result = 0;
    if (tree_.OnNotify(hdr, result)) return result;
    if (hdr->hwndFrom != list_) return 0;
    switch (hdr->code) {
        case LVN_GETDISPINFOW: {
            auto* di = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(hdr));
            const auto row = static_cast<std::size_t>(di->item.iItem);
            if ((di->item.mask & LVIF_TEXT) && row < logic_->RowCount() && di->item.cchTextMax > 0) {
                cellBuffer_ = W(logic_->CellText(row, di->item.iSubItem));
                const std::size_t n = std::min(cellBuffer_.size(), static_cast<std::size_t>(di->item.cchTextMax - 1));
                std::copy_n(cellBuffer_.c_str(), n, di->item.pszText);
                di->item.pszText[n] = L'\0';
            }
            return 0;
        }
        case NM_CUSTOMDRAW: {
            auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(hdr));
            if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
            if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
                const auto row = static_cast<std::size_t>(cd->nmcd.dwItemSpec);
                // A name that is not valid text: shown, but greyed.
                if (row < logic_->RowCount() && logic_->Row(row).nameNotText) cd->clrText = RGB(128, 128, 128);
            }
            return CDRF_DODEFAULT;
        }
        case LVN_COLUMNCLICK:
            logic_->ColumnClicked(reinterpret_cast<const NMLISTVIEW*>(hdr)->iSubItem);
            return 0;
        case LVN_ITEMCHANGED: {
            const auto* lv = reinterpret_cast<const NMLISTVIEW*>(hdr);
            if ((lv->uChanged & LVIF_STATE) && ((lv->uNewState ^ lv->uOldState) & LVIS_FOCUSED)) ShowCurrentInPreview();
            return 0;
        }
        case NM_DBLCLK: {
            const std::vector<std::size_t> rows = SelectedRows();
            logic_->OpenFile(rows.empty() ? std::nullopt : std::optional<std::size_t>(rows.front()));
            return 0;
        }
        case LVN_KEYDOWN: {
            // (F5 is the window's key, see TranslateKeys.)
            const WORD key = reinterpret_cast<const NMLVKEYDOWN*>(hdr)->wVKey;
            if (key == VK_RETURN) {
                const std::vector<std::size_t> rows = SelectedRows();
                logic_->OpenFile(rows.empty() ? std::nullopt : std::optional<std::size_t>(rows.front()));
            } else if (key == 'A' && GetKeyState(VK_CONTROL) < 0) {
                // Ctrl+A selects every file, as the system's own file lists do
                // (the list control itself has no such key).
                ListView_SetItemState(list_, -1, LVIS_SELECTED, LVIS_SELECTED);
            }
            return 0;
        }
        default: return 0;
    }
}

void MainWindow::OnTimer() {
    // The folder tree's selection, as the user made it.
    const std::u16string path = tree_.SelectedPath();
    if (path == lastTreePath_) return;
    lastTreePath_ = path;
    if (!path.empty() && !logic_->Running()) logic_->SelectFolder(path);
}

void MainWindow::RefreshList() {
    const int focus = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
    logic_->Refresh(SelectedRows(), focus >= 0 ? std::optional<std::size_t>(focus) : std::nullopt);
}

void MainWindow::CommitOutputFolder() {
    if (!outputEdit_ || !SendMessageW(outputEdit_, EM_GETMODIFY, 0, 0)) return;
    SendMessageW(outputEdit_, EM_SETMODIFY, FALSE, 0);
    logic_->SetOutputFolder(WindowText(outputEdit_));
    // The field shows the folder as the logic took it.
    if (WindowText(outputEdit_) != logic_->OutputFolder()) SetText(outputEdit_, logic_->OutputFolder());
}

void MainWindow::ShowHelpMenu() {
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, kIdHelpContents, L"使い方(&H)\tF1");
    AppendMenuW(menu, MF_STRING, kIdAbout, L"バージョン情報(&A)");
    RECT r;
    GetWindowRect(help_, &r);
    // Below the button, its right edge at the button's (the window's edge).
    TrackPopupMenu(menu, TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, r.right, r.bottom, 0, hwnd_, nullptr);
    DestroyMenu(menu);
}

void MainWindow::ShowCurrentInPreview() {
    if (!previewShown_) {
        preview_->ShowFile(u"", ConvertOptions);
        previewRow_ = static_cast<std::size_t>(-1);
        return;
    }
    const int focus = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
    const std::u16string path = focus >= 0 ? logic_->PathOf(static_cast<std::size_t>(focus)) : u"";
    preview_->ShowFile(path, ConvertOptions);
}

std::vector<std::size_t> MainWindow::SelectedRows() const {
    std::vector<std::size_t> rows;
    for (int i = ListView_GetNextItem(list_, -1, LVNI_SELECTED); i >= 0; i = ListView_GetNextItem(list_, i, LVNI_SELECTED))
        rows.push_back(static_cast<std::size_t>(i));
    return rows;
}

std::u16string MainWindow::StatusText() const {
    const auto len = LOWORD(SendMessageW(status_, SB_GETTEXTLENGTHW, 0, 0));
    std::wstring s(len + 1u, L'\0');
    SendMessageW(status_, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(s.data()));
    s.resize(len);
    return U(s);
}

void MainWindow::UpdateSortArrow() {
    HWND header = ListView_GetHeader(list_);
    for (int c = 0; c < gui::kColumnCount; ++c) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        Header_GetItem(header, c, &item);
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (logic_->Sorted() && c == logic_->SortColumn()) item.fmt |= logic_->SortDescending() ? HDF_SORTDOWN : HDF_SORTUP;
        Header_SetItem(header, c, &item);
    }
}

void MainWindow::RunTasks() {
    std::deque<std::function<void()>> tasks;
    {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        tasks.swap(tasks_);
    }
    for (auto& task : tasks) {
        if (!hwnd_) return;
        task();
    }
}

int MainWindow::MessageLoop(HWND main) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (TranslateKeys(main, &msg)) continue;
        if (main && IsWindow(main) && IsDialogMessageW(main, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

bool MainWindow::TranslateKeys(HWND main, MSG* msg) {
    if (!main || !IsWindow(main) || (msg->hwnd != main && !IsChild(main, msg->hwnd))) return false;
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(main, GWLP_USERDATA));
    return self && self->keys_ && TranslateAcceleratorW(main, self->keys_, msg) != 0;
}

bool MainWindow::PumpOne(HWND main, bool wait) {
    MSG msg;
    if (wait) {
        if (GetMessageW(&msg, nullptr, 0, 0) <= 0) return false;
    } else if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        return true;
    }
    if (msg.message == WM_QUIT) return false;
    if (TranslateKeys(main, &msg)) return true;
    if (main && IsWindow(main) && IsDialogMessageW(main, &msg)) return true;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

// --- FrontEnd ------------------------------------------------------------------

void MainWindow::Post(std::function<void()> task) {
    bool first;
    HWND target;
    {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        first = tasks_.empty();
        tasks_.push_back(std::move(task));
        target = hwnd_;
    }
    if (first && target) PostMessageW(target, kRunTasks, 0, 0);
}

void MainWindow::Message(const std::u16string& text, gui::MessageKind kind) {
    if (services_.message) services_.message(hwnd_, text, kind);
}

void MainWindow::Beep() {
    if (services_.beep) services_.beep();
}

bool MainWindow::Ask(const std::u16string& text) { return services_.ask && services_.ask(hwnd_, text); }

std::u16string MainWindow::PickFolder(const std::u16string& caption, const std::u16string& startFolder) {
    return services_.pickFolder ? services_.pickFolder(hwnd_, caption, startFolder) : std::u16string();
}

bool MainWindow::OpenPath(const std::u16string& path) { return services_.openPath && services_.openPath(hwnd_, path); }

void MainWindow::ShowResults(const std::u16string& summary, const std::vector<gui::ResultRow>& rows) {
    if (services_.results) services_.results(hwnd_, summary, rows);
}

void MainWindow::StatusChanged(const std::u16string& text) {
    SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(W(text).c_str()));
    UpdateWindow(status_);
}

void MainWindow::ReferenceFolderChanged(const std::u16string& folder) {
    SetText(label1_, logic_->ReferenceCaption());
    // Shown selected in the tree; the timer then finds nothing new to report.
    if (!folder.empty() && tree_.SelectedPath() != folder) tree_.SelectPath(folder);
    lastTreePath_ = tree_.SelectedPath();
}

void MainWindow::OutputFolderChanged(const std::u16string& folder) { SetText(outputEdit_, folder); }

void MainWindow::ListReset() {
    ListView_SetItemCountEx(list_, 0, 0);
    UpdateSortArrow();
    ShowCurrentInPreview();
}

void MainWindow::RowsAdded(std::size_t, std::size_t) {
    ListView_SetItemCountEx(list_, static_cast<int>(logic_->RowCount()), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
}

void MainWindow::RowsChanged(std::size_t first, std::size_t count) {
    ListView_RedrawItems(list_, static_cast<int>(first), static_cast<int>(first + count - 1));
}

void MainWindow::RowsReordered(const std::vector<std::size_t>& oldOfNew) {
    // The selection and the current row follow their files.
    std::vector<bool> wasSelected(oldOfNew.size(), false);
    for (std::size_t r : SelectedRows())
        if (r < wasSelected.size()) wasSelected[r] = true;
    const int focus = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (std::size_t i = 0; i < oldOfNew.size(); ++i) {
        UINT state = 0;
        if (wasSelected[oldOfNew[i]]) state |= LVIS_SELECTED;
        if (focus >= 0 && oldOfNew[i] == static_cast<std::size_t>(focus)) state |= LVIS_FOCUSED;
        if (state) ListView_SetItemState(list_, static_cast<int>(i), state, state);
    }
    UpdateSortArrow();
    InvalidateRect(list_, nullptr, FALSE);
}

void MainWindow::ListingFinished() {
    ++listingsFinished;
    ListView_SetItemCountEx(list_, static_cast<int>(logic_->RowCount()), LVSICF_NOSCROLL);
    UpdateSortArrow();
}

void MainWindow::CountsFinished() { ++countsFinished; }

void MainWindow::SelectRows(const std::vector<std::size_t>& rows, std::size_t current) {
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (std::size_t r : rows) ListView_SetItemState(list_, static_cast<int>(r), LVIS_SELECTED, LVIS_SELECTED);
    if (current < logic_->RowCount()) {
        ListView_SetItemState(list_, static_cast<int>(current), LVIS_FOCUSED, LVIS_FOCUSED);
        ListView_EnsureVisible(list_, static_cast<int>(current), FALSE);
    }
}

void MainWindow::RunStateChanged(bool running) {
    SetWindowTextW(convertButton_, running ? kStopText : kConvertText);
    for (HWND h : {pickOutput_, outputEdit_, settingsButton_, fileType_, refresh_}) EnableWindow(h, !running);
    tree_.Enable(!running);
    ShowWindow(progress_, running ? SW_SHOW : SW_HIDE);
    SendMessageW(progress_, PBM_SETPOS, 0, 0);
}

void MainWindow::ProgressChanged(std::size_t done, std::size_t total, const std::u16string&) {
    SendMessageW(progress_, PBM_SETRANGE32, 0, static_cast<LPARAM>(std::max<std::size_t>(total, 1)));
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(done), 0);
}

void MainWindow::RunFinished() { ++runsFinished; }

void MainWindow::FocusOutputFolder() { SetFocus(pickOutput_); }

void MainWindow::CloseWindow() {
    if (hwnd_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

}  // namespace tervalo::win
