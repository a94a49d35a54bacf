#include "main_logic.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <utility>

#include "convert/file_convert.h"
#include "convert/file_info.h"
#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "text/converter.h"
#include "text/encoding.h"
#include "text/func.h"

namespace tervalo::gui {

namespace {

using Clock = std::chrono::steady_clock;

// A listing delivers its rows in batches of this many, or what it has after
// this long, whichever comes first: the window draws a few times a second
// and never waits for the whole folder.
constexpr std::size_t kBatchRows = 256;
constexpr auto kBatchTime = std::chrono::milliseconds(100);

// ScanFolder fills one list shared by the whole program.
std::mutex& ScanMutex() {
    static std::mutex mutex;
    return mutex;
}

bool IsSeparator(char16_t c) { return c == u'/' || c == DirectorySeparator(); }

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
    if (!folder.empty() && IsSeparator(folder.back())) return folder + name;
    return folder + DirectorySeparator() + name;
}

// The folder part of a path (without its trailing separator, except for a
// root) and the name.
std::pair<std::u16string, std::u16string> SplitPath(const std::u16string& path) {
    std::size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
    if (cut == 0) return {{}, path};
    std::u16string folder = path.substr(0, cut);
    if (folder.size() > 1 && !(folder.size() == 3 && folder[1] == u':')) folder.pop_back();
    return {folder, path.substr(cut)};
}

// The checks made on the window's thread before a run: messages in boxes.
class CheckReporter : public BatchReporter {
public:
    explicit CheckReporter(FrontEnd& fe) : fe_(fe) {}
    void Message(const std::u16string& text) override { fe_.Message(text, MessageKind::Plain); }
    void Status(const std::u16string&) override {}
    void FileResult(const BatchFileResult&) override {}

private:
    FrontEnd& fe_;
};

}  // namespace

std::u16string CopyText(const std::u16string& summary, const std::vector<ResultRow>& rows) {
    std::u16string text = summary + u"\r\n";
    for (const ResultRow& r : rows) text += r.name + u"\t" + r.reason + u"\r\n";
    return text;
}

std::u16string FoundText(std::size_t count) {
    return u"ファイル検索しました（ファイル数：" + IntToText(static_cast<std::int32_t>(count)) + u"）";
}

std::u16string RunStatusText(std::int32_t written, std::int32_t upToDate, std::int32_t notConverted, bool stopped) {
    std::u16string text = stopped ? u"変換を中止しました。" : u"";
    if (written == 0 && upToDate == 0 && notConverted == 0) return text + u"0個のファイルを変換しました。";
    if (written > 0 || upToDate == 0) text += IntToText(written) + u"個のファイルを変換しました。";
    if (upToDate > 0) text += IntToText(upToDate) + u"個のファイルは変換済みのため、そのままです。";
    if (notConverted > 0) text += IntToText(notConverted) + u"個のファイルは変換できませんでした。";
    return text;
}

std::u16string ProgressText(std::size_t index, std::size_t total, const std::u16string& name) {
    return IntToText(static_cast<std::int32_t>(index + 1)) + u" / " + IntToText(static_cast<std::int32_t>(total)) +
           u"　" + name;
}

std::vector<ResultRow> ResultRows(const BatchSummary& summary) {
    std::vector<ResultRow> rows;
    for (const BatchFileResult& r : summary.files)
        if (r.outcome == FileOutcome::NotConverted) rows.push_back({r.name, JapaneseReasonText(r.reason)});
    return rows;
}

std::u16string UnsupportedText(const std::vector<std::pair<std::u16string, std::u16string>>& files) {
    if (files.empty()) return {};
    if (files.size() == 1) return UnsupportedExtensionMessage(files.front().first, files.front().second);
    std::u16string text = u"このファイル拡張子（種類）の変換には対応していません。";
    for (const auto& [name, ext] : files) text += u"\r\nファイル名：" + name + u"　拡張子：" + ext;
    return text;
}

