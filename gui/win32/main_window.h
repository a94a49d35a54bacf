// The main window of tervalo.exe: a Win32 front end over the shared window
// logic (gui::MainLogic). It draws what the logic's notices say and forwards
// what the user does; the decisions are the logic's.
//
// Layout: the reference folder caption on top, the help button ？ at its
// right end; the folder tree on the left; on the right the file type, the
// output folder (typed, pasted or picked, and opened with 開く), the buttons
// 変換設定(S), 変換 (T), 終了 (X), the preview toggle and 更新 (F5), then
// the file list (a virtual report list view) with the preview beside it; the
// status bar with a progress bar at the bottom. Both splits can be dragged.
// F1 shows the help, F5 lists the folder again.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "folder_tree.h"
#include "front_end.h"
#include "main_logic.h"
#include "preview_pane.h"

namespace tervalo::win {

// Control identifiers (the UI test finds the controls by them).
enum ControlId : int {
    kIdLabel1 = 1001,
    kIdTree,
    kIdFileType,
    kIdPickOutput,
    kIdOutputEdit,
    kIdSettings,
    kIdConvert,
    kIdQuit,
    kIdList,
    kIdStatus,
    kIdProgress,
    kIdPreviewToggle,
    kIdRefresh,
    kIdOpenOutput,
    kIdHelp,          // the ？ button: a menu of the two below
    kIdHelpContents,  // 使い方 (F1)
    kIdAbout,         // バージョン情報
};

// The desktop services the window uses. The real ones show modal windows;
// the UI test puts its own in, which answer at once and keep what was shown.
struct Services {
    std::function<void(HWND owner, const std::u16string& text, gui::MessageKind kind)> message;
    std::function<void()> beep;
    std::function<bool(HWND owner, const std::u16string& text)> ask;
    std::function<std::u16string(HWND owner, const std::u16string& caption, const std::u16string& start)> pickFolder;
    std::function<bool(HWND owner, const std::u16string& path)> openPath;
    std::function<void(HWND owner, const std::u16string& summary, const std::vector<gui::ResultRow>& rows)> results;
    // Called with each modal dialog of the program (the settings dialog) as
    // it opens, before the user can use it.
    std::function<void(HWND dialog)> dialogOpened;

    static Services Desktop();
};

// Where the settings file is read and written.
struct SettingsLocation {
    std::u16string loadPath;
    std::u16string savePath;
};
// The settings file beside the executable (its path with ".dat") when that
// folder can be written, else the same name in %APPDATA%\Tervalo; reading
// prefers the file that is written, or the other one while that does not
// exist yet.
SettingsLocation SettingsLocationOf(const std::u16string& exePath);

class MainWindow : public gui::FrontEnd {
public:
    struct Options {
        SettingsLocation settings;
        bool plainTree = false;  // the plain tree view instead of the shell's control
        bool quitOnClose = true;  // the message loop ends when the window is gone
    };
    MainWindow(Options options, Services services);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window from the settings and lists the reference folder;
    // shown with `show` (SW_SHOW...).
    bool Create(int show);
    HWND Handle() const { return hwnd_; }
    bool Alive() const { return hwnd_ != nullptr; }
    gui::MainLogic& Logic() { return *logic_; }
    FolderTree& Tree() { return tree_; }
    PreviewPane& Preview() { return *preview_; }
    HWND Control(int id) const { return GetDlgItem(hwnd_, id); }
    HWND List() const { return list_; }

    // Counters of what has happened, for the UI test.
    int listingsFinished = 0, countsFinished = 0, runsFinished = 0;

    // Runs messages until the window has closed (quitOnClose) and returns
    // the exit code; dialog keys (Tab, mnemonics) work in the main window.
    static int MessageLoop(HWND main);
    // Handles one message of a loop; false when it was WM_QUIT.
    static bool PumpOne(HWND main, bool wait);
    // The window's keys (F1, F5) in a message for it or one of its
    // controls: true when the message became the key's command.
    static bool TranslateKeys(HWND main, MSG* msg);

