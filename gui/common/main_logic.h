// The main window's logic, without a toolkit: the file list of the
// reference folder (listed and its headers read off the window's thread,
// delivered in batches, then the point counts), sorting, opening a file,
// the output folder, the conversion run on a worker thread with its
// progress, stop, results and messages, dropped files and folders, and the
// settings kept between runs.
//
// A front end owns one MainLogic, forwards the user's actions to it (the
// methods below) and draws what the FrontEnd notices say. Every method is
// called on the window's thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "convert/batch.h"
#include "file_rows.h"
#include "front_end.h"
#include "window_settings.h"

namespace tervalo::gui {

// The texts of the window.
inline constexpr char16_t kWindowTitle[] = u"Tervalo Ver.1.10";
inline constexpr char16_t kReferenceCaption[] = u"参照フォルダ：";
inline constexpr char16_t kSearchingText[] = u"ファイル検索中です";
inline constexpr char16_t kPickOutputCaption[] = u"変換後のファイルを保存するフォルダを指定して下さい";
inline constexpr char16_t kNoReferenceText[] = u"参照フォルダを指定して下さい。";
inline constexpr char16_t kReferenceMissingText[] = u"参照フォルダが存在しません。";
inline constexpr char16_t kNoFileText[] = u"ファイルを指示して下さい。";
inline constexpr char16_t kOutputNotWritableText[] =
    u"保存先フォルダにファイルを作成できません。書き込みのできるフォルダを指定して下さい。";
inline constexpr char16_t kCloseDuringRunText[] = u"変換中です。中止して終了しますか？";
inline constexpr char16_t kStoppingSuffix[] = u"（中止しています）";

// "ファイル検索しました（ファイル数：N）"
std::u16string FoundText(std::size_t count);
// The status after a run: how many files were written anew, how many were
// already up to date (left as they were, with their backups) and how many
// were not converted; a stopped run says so first.
std::u16string RunStatusText(std::int32_t written, std::int32_t upToDate, std::int32_t notConverted, bool stopped);
// The status while a run goes on: "k / n　" and the file being converted.
std::u16string ProgressText(std::size_t index, std::size_t total, const std::u16string& name);
// The results list of a run: the files not converted, each with its reason
// in Japanese.
std::vector<ResultRow> ResultRows(const BatchSummary& summary);
// One message for every file refused for its extension (empty when none).
std::u16string UnsupportedText(const std::vector<std::pair<std::u16string, std::u16string>>& nameAndExt);

// True when a new file can be created in `folder` (one is made and removed).
bool FolderWritable(const std::filesystem::path& folder);

// The program's version as the window and the about box show it.
inline constexpr char16_t kVersionText[] = u"Ver.1.10";

// The help (the usage in short) and the about text; `toolkit` names the
// window library and its licence (a line each for what the front end links
// in beside the shared libraries).
std::u16string HelpText();
std::u16string AboutText(const std::u16string& version, const std::u16string& toolkit);

class MainLogic {
public:
    explicit MainLogic(FrontEnd& frontEnd);
    ~MainLogic();  // stops and waits for the listing and a run
    MainLogic(const MainLogic&) = delete;
    MainLogic& operator=(const MainLogic&) = delete;

    // --- Settings ----------------------------------------------------------

    // Loads both settings files (defaults when missing) and takes the
    // folders, the file type and the options from them; the front end then
    // places its windows from settings() (through FitOntoScreens) and calls
    // Start.
    void LoadSettings(const std::u16string& settingsPath);
    // Lists the reference folder of the settings (the status reads
    // kSearchingText while there is none).
    void Start();
    // The settings as loaded; the front end writes its geometry into it
    // (bounds, widths) before SaveSettings, which adds the folders, the file
    // type and the options. False when a file could not be written.
    WindowSettings& settings() { return settings_; }
    bool SaveSettings(const std::u16string& settingsPath);

    // --- The list ------------------------------------------------------------