bool FolderWritable(const std::filesystem::path& folder) {
    if (folder.empty() || !FolderFound(folder)) return false;
    // Trying is the one answer every system gives alike (Windows' access
    // lists are not reflected in permission bits, a read-only mount not in
    // either). The probe is written as every file is: new name, then rename.
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path probe =
        folder / PathOfText(u".tervalo-probe-" + IntToText(static_cast<std::int32_t>(++counter)));
    if (FileFound(probe)) DeleteFileQuiet(probe);
    const std::uint8_t byte = 0;
    const bool written = WriteWholeFile(probe, ByteSpan(&byte, 1));
    if (written) DeleteFileQuiet(probe);
    return written;
}

std::u16string HelpText() {
    return u"使い方\n\n"
           u"1. 左のフォルダツリーで、変換する図面のあるフォルダ（参照フォルダ）を選びます。"
           u"フォルダやファイルをウィンドウにドロップしても選べます。\n"
           u"2. 一覧で変換するファイルを選びます（Ctrl・Shift で複数）。Enter かダブルクリックでファイルを開きます。\n"
           u"3. 「保存先フォルダ」で変換後のファイルを書き込むフォルダを選ぶか、欄に入力します。\n"
           u"4. 「変換設定」で向き（仮点→実点、実点→仮点）と点マーカーなどを決めます。\n"
           u"5. 「変換」を押します。変換中は「中止」で今のファイルの後に止まります。\n\n"
           u"保存先に同じ名前のファイルがあれば、拡張子 .BAK のバックアップを作ってから書き込みます。"
           u"変換できなかったファイルは理由と共に一覧で示します。\n"
           u"F5 で一覧を読み直します。一覧の見出しをクリックするとその列で並べ替えます。";
}

std::u16string AboutText(const std::u16string& version, const std::u16string& toolkit) {
    // The text conversions' library is named only where one is linked in
    // (the system's own functions serve on Windows).
    const std::u16string text = textconv::LibraryNotice();
    return u"Tervalo " + version +
           u"\nJw_cad の図面（.jww）・図形（.jws）の仮点と実点を変換します。\n\n"
           u"使っているライブラリ：\n" +
           toolkit + u"\n" + (text.empty() ? u"" : text + u"\n") +
           u"zlib（zlib License）\n"
           u"C++ 標準ライブラリ（GCC Runtime Library Exception 付き GPL v3）";
}

// --- Listing -----------------------------------------------------------------

namespace {

// Reads the rows of the scanned files, headers included, and hands them
// over in batches (the last one marked, also when there are no files).
// Returns the drawings and figures to count the points of: row id, path.
std::vector<std::pair<std::size_t, std::filesystem::path>> ReadRows(
    const std::u16string& folder, const std::vector<TFileField>& files, const std::atomic<bool>& stop,
    const std::function<void(std::vector<FileRow>, bool last)>& deliver) {
    FileInfoReader reader;
    std::vector<FileRow> batch;
    std::vector<std::pair<std::size_t, std::filesystem::path>> countable;
    const std::filesystem::path dir = PathOfText(folder);
    auto sent = Clock::now();
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (stop) return {};
        const TFileField& f = files[i];
        FileRow row;
        row.id = i;
        row.name = f.name;
        row.kind = ExtLower(f.name);
        row.time = f.date + u" " + f.time;
        row.size = f.fullSize;
        row.nameNotText = f.nameNotText;
        if (f.nameNotText) {
            // Not to be opened by this name: no header, not converted.
            row.memo = kNameNotTextMemo;
        } else {
            const std::filesystem::path path = dir / PathOfText(f.name);
            FileInfoCells cells = reader.Read(path);
            row.version = std::move(cells.version);
            row.memo = std::move(cells.memo);
            if (row.Countable()) countable.emplace_back(i, path);
        }
        batch.push_back(std::move(row));
        const bool last = i + 1 == files.size();
        if (!last && batch.size() < kBatchRows && Clock::now() - sent < kBatchTime) continue;
        deliver(std::move(batch), last);
        batch = {};
        sent = Clock::now();
    }
    if (files.empty()) deliver({}, true);
    return countable;
}