    // --- FrontEnd ------------------------------------------------------------
    void Post(std::function<void()> task) override;
    void Message(const std::u16string& text, gui::MessageKind kind) override;
    void Beep() override;
    bool Ask(const std::u16string& text) override;
    std::u16string PickFolder(const std::u16string& caption, const std::u16string& startFolder) override;
    bool OpenPath(const std::u16string& path) override;
    void ShowResults(const std::u16string& summary, const std::vector<gui::ResultRow>& rows) override;
    void StatusChanged(const std::u16string& text) override;
    void ReferenceFolderChanged(const std::u16string& folder) override;
    void OutputFolderChanged(const std::u16string& folder) override;
    void ListReset() override;
    void RowsAdded(std::size_t first, std::size_t count) override;
    void RowsChanged(std::size_t first, std::size_t count) override;
    void RowsReordered(const std::vector<std::size_t>& oldOfNew) override;
    void ListingFinished() override;
    void CountsFinished() override;
    void SelectRows(const std::vector<std::size_t>& rows, std::size_t current) override;
    void RunStateChanged(bool running) override;
    void ProgressChanged(std::size_t done, std::size_t total, const std::u16string& current) override;
    void RunFinished() override;
    void FocusOutputFolder() override;
    void CloseWindow() override;

    // The rows selected in the list, in display order.
    std::vector<std::size_t> SelectedRows() const;
    std::u16string StatusText() const;
    // Opens the settings dialog (the 変換設定 button).
    void OpenSettings();

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void ApplyFonts();
    void Layout();
    void ApplySettings();
    void StoreSettings();
    void OnCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnNotify(const NMHDR* hdr);
    void OnTimer();
    void RefreshList();
    // The output folder as typed or pasted, once the field is left or Enter
    // is pressed (and before anything uses the folder).
    void CommitOutputFolder();
    void ShowHelpMenu();
    void ShowCurrentInPreview();
    void UpdateSortArrow();
    int S(int v) const { return MulDiv(v, dpi_, 96); }
    int Unscaled(int v) const { return MulDiv(v, 96, dpi_); }
    int SplitterAt(int x, int y) const;  // 1 tree, 2 preview, 0 none
    void RunTasks();

    Options options_;
    Services services_;
    std::mutex tasksMutex_;
    std::deque<std::function<void()>> tasks_;
    HWND hwnd_ = nullptr;
    HWND label1_ = nullptr, label2_ = nullptr, label3_ = nullptr, label4_ = nullptr;
    HWND fileType_ = nullptr, pickOutput_ = nullptr, outputEdit_ = nullptr, openOutput_ = nullptr;
    HWND settingsButton_ = nullptr, convertButton_ = nullptr, quitButton_ = nullptr, previewToggle_ = nullptr;
    HWND refresh_ = nullptr, help_ = nullptr, tips_ = nullptr;
    HACCEL keys_ = nullptr;
    HWND list_ = nullptr, status_ = nullptr, progress_ = nullptr;
    HFONT font_ = nullptr;
    HBRUSH white_ = nullptr;
    int dpi_ = 96;
    int treeWidth_ = 200;      // 96-dpi pixels
    int previewWidth_ = 0;     // 96-dpi pixels; 0 = the default share
    bool previewShown_ = false;
    int dragging_ = 0;         // the splitter being dragged
    int dragOffset_ = 0;
    int dialogLeft_ = 64, dialogTop_ = 64;
    std::u16string lastTreePath_;
    std::wstring cellBuffer_;
    FolderTree tree_;
    std::unique_ptr<gui::MainLogic> logic_;
    std::unique_ptr<PreviewPane> preview_;
    std::size_t previewRow_ = static_cast<std::size_t>(-1);
};

}  // namespace tervalo::win