    const std::u16string& ReferenceFolder() const { return referenceFolder_; }
    std::u16string ReferenceCaption() const { return kReferenceCaption + referenceFolder_; }
    // The folder tree's selection: lists the folder when it differs from the
    // reference folder (an empty path is ignored).
    void SelectFolder(const std::u16string& folder);
    int FileTypeIndex() const { return fileType_; }
    void SetFileType(int index);  // relists
    // Lists the reference folder again (F5, the refresh button, the folder
    // changed); `selected` rows and the `current` one are selected again by
    // name once it is listed, and a sorted list is sorted the same way again.
    void Refresh(const std::vector<std::size_t>& selected = {}, std::optional<std::size_t> current = {});

    std::size_t RowCount() const { return rows_.size(); }
    const FileRow& Row(std::size_t row) const { return rows_[row]; }
    std::u16string CellText(std::size_t row, int column) const { return gui::CellText(rows_[row], column); }
    // The row of a file name, if listed.
    std::optional<std::size_t> RowOfName(const std::u16string& name) const;
    // The full path of a row's file (empty for a name that is not text).
    std::u16string PathOf(std::size_t row) const;
    bool Listing() const { return listing_ != nullptr && !listingDone_; }
    bool CountsPending() const { return listing_ != nullptr && !countsDone_; }

    // A click on a column header: sorts by it, the one direction flag flipped.
    void ColumnClicked(int column);
    int SortColumn() const { return sort1_; }     // -1 before the first click
    bool SortDescending() const { return sort2_ == 1; }
    // Whether the list is in the order of SortColumn (a new listing is in
    // scan order until the next click): the front end shows the arrow then.
    bool Sorted() const { return sorted_; }

    // A double click or Enter: opens the first selected file with its
    // program (`firstSelected` empty when nothing is selected).
    void OpenFile(std::optional<std::size_t> firstSelected);

    // Files and folders dropped onto the window: a folder becomes the
    // reference folder; files are selected in the list, their folder listed
    // first when it is another one. Paths of the first folder only count.
    void Drop(const std::vector<std::u16string>& paths);

    // --- Output folder and run ------------------------------------------------

    const std::u16string& OutputFolder() const { return outputFolder_; }
    // A folder typed or pasted into the output folder field (the spaces
    // around it dropped).
    void SetOutputFolder(const std::u16string& folder);
    // The output-folder button: the folder picker.
    void PickOutputFolder();
    // Opens the output folder in the file manager.
    void OpenOutputFolder();

    // The convert button: starts a run over the selected rows (in display
    // order), or, while one runs, asks it to stop after the current file.
    void ConvertClicked(const std::vector<std::size_t>& selectedRows);
    bool Running() const { return run_ != nullptr; }
    void StopRun();
    const std::u16string& StatusText() const { return status_; }
    // The summary of the last run that ended.
    const BatchSummary& LastRun() const { return lastRun_; }

    // The window is asked to close: true when it may close now. During a
    // run the user is asked; on yes the run stops and CloseWindow follows
    // once it has ended.
    bool CloseRequested();

private:
    struct ListJob;
    struct Run;
    void SetStatus(const std::u16string& text);
    void ListFolder(const std::u16string& folder, bool keepSort);
    void StopListing();
    void TakeRows(unsigned generation, std::vector<FileRow> rows, bool last, std::size_t total);
    void TakeCounts(unsigned generation, std::vector<std::pair<std::size_t, PointCounts>> counts, bool last);
    void SelectPending();
    void StartRun(BatchJob job);
    void FinishRun();

    FrontEnd& fe_;
    std::shared_ptr<bool> alive_;
    WindowSettings settings_;
    std::u16string referenceFolder_;
    std::u16string outputFolder_;
    int fileType_ = 0;
    std::u16string status_;
    std::vector<FileRow> rows_;
    std::vector<std::size_t> rowOfId_;  // by FileRow::id
    std::u16string listedFolder_;
    std::unique_ptr<ListJob> listing_;
    unsigned listingGeneration_ = 0;
    bool listingDone_ = true;
    bool countsDone_ = true;
    int sort1_ = -1;
    int sort2_ = 0;
    bool sorted_ = false;
    bool resortAfterListing_ = false;
    std::vector<std::u16string> pendingSelection_;  // names to select once listed
    std::u16string pendingCurrent_;
    std::unique_ptr<Run> run_;
    BatchSummary lastRun_;
    bool closeAfterRun_ = false;
};

}  // namespace tervalo::gui