// Counts the points of each drawing and figure (its own, its dimensions'
// and its block definitions'), handed over in batches.
void CountPoints(const std::vector<std::pair<std::size_t, std::filesystem::path>>& countable, const std::atomic<bool>& stop,
                 const std::function<void(std::vector<std::pair<std::size_t, PointCounts>>, bool last)>& deliver) {
    TJwwData jww;
    TJwsData jws;
    jww.BindImageExp = false;  // the counts need no images
    jww.BindImageExr = false;
    std::vector<std::pair<std::size_t, PointCounts>> counts;
    auto sent = Clock::now();
    for (std::size_t k = 0; k < countable.size(); ++k) {
        if (stop) return;
        const auto& [id, path] = countable[k];
        try {
            // Counted as they are read: the records themselves are not kept.
            DrawingInfo info;
            if (jww.FileCheck(path)) {
                if (ReadDrawingInfo(jww, path, info)) counts.emplace_back(id, info.AllPoints());
                JwwDataFree(jww);
            } else if (jws.FileCheck(path)) {
                if (ReadDrawingInfo(jws, path, info)) counts.emplace_back(id, info.AllPoints());
                jws.DataFree();
            }
        } catch (...) {  // not enough memory for this one: its cells stay empty
        }
        const bool last = k + 1 == countable.size();
        if (!last && counts.size() < 64 && Clock::now() - sent < kBatchTime) continue;
        deliver(std::move(counts), last);
        counts = {};
        sent = Clock::now();
    }
    if (countable.empty()) deliver({}, true);
}

}  // namespace

struct MainLogic::ListJob {
    std::atomic<bool> stop{false};
    std::thread thread;
};

struct MainLogic::Run {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::size_t total = 0;
    std::mutex mutex;  // guards what follows
    BatchSummary summary;
    std::vector<std::pair<std::u16string, std::u16string>> unsupported;  // name, extension
    std::vector<std::u16string> messages;
};

MainLogic::MainLogic(FrontEnd& frontEnd) : fe_(frontEnd), alive_(std::make_shared<bool>(true)) {}

MainLogic::~MainLogic() {
    StopListing();
    if (run_) {
        run_->stop = true;
        if (run_->thread.joinable()) run_->thread.join();
        run_.reset();
    }
}

void MainLogic::SetStatus(const std::u16string& text) {
    status_ = text;
    fe_.StatusChanged(status_);
}

void MainLogic::StopListing() {
    ++listingGeneration_;  // what is still on its way is dropped
    if (!listing_) return;
    listing_->stop = true;
    if (listing_->thread.joinable()) listing_->thread.join();
    listing_.reset();
    listingDone_ = countsDone_ = true;
}

void MainLogic::ListFolder(const std::u16string& folder, bool keepSort) {
    StopListing();
    resortAfterListing_ = keepSort && sorted_;
    sorted_ = false;
    rows_.clear();
    rowOfId_.clear();
    listedFolder_ = folder;
    fe_.ListReset();
    SetStatus(kSearchingText);
    if (!FolderFound(PathOfText(folder))) {
        // Before a folder is chosen (first start), or the folder has gone.
        SetStatus(folder.empty() ? u"参照フォルダを選んで下さい。" : kReferenceMissingText);
        pendingSelection_.clear();
        return;
    }
    listing_ = std::make_unique<ListJob>();
    listingDone_ = countsDone_ = false;
    const unsigned generation = listingGeneration_;
    std::weak_ptr<bool> alive = alive_;
    const std::u16string mask = MaskOfFileType(fileType_);
    ListJob* listing = listing_.get();
    FrontEnd* fe = &fe_;
    listing->thread = std::thread([this, fe, alive, generation, folder, mask, listing] {
        // Posts run on the window's thread; the window waits for this thread
        // before it lists anew or goes, and drops what an older listing posts.
        auto post = [fe, alive](std::function<void()> task) {
            fe->Post([alive, task = std::move(task)] {
                if (const auto a = alive.lock()) task();
            });
        };
        std::vector<TFileField> files;
        {
            std::lock_guard<std::mutex> lock(ScanMutex());
            ScanFolder(PathOfText(folder), mask);
            files = std::move(FileList);
            ClearFileList();
        }
        SortScanOrder(files);
        const std::size_t total = files.size();
        const auto countable = ReadRows(folder, files, listing->stop, [&](std::vector<FileRow> rows, bool last) {
            auto shared = std::make_shared<std::vector<FileRow>>(std::move(rows));
            post([this, generation, shared, last, total] { TakeRows(generation, std::move(*shared), last, total); });
        });
        if (listing->stop) return;
        CountPoints(countable, listing->stop, [&](std::vector<std::pair<std::size_t, PointCounts>> counts, bool last) {
            auto shared = std::make_shared<std::vector<std::pair<std::size_t, PointCounts>>>(std::move(counts));
            post([this, generation, shared, last] { TakeCounts(generation, std::move(*shared), last); });
        });
    });
}

void MainLogic::TakeRows(unsigned generation, std::vector<FileRow> rows, bool last, std::size_t total) {
    if (generation != listingGeneration_) return;
    const std::size_t first = rows_.size();
    for (FileRow& r : rows) {
        if (rowOfId_.size() <= r.id) rowOfId_.resize(r.id + 1);
        rowOfId_[r.id] = rows_.size();
        rows_.push_back(std::move(r));
    }
    if (!rows.empty()) fe_.RowsAdded(first, rows_.size() - first);
    if (!last) return;
    listingDone_ = true;
    if (resortAfterListing_ && sort1_ >= 0) {
        resortAfterListing_ = false;
        const std::vector<std::size_t> order = SortRows(rows_, sort1_, sort2_ == 1);
        for (std::size_t i = 0; i < rows_.size(); ++i) rowOfId_[rows_[i].id] = i;
        sorted_ = true;
        fe_.RowsReordered(order);
    }
    SetStatus(FoundText(total));
    fe_.ListingFinished();
    SelectPending();
}

void MainLogic::TakeCounts(unsigned generation, std::vector<std::pair<std::size_t, PointCounts>> counts, bool last) {
    if (generation != listingGeneration_) return;
    std::size_t low = rows_.size(), high = 0;
    for (const auto& [id, c] : counts) {
        if (id >= rowOfId_.size()) continue;
        const std::size_t row = rowOfId_[id];
        rows_[row].counts = c;
        rows_[row].countsKnown = true;
        low = std::min(low, row);
        high = std::max(high, row);
    }
    if (low <= high && low < rows_.size()) fe_.RowsChanged(low, high - low + 1);
    if (last) {
        countsDone_ = true;
        // The thread has nothing left to do.
        if (listing_ && listing_->thread.joinable()) listing_->thread.join();
        fe_.CountsFinished();
    }
}

void MainLogic::SelectPending() {
    if (pendingSelection_.empty() && pendingCurrent_.empty()) return;
    std::vector<std::size_t> rows;
    for (const std::u16string& name : pendingSelection_)
        if (const auto r = RowOfName(name)) rows.push_back(*r);
    std::sort(rows.begin(), rows.end());
    std::size_t current = rows.empty() ? 0 : rows.front();
    if (const auto r = RowOfName(pendingCurrent_)) current = *r;
    pendingSelection_.clear();
    pendingCurrent_.clear();
    if (!rows.empty() || current < rows_.size()) fe_.SelectRows(rows, current);
}

// --- Settings ------------------------------------------------------------------

void MainLogic::LoadSettings(const std::u16string& settingsPath) {
    settings_ = LoadWindowSettings(settingsPath);
    referenceFolder_ = settings_.main.ReferenceFolder;
    outputFolder_ = settings_.main.OutputFolder;
    fileType_ = settings_.main.FileTypeIndex;
    ConvertOptions = settings_.main.Options;
}

void MainLogic::Start() {
    sort1_ = -1;
    sort2_ = 0;
    fe_.ReferenceFolderChanged(referenceFolder_);
    fe_.OutputFolderChanged(outputFolder_);
    ListFolder(referenceFolder_, false);
}

bool MainLogic::SaveSettings(const std::u16string& settingsPath) {
    settings_.main.ReferenceFolder = referenceFolder_;
    settings_.main.OutputFolder = outputFolder_;
    settings_.main.FileTypeIndex = fileType_;
    settings_.main.Options = ConvertOptions;
    return SaveWindowSettings(settingsPath, settings_);
}

// --- The list --------------------------------------------------------------------

void MainLogic::SelectFolder(const std::u16string& folder) {
    if (folder.empty() || folder == referenceFolder_) return;
    referenceFolder_ = folder;
    fe_.ReferenceFolderChanged(referenceFolder_);
    ListFolder(folder, false);
}

void MainLogic::SetFileType(int index) {
    fileType_ = index;
    ListFolder(referenceFolder_, false);
}

void MainLogic::Refresh(const std::vector<std::size_t>& selected, std::optional<std::size_t> current) {
    if (Running()) return;  // the list is the run's input
    pendingSelection_.clear();
    for (std::size_t r : selected)
        if (r < rows_.size()) pendingSelection_.push_back(rows_[r].name);
    pendingCurrent_ = current && *current < rows_.size() ? rows_[*current].name : u"";
    ListFolder(referenceFolder_, true);
}

std::optional<std::size_t> MainLogic::RowOfName(const std::u16string& name) const {
    if (name.empty()) return std::nullopt;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].name == name) return i;
    return std::nullopt;
}

std::u16string MainLogic::PathOf(std::size_t row) const {
    if (row >= rows_.size() || rows_[row].nameNotText) return {};
    return JoinPath(listedFolder_, rows_[row].name);
}

void MainLogic::ColumnClicked(int column) {
    if (column < 0 || column >= kColumnCount) return;
    sort1_ = column;
    sort2_ = 1 - sort2_;
    const std::vector<std::size_t> order = SortRows(rows_, sort1_, sort2_ == 1);
    for (std::size_t i = 0; i < rows_.size(); ++i) rowOfId_[rows_[i].id] = i;
    sorted_ = true;
    // Rows still to come are sorted in once the listing ends.
    resortAfterListing_ = Listing();
    fe_.RowsReordered(order);
}

void MainLogic::OpenFile(std::optional<std::size_t> firstSelected) {
    if (RemoveBlanks(referenceFolder_).empty()) {
        fe_.Beep();
        fe_.Message(kNoReferenceText, MessageKind::Error);
        SetStatus(kNoReferenceText);
        return;
    }
    if (!FolderFound(PathOfText(referenceFolder_))) {
        fe_.Message(kReferenceMissingText, MessageKind::Plain);
        SetStatus(kReferenceMissingText);
        return;
    }
    if (!firstSelected || *firstSelected >= rows_.size()) {
        fe_.Message(kNoFileText, MessageKind::Plain);
        SetStatus(kNoFileText);
        return;
    }
    const FileRow& row = rows_[*firstSelected];
    if (row.name.empty()) {
        SetStatus(kNoFileText);
        return;
    }
    const std::u16string path = JoinPath(referenceFolder_, row.name);
    const bool opened = !row.nameNotText && fe_.OpenPath(path);
    SetStatus(opened ? u"ファイル「" + path + u"」" : u"ファイル「" + path + u"」を開くプログラムがありません。");
}

void MainLogic::Drop(const std::vector<std::u16string>& paths) {
    if (paths.empty() || Running()) return;
    const std::u16string& first = paths.front();
    if (FolderFound(PathOfText(first))) {
        if (first != referenceFolder_) {
            referenceFolder_ = first;
            fe_.ReferenceFolderChanged(referenceFolder_);
            ListFolder(first, false);
        }
        return;
    }
    const std::u16string folder = SplitPath(first).first;
    std::vector<std::u16string> names;
    for (const std::u16string& p : paths) {
        auto [f, name] = SplitPath(p);
        if (f == folder && FileFound(PathOfText(p))) names.push_back(std::move(name));
    }
    if (names.empty() || folder.empty()) return;
    pendingSelection_ = names;
    pendingCurrent_ = names.front();
    if (folder != referenceFolder_ || folder != listedFolder_) {
        referenceFolder_ = folder;
        fe_.ReferenceFolderChanged(referenceFolder_);
        ListFolder(folder, false);
    } else if (!Listing()) {
        SelectPending();
    }
}

// --- Output folder and run ---------------------------------------------------------

void MainLogic::SetOutputFolder(const std::u16string& typed) {
    // A typed or pasted path loses the spaces around it (ASCII and
    // ideographic), which no folder the user means has.
    auto space = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u3000'; };
    std::size_t first = 0, last = typed.size();
    while (first < last && space(typed[first])) ++first;
    while (last > first && space(typed[last - 1])) --last;
    const std::u16string folder = typed.substr(first, last - first);
    if (folder == outputFolder_) return;
    outputFolder_ = folder;
    fe_.OutputFolderChanged(outputFolder_);
}

void MainLogic::PickOutputFolder() {
    const std::u16string folder = fe_.PickFolder(kPickOutputCaption, outputFolder_);
    if (!folder.empty()) SetOutputFolder(folder);
}

void MainLogic::OpenOutputFolder() {
    if (outputFolder_.empty() || !FolderFound(PathOfText(outputFolder_))) {
        fe_.Message(outputFolder_.empty() ? kTextNoOutputFolder : kTextOutputFolderMissing, MessageKind::Plain);
        fe_.FocusOutputFolder();
        return;
    }
    if (!fe_.OpenPath(outputFolder_)) SetStatus(u"フォルダ「" + outputFolder_ + u"」を開けませんでした。");
}

void MainLogic::ConvertClicked(const std::vector<std::size_t>& selectedRows) {
    if (run_) {  // the button reads "中止" while a run goes on
        StopRun();
        return;
    }
    BatchJob job;
    job.referenceFolder = PathOfText(referenceFolder_);
    job.outputFolder = PathOfText(outputFolder_);
    std::vector<std::size_t> rows = selectedRows;
    std::sort(rows.begin(), rows.end());  // display order
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (std::size_t r : rows)
        if (r < rows_.size()) job.items.emplace_back(job.referenceFolder, rows_[r].name, rows_[r].nameNotText);
    job.options = ConvertOptions;
    CheckReporter reporter(fe_);
    if (CheckOutputFolder(job, reporter) != BatchCheck::Ok) {
        fe_.FocusOutputFolder();
        return;
    }
    // Once for the whole run, not once per file.
    if (!FolderWritable(job.outputFolder)) {
        fe_.Message(kOutputNotWritableText, MessageKind::Plain);
        fe_.FocusOutputFolder();
        return;
    }
    // The listed folder may have gone or been renamed since it was listed.
    if (!job.items.empty() && !FolderFound(job.referenceFolder)) {
        fe_.Message(kReferenceMissingText, MessageKind::Plain);
        SetStatus(kReferenceMissingText);
        return;
    }
    StartRun(std::move(job));
}

namespace {

// The run's reporter on the worker thread: progress goes to the window
// through its event queue; results are kept for the end of the run.
class WorkerReporter : public BatchReporter {
public:
    using Progress = std::function<void(std::size_t done, std::size_t index, std::u16string name)>;
    using Notice = std::function<void(std::u16string text)>;
    WorkerReporter(const BatchJob& job, std::atomic<bool>& stop, std::mutex& mutex,
                   std::vector<std::pair<std::u16string, std::u16string>>& unsupported,
                   std::vector<std::u16string>& messages, Progress progress, Notice notice)
        : job_(job), stop_(stop), mutex_(mutex), unsupported_(unsupported), messages_(messages),
          progress_(std::move(progress)), notice_(std::move(notice)) {}

    void Message(const std::u16string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(text);
    }
    void UnsupportedExtension(const std::u16string&) override { pendingUnsupported_ = true; }
    void ItemBegin(std::size_t index) override {
        current_ = index;
        if (index < job_.items.size()) progress_(done_, index, job_.items[index].name);
    }
    void Status(const std::u16string&) override {}
    // Another run is putting files into the output folder: the status bar says so.
    void WaitingForFolder(const std::filesystem::path& folder) override { notice_(WaitingStatusText(folder)); }
    void FileResult(const BatchFileResult& r) override {
        ++done_;
        if (pendingUnsupported_) {
            std::lock_guard<std::mutex> lock(mutex_);
            unsupported_.emplace_back(r.name, r.ext);
            pendingUnsupported_ = false;
        }
    }
    bool StopRequested() override { return stop_.load(); }

private:
    const BatchJob& job_;
    std::atomic<bool>& stop_;
    std::mutex& mutex_;
    std::vector<std::pair<std::u16string, std::u16string>>& unsupported_;
    std::vector<std::u16string>& messages_;
    Progress progress_;
    Notice notice_;
    std::size_t current_ = 0;
    std::size_t done_ = 0;
    bool pendingUnsupported_ = false;
};

}  // namespace

void MainLogic::StartRun(BatchJob job) {
    run_ = std::make_unique<Run>();
    run_->total = job.items.size();
    fe_.RunStateChanged(true);
    Run* state = run_.get();
    std::weak_ptr<bool> alive = alive_;
    FrontEnd* fe = &fe_;
    state->thread = std::thread([this, fe, alive, state, job = std::move(job)] {
        auto post = [fe, alive](std::function<void()> task) {
            fe->Post([alive, task = std::move(task)] {
                if (const auto a = alive.lock()) task();
            });
        };
        TJwwData jww;
        TJwsData jws;
        const std::size_t total = state->total;
        WorkerReporter reporter(job, state->stop, state->mutex, state->unsupported, state->messages,
                                [&](std::size_t done, std::size_t index, std::u16string name) {
                                    post([this, state, done, index, total, name = std::move(name)] {
                                        if (run_.get() != state) return;
                                        std::u16string text = ProgressText(index, total, name);
                                        if (state->stop) text += kStoppingSuffix;
                                        SetStatus(text);
                                        fe_.ProgressChanged(done, total, name);
                                    });
                                },
                                [&](std::u16string text) {
                                    post([this, state, text = std::move(text)] {
                                        if (run_.get() == state) SetStatus(text);
                                    });
                                });
        BatchSummary summary = RunBatch(job, BatchContainers{jww, jws}, reporter);
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->summary = std::move(summary);
        }
        post([this] { FinishRun(); });
    });
}

void MainLogic::StopRun() {
    if (!run_ || run_->stop) return;
    run_->stop = true;
    SetStatus(status_ + kStoppingSuffix);
}

void MainLogic::FinishRun() {
    if (!run_) return;
    if (run_->thread.joinable()) run_->thread.join();
    std::unique_ptr<Run> state = std::move(run_);
    const BatchSummary& s = state->summary;
    std::int32_t written = 0, upToDate = 0;
    for (const BatchFileResult& r : s.files)
        if (r.outcome == FileOutcome::Converted) ++(r.upToDate ? upToDate : written);
    const std::u16string summary = RunStatusText(written, upToDate, s.notConverted + s.unsupported, s.stopped);
    fe_.ProgressChanged(s.files.size(), state->total, u"");
    fe_.RunStateChanged(false);
    SetStatus(summary);
    lastRun_ = s;
    for (const std::u16string& text : state->messages) fe_.Message(text, MessageKind::Plain);
    // Every file refused for its extension in one message.
    if (const std::u16string text = UnsupportedText(state->unsupported); !text.empty())
        fe_.Message(text, MessageKind::Plain);
    const std::vector<ResultRow> rows = ResultRows(s);
    if (!rows.empty()) fe_.ShowResults(summary, rows);
    if (s.check != BatchCheck::Ok) fe_.FocusOutputFolder();
    fe_.RunFinished();
    if (closeAfterRun_) {
        closeAfterRun_ = false;
        fe_.CloseWindow();
    }
}

bool MainLogic::CloseRequested() {
    if (run_) {
        // Closing while files are converted: stop after the current file,
        // then close, or go on.
        if (closeAfterRun_ || fe_.Ask(kCloseDuringRunText)) {
            closeAfterRun_ = true;
            StopRun();
        }
        return false;
    }
    StopListing();
    return true;
}

}  // namespace tervalo::gui
