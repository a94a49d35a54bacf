#include "main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "convert/batch.h"
#include "convert/convert_options.h"
#include "convert/file_convert.h"
#include "convert/settings_file.h"
#include "dos/jwc_data.h"
#include "dos/jwk_data.h"
#include "folder_tree.h"
#include "fs/fsutil.h"
#include "list_compare.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "convert/drawing_info.h"
#include "preview.h"
#include "qt_text.h"
#include "settings_dialog.h"
#include "text/encoding.h"
#include "text/func.h"

namespace tervalo {

const FileTypeEntry kFileTypes[6] = {
    {u"ALL Files (*.*)", u"*"},
    {u"Jw_cad ファイル (*.jw?)", u"*.jw?"},
    {u"Jw_cad 図面ファイル (*.jww)", u"*.jww"},
    {u"Jw_cad 図形ファイル (*.jws)", u"*.jws"},
    {u"JW_CAD 図面ファイル (*.jwc)", u"*.jwc"},
    {u"JW_CAD 図形ファイル (*.jwk)", u"*.jwk"},
};

QString MaskOfFileType(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kFileTypes))) return QStringLiteral("*");
    return QString::fromUtf16(kFileTypes[index].mask);
}

namespace {

constexpr int kTimerInterval = 200;  // ms
const QString kReferenceCaption = QStringLiteral("参照フォルダ：");

struct ColumnSpec {
    const char16_t* caption;
    int width;
    Qt::Alignment alignment;
};
constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;
const ColumnSpec kColumns[kListColumns] = {
    {u"ファイル名", 100, kLeft}, {u"種類", 44, kLeft},    {u"図面メモ", 100, kLeft},
    {u"更新日時", 80, kLeft},    {u"サイズ", 80, kRight}, {u"Ver.", 44, kLeft},
    {u"仮点", 56, kRight},       {u"実点", 56, kRight},   {u"点マーカー", 72, kRight},
};

QString JoinFolder(const QString& folder, const QString& name) {
    if (folder.endsWith(u'/')) return folder + name;
    return folder + u'/' + name;
}

QString WithSeparator(const QString& folder) { return folder.endsWith(u'/') ? folder : folder + u'/'; }

// The checks made on the window's thread before a run: messages in message
// boxes.
class WindowReporter : public BatchReporter {
public:
    explicit WindowReporter(TForm1& form) : form_(form) {}
    void Message(const std::u16string& text) override {
        if (form_.hooks.message) form_.hooks.message(&form_, Q(text), QMessageBox::NoIcon);
    }
    void Status(const std::u16string& text) override { form_.SetStatus(Q(text)); }
    void FileResult(const BatchFileResult&) override {}

private:
    TForm1& form_;
};

// "1,234,567"
QString WithThousands(std::uint64_t value) {
    QString digits = QString::number(value);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, u',');
    return digits;
}

constexpr int kMinColumnWidth = 24;  // narrower columns read as empty

}  // namespace

// A run in progress: the worker thread, its stop request, and what it has
// found so far. The worker owns containers of its own, so the window can
// list folders while it runs.
struct TForm1::RunState {
    std::thread thread;
    std::atomic<bool> stop{false};
    int total = 0;
    std::mutex mutex;  // guards what follows
    BatchSummary summary;
    std::vector<std::pair<std::u16string, std::u16string>> unsupported;  // name, extension
    std::vector<std::u16string> messages;
};

namespace {

// The run's reporter on the worker thread: status texts go to the window
// through its event queue; results are kept for the end of the run.
class WorkerReporter : public BatchReporter {
public:
    WorkerReporter(TForm1& form, std::atomic<bool>& stop, std::mutex& mutex,
                   std::vector<std::pair<std::u16string, std::u16string>>& unsupported,
                   std::vector<std::u16string>& messages, int total)
        : form_(form), stop_(stop), mutex_(mutex), unsupported_(unsupported), messages_(messages), total_(total) {}

    void Message(const std::u16string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(text);
    }
    void UnsupportedExtension(const std::u16string&) override { pendingUnsupported_ = true; }
    void ItemBegin(std::size_t index) override { current_ = static_cast<int>(index); }
    void Status(const std::u16string& text) override {
        // Cleared between files; the summary comes at the end.
        if (text.empty() || done_ >= total_) return;
        const QString line = QString::number(current_ + 1) + QStringLiteral(" / ") + QString::number(total_) +
                             QStringLiteral("　") + Q(text);
        QMetaObject::invokeMethod(&form_, [form = &form_, line] { form->SetStatus(line); }, Qt::QueuedConnection);
    }
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
    TForm1& form_;
    std::atomic<bool>& stop_;
    std::mutex& mutex_;
    std::vector<std::pair<std::u16string, std::u16string>>& unsupported_;
    std::vector<std::u16string>& messages_;
    const int total_;
    int current_ = 0;  // the item being converted
    int done_ = 0;     // results received
    bool pendingUnsupported_ = false;
};

}  // namespace

TForm1::TForm1(const AppLocations& locations, QWidget* parent) : QMainWindow(parent), locations_(locations) {
    setWindowTitle(QStringLiteral("Tervalo Ver.1.10"));

    auto* central = new QWidget(this);
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);

    Label1 = new QLabel(kReferenceCaption, central);
    Label1->setAutoFillBackground(true);
    QPalette white = Label1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Label1->setPalette(white);
    Label1->setContentsMargins(4, 3, 4, 3);
    Label1->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long folder path is cut off at the window's edge rather than
    // widening the window.
    Label1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    centralLayout->addWidget(Label1);

    Splitter1 = new QSplitter(Qt::Horizontal, central);
    Splitter1->setChildrenCollapsible(false);
    Panel1 = new QWidget(Splitter1);
    auto* panel1Layout = new QVBoxLayout(Panel1);
    panel1Layout->setContentsMargins(0, 0, 0, 0);
    Panel2 = new QWidget(Splitter1);
    Splitter1->addWidget(Panel1);
    Splitter1->addWidget(Panel2);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    centralLayout->addWidget(Splitter1, 1);

    auto* panel2Layout = new QVBoxLayout(Panel2);
    panel2Layout->setContentsMargins(0, 0, 0, 0);
    panel2Layout->setSpacing(0);
    Panel3 = new QWidget(Panel2);
    Panel3->setMinimumHeight(80);
    panel2Layout->addWidget(Panel3);

    Label2 = new QLabel(QStringLiteral("ファイルの種類："), Panel3);
    ComboBox1 = new QComboBox(Panel3);
    for (const FileTypeEntry& type : kFileTypes) ComboBox1->addItem(QString::fromUtf16(type.text));
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboBox1->setMinimumContentsLength(12);
    Label2->setBuddy(ComboBox1);
    Button1 = new QPushButton(QStringLiteral("保存先フォルダ"), Panel3);
    Edit1 = new QLineEdit(Panel3);
    Edit1->setReadOnly(true);
    Edit1->setFocusPolicy(Qt::ClickFocus);
    Button2 = new QPushButton(QStringLiteral("変換設定(&S)"), Panel3);
    ButtonT = new QPushButton(QStringLiteral("変換 (&T)"), Panel3);
    ButtonX = new QPushButton(QStringLiteral("終了 (&X)"), Panel3);
    Label3 = new QLabel(QStringLiteral("※変換対象は"), Panel3);
    Label4 = new QLabel(QStringLiteral("JWW/JWSのみ"), Panel3);

    auto* panel3Layout = new QGridLayout(Panel3);
    panel3Layout->setContentsMargins(6, 4, 6, 4);
    panel3Layout->setVerticalSpacing(3);
    panel3Layout->addWidget(Label2, 0, 0);
    panel3Layout->addWidget(ComboBox1, 0, 1);
    panel3Layout->addWidget(Label3, 0, 2);
    panel3Layout->addWidget(Button1, 1, 0);
    panel3Layout->addWidget(Edit1, 1, 1);
    panel3Layout->addWidget(Label4, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button2);
    buttons->addWidget(ButtonT);
    buttons->addWidget(ButtonX);
    buttons->addStretch(1);
    panel3Layout->addLayout(buttons, 2, 0, 1, 3);
    panel3Layout->setColumnStretch(1, 1);

    ListView1 = new QTableWidget(0, static_cast<int>(std::size(kColumns)), Panel2);
    for (int c = 0; c < ListView1->columnCount(); ++c) {
        auto* header = new QTableWidgetItem(QString::fromUtf16(kColumns[c].caption));
        header->setTextAlignment(kColumns[c].alignment);
        ListView1->setHorizontalHeaderItem(c, header);
        ListView1->setColumnWidth(c, kColumns[c].width);
    }
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setShowGrid(true);
    ListView1->setWordWrap(false);
    ListView1->setSortingEnabled(false);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setDefaultSectionSize(ListView1->fontMetrics().height() + 6);
    ListView1->horizontalHeader()->setSectionsClickable(true);
    ListView1->horizontalHeader()->setHighlightSections(false);
    ListView1->horizontalHeader()->setStretchLastSection(false);
    ListView1->horizontalHeader()->setMinimumSectionSize(0);
    ListView1->viewport()->installEventFilter(this);
    Splitter2 = new QSplitter(Qt::Horizontal, Panel2);
    Splitter2->setChildrenCollapsible(false);
    Splitter2->addWidget(ListView1);
    PreviewPane = new TPreviewPane(Splitter2);
    Splitter2->addWidget(PreviewPane);
    Splitter2->setStretchFactor(0, 3);
    Splitter2->setStretchFactor(1, 2);
    panel2Layout->addWidget(Splitter2, 1);

    setCentralWidget(central);
    StatusBar1 = new QLabel(statusBar());
    StatusBar1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // long paths are cut, too
    statusBar()->addWidget(StatusBar1, 1);

    Timer1 = new QTimer(this);
    Timer1->setInterval(kTimerInterval);

    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Button1, &QPushButton::clicked, this, &TForm1::BrowseForFolder1Execute);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(ButtonT, &QPushButton::clicked, this, &TForm1::ButtonTClick);
    connect(ButtonX, &QPushButton::clicked, this, &TForm1::ButtonXClick);
    connect(ComboBox1, &QComboBox::activated, this, [this](int) { ComboBox1Select(); });
    connect(ListView1->horizontalHeader(), &QHeaderView::sectionClicked, this, &TForm1::ListView1ColumnClick);
    connect(ListView1, &QTableWidget::currentCellChanged, this, [this](int row, int, int previous, int) {
        if (row != previous) ShowCurrentInPreview();
    });
    countPool_.setMaxThreadCount(1);

    plExplorerFolderTree1 = nullptr;
    FormCreate();
    // The settings dialog is made after the main window, and lives with it.
    Form2 = new TForm2(this);
}

TForm1::~TForm1() {
    StopCounting();
    if (run_) {
        run_->stop = true;
        if (run_->thread.joinable()) run_->thread.join();
        run_.reset();
    }
    // A window destroyed without being closed still frees its work files and
    // keeps its settings.
    if (shown_ && !closed_) {
        closed_ = true;
        FormClose();
    }
}

void TForm1::FormCreate() {
    if (!plExplorerFolderTree1) {
        plExplorerFolderTree1 = new TplExplorerFolderTree(Panel1);
        Panel1->layout()->addWidget(plExplorerFolderTree1);
    }
    plExplorerFolderTree1->SetRootFolder(QString());
    plExplorerFolderTree1->SetSelectFolder(QString());
}

void TForm1::setVisible(bool visible) {
    // The first show sets everything up before the window appears.
    if (visible && !shown_) {
        shown_ = true;
        FormShow();
    }
    QMainWindow::setVisible(visible);
}

void TForm1::FormShow() {
    exeFolder_ = FolderOfPath(locations_.executablePath);
    tempFolder_ = MakeWorkFolder(exeFolder_, locations_.tempFallbackParent);
    settingsPath_ = ResolveSettingsLocation(locations_);
    LoadSettings(settingsPath_.loadPath);
    // The folder picker starts at the output folder (see BrowseForFolder1Execute).
    CreateContainers();
    plExplorerFolderTree1->SetSelectFolder(preFolder_);
    sort1_ = -1;
    sort2_ = 0;
    Label1->setText(kReferenceCaption + preFolder_);
    ListFolder(preFolder_);
    Timer1->start(kTimerInterval);
}

void TForm1::CreateContainers() {
    // The drawing units keep no changeable defaults (the fallback pen, the
    // default text types and the switched-off text variables are constants of
    // the core), so only the containers are made here.
    JWW = std::make_unique<TJwwData>();
    JWS = std::make_unique<TJwsData>();
    JWC = std::make_unique<TJwcData>();
    JWK = std::make_unique<TJwkData>();
    // Listing reads headers only, and conversions keep bound images in
    // memory: nothing is ever copied into the work folder, so two instances
    // cannot share or remove each other's work files.
    JWW->BindImageExp = false;
    JWW->BindImageExr = false;
    JWW->BindImageFolder = U(tempFolder_);
    JWS->BindImageFolder = U(tempFolder_);
    JWS->BindImageExp = false;
    JWS->BindImageExr = false;
}

void TForm1::FreeContainers() {
    JWS->DataFree();
    JwwDataFree(*JWW);
    JWK.reset();
    JWC.reset();
    JWS.reset();
    JWW.reset();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (run_) {
        // Closing while files are converted: stop after the current file,
        // then close, or go on.
        if (closeAfterRun_ || (hooks.ask && hooks.ask(this, QStringLiteral("変換中です。中止して終了しますか？")))) {
            closeAfterRun_ = true;
            StopRun();
        }
        event->ignore();
        return;
    }
    if (shown_ && !closed_) {
        closed_ = true;
        FormClose();
    }
    event->accept();
}

void TForm1::FormClose() {
    Timer1->stop();
    if (JWW) FreeContainers();
    if (!tempFolder_.isEmpty()) RemoveFolder(U(tempFolder_));
    SaveSettings(settingsPath_.savePath);
}

QString TForm1::StatusText() const { return StatusBar1->text(); }

void TForm1::SetStatus(const QString& text) {
    StatusBar1->setText(text);
    if (StatusBar1->isVisible()) StatusBar1->repaint();
}

QString TForm1::PathInFolder(const QString& name) const { return JoinFolder(preFolder_, name); }

QString TForm1::ItemCaption(int row) const {
    const QTableWidgetItem* item = ListView1->item(row, 0);
    return item ? item->text() : QString();
}

// --- Listing ---------------------------------------------------------------

void TForm1::ListFolder(const QString& folder) {
    Timer1->stop();
    StopCounting();
    SetStatus(QStringLiteral("ファイル検索中です"));
    ListView1->clearContents();
    ListView1->setRowCount(0);
    listedFolder_ = folder;
    PreviewPane->ShowFile(QString(), ConvertOptions);
    if (!FolderFound(U(folder))) {
        // Before a folder is chosen (first start), or the folder has gone.
        SetStatus(folder.isEmpty() ? QStringLiteral("参照フォルダを選んで下さい。")
                                   : QStringLiteral("参照フォルダが存在しません。"));
        Timer1->start(kTimerInterval);
        return;
    }
    const QString mask = MaskOfFileType(ComboBox1->currentIndex());
    ScanFolder(U(WithSeparator(folder)), U(mask));

    std::vector<std::pair<QString, QString>> drawings;  // to count the points of
    ListView1->setUpdatesEnabled(false);
    ListView1->setRowCount(FileCount);
    for (int row = 0; row < FileCount; ++row) {
        const TFileField& file = FileList[static_cast<std::size_t>(row)];
        const QString name = Q(file.name);
        // A name that is not valid text cannot be opened by it: no header to
        // read, and marked as not convertible.
        const auto [version, memo] =
            file.nameNotText ? std::make_pair(QString(), QStringLiteral("（ファイル名の文字コードが正しくないため変換できません）"))
                             : ReadFileInfo(JoinFolder(folder, name));
        const QString cells[kListColumns] = {name, Q(ExtLower(file.name)), memo, Q(file.date + u" " + file.time),
                                             WithThousands(file.fullSize), version};
        for (int c = 0; c < kListColumns; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            item->setTextAlignment(kColumns[c].alignment);
            if (file.nameNotText) item->setForeground(QColor(128, 128, 128));
            ListView1->setItem(row, c, item);
        }
        ListView1->item(row, 0)->setData(kNameNotTextRole, file.nameNotText);
        if (!version.isEmpty() && version != QStringLiteral("DOS") && !countCells_.contains(name)) {
            countCells_.insert(name, {ListView1->item(row, kFirstCountColumn), ListView1->item(row, kFirstCountColumn + 1),
                                      ListView1->item(row, kFirstCountColumn + 2)});
            drawings.emplace_back(name, JoinFolder(folder, name));
        }
    }
    ListView1->setUpdatesEnabled(true);

    SetStatus(QStringLiteral("ファイル検索しました（ファイル数：") + Q(IntToText(FileCount)) + QStringLiteral("）"));
    ClearFileList();
    StartCounting(std::move(drawings));
    Timer1->start(kTimerInterval);
}

// --- Point counts --------------------------------------------------------------

struct TForm1::CountResult {
    QString name;
    bool read = false;
    PointCounts counts;
};

void TForm1::StartCounting(std::vector<std::pair<QString, QString>> files) {
    const int generation = ++countGeneration_;
    countsPending_ = !files.empty();
    if (files.empty()) {
        Q_EMIT CountsFinished();
        return;
    }
    auto stop = std::make_shared<std::atomic<bool>>(false);
    countStop_ = stop;
    QPointer<TForm1> self(this);
    countPool_.start([self, stop, generation, files = std::move(files)] {
        TJwwData jww;
        TJwsData jws;
        jww.BindImageExp = false;  // the counts need no images
        jww.BindImageExr = false;
        std::vector<CountResult> batch;
        QElapsedTimer sent;
        sent.start();
        auto post = [&](bool last) {
            // The window waits for this task before it goes, so `self` is
            // alive while it posts; the call runs on the window's thread.
            QMetaObject::invokeMethod(
                self.data(), [self, generation, batch, last] {
                    if (self) self->TakeCounts(generation, batch, last);
                },
                Qt::QueuedConnection);
            batch.clear();
            sent.restart();
        };
        for (const auto& [name, path] : files) {
            if (stop->load()) return;
            CountResult r{name, false, {}};
            const std::u16string p = U(path);
            try {
                if (jww.FileCheck(p)) {
                    r.read = jww.FileIn(p);
                    if (r.read) r.counts = CollectDrawingInfo(jww).AllPoints();
                    JwwDataFree(jww);
                } else if (jws.FileCheck(p)) {
                    r.read = jws.FileIn(p);
                    if (r.read) r.counts = CollectDrawingInfo(jws).AllPoints();
                    jws.DataFree();
                }
            } catch (...) {  // not enough memory for this one: its cells stay empty
                r.read = false;
            }
            batch.push_back(std::move(r));
            if (batch.size() >= 64 || sent.elapsed() >= 100) post(false);
        }
        post(true);
    });
}

void TForm1::StopCounting() {
    if (countStop_) countStop_->store(true);
    countPool_.clear();
    countPool_.waitForDone();
    countStop_.reset();
    countCells_.clear();
    ++countGeneration_;  // results still on their way are dropped
    countsPending_ = false;
}

void TForm1::TakeCounts(int generation, const std::vector<CountResult>& results, bool last) {
    if (generation != countGeneration_) return;
    for (const CountResult& r : results) {
        const auto found = countCells_.constFind(r.name);
        if (found == countCells_.constEnd() || !r.read) continue;
        const std::int64_t values[3] = {r.counts.temporary, r.counts.real, r.counts.marker};
        for (int i = 0; i < 3; ++i) (*found)[static_cast<std::size_t>(i)]->setText(WithThousands(static_cast<std::uint64_t>(values[i])));
    }
    if (last) {
        countsPending_ = false;
        Q_EMIT CountsFinished();
    }
}

void TForm1::ShowCurrentInPreview() {
    const int row = ListView1->currentRow();
    const QTableWidgetItem* item = row >= 0 ? ListView1->item(row, 0) : nullptr;
    if (!item || item->data(kNameNotTextRole).toBool()) {
        PreviewPane->ShowFile(QString(), ConvertOptions);
        return;
    }
    PreviewPane->ShowFile(JoinFolder(listedFolder_, item->text()), ConvertOptions);
}

std::pair<QString, QString> TForm1::ReadFileInfo(const QString& path) {
    QString version, memo;
    if (!JWW) return {version, memo};
    const std::u16string p = U(path);
    const std::u16string ext = ExtLower(p);
    const bool jwwLike = ext == u".jww" || ext == u".bak" || ext == u".jw$" || (ext >= u".bk1" && ext <= u".bk9");
    if (jwwLike) {
        if (JWW->FileCheck(p) && JWW->FileHeaderIn(p)) {
            version = Q(IntToText(JWW->Enthd.jwVer));
            memo = Q(RemoveBlanks(CleanNameText(JWW->Enthd.strMemo)));
        }
    } else if (ext == u".jws") {
        if (JWS->FileCheck(p) && JWS->FileHeaderIn(p)) version = Q(IntToText(JWS->Enthd.jwVer));
    } else if (ext == u".jwc") {
        if (JWC->FileCheck(p) && JWC->FileHeaderIn(p)) {
            version = QStringLiteral("DOS");
            memo = Q(RemoveBlanks(CleanNameText(JWC->Enthd.comment1 + u" " + JWC->Enthd.comment2)));
        }
    } else if (ext == u".jwk") {
        if (JWK->FileCheck(p) && JWK->FileHeaderIn(p)) {
            version = QStringLiteral("DOS");
            memo = Q(RemoveBlanks(CleanNameText(JWK->Enthd.comment1 + u" " + JWK->Enthd.comment2)));
        }
    }
    return {version, memo};
}

// --- Sorting ---------------------------------------------------------------

void TForm1::ListView1ColumnClick(int column) {
    sort1_ = column;
    sort2_ = 1 - sort2_;
    SortList();
}

void TForm1::SortList() {
    if (sort1_ < 0 || sort1_ >= ListView1->columnCount()) return;
    struct Row {
        std::vector<QTableWidgetItem*> cells;
        bool selected = false;
        bool current = false;
    };
    const int rowCount = ListView1->rowCount();
    const int columnCount = ListView1->columnCount();
    const int currentRow = ListView1->currentRow();
    QItemSelectionModel* selection = ListView1->selectionModel();
    std::vector<Row> rows(static_cast<std::size_t>(rowCount));
    for (int r = 0; r < rowCount; ++r) {
        Row& row = rows[static_cast<std::size_t>(r)];
        row.selected = selection->isRowSelected(r, QModelIndex());
        row.current = r == currentRow;
        for (int c = 0; c < columnCount; ++c) row.cells.push_back(ListView1->takeItem(r, c));
    }
    const int column = sort1_;
    const bool descending = sort2_ == 1;
    auto text = [column](const Row& row) {
        const QTableWidgetItem* item = row.cells[static_cast<std::size_t>(column)];
        return item ? item->text() : QString();
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
        const int cmp = descending ? CompareListTexts(text(b), text(a), column) : CompareListTexts(text(a), text(b), column);
        return cmp < 0;
    });
    ListView1->clearSelection();
    for (int r = 0; r < rowCount; ++r) {
        const Row& row = rows[static_cast<std::size_t>(r)];
        for (int c = 0; c < columnCount; ++c) ListView1->setItem(r, c, row.cells[static_cast<std::size_t>(c)]);
    }
    for (int r = 0; r < rowCount; ++r) {
        const Row& row = rows[static_cast<std::size_t>(r)];
        const QModelIndex index = ListView1->model()->index(r, 0);
        if (row.current) selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        if (row.selected) selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

// --- Other handlers ----------------------------------------------------------

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // A double click anywhere in the list opens the selected file; it runs
    // after the click has updated the selection.
    if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick)
        QMetaObject::invokeMethod(this, &TForm1::ListView1DblClick, Qt::QueuedConnection);
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::ListView1DblClick() {
    auto message = [this](const QString& text, QMessageBox::Icon icon) {
        if (hooks.message) hooks.message(this, text, icon);
    };
    if (RemoveBlanks(U(preFolder_)).empty()) {
        const QString text = QStringLiteral("参照フォルダを指定して下さい。");
        if (hooks.beep) hooks.beep();
        message(text, QMessageBox::Critical);
        SetStatus(text);
        return;
    }
    if (!FolderFound(U(preFolder_))) {
        const QString text = QStringLiteral("参照フォルダが存在しません。");
        message(text, QMessageBox::NoIcon);
        SetStatus(text);
        return;
    }
    const QString noFile = QStringLiteral("ファイルを指示して下さい。");
    int first = -1;
    for (int r = 0; r < ListView1->rowCount() && first < 0; ++r)
        if (ListView1->selectionModel()->isRowSelected(r, QModelIndex())) first = r;
    if (first < 0) {
        message(noFile, QMessageBox::NoIcon);
        SetStatus(noFile);
        return;
    }
    const QString caption = ItemCaption(first);
    if (caption.isEmpty()) {
        SetStatus(noFile);
        return;
    }
    const QString path = PathInFolder(caption);
    const bool opened = hooks.openFile && hooks.openFile(path);
    SetStatus(opened ? QStringLiteral("ファイル「") + path + QStringLiteral("」")
                     : QStringLiteral("ファイル「") + path + QStringLiteral("」を開くプログラムがありません。"));
}

void TForm1::Timer1Timer() {
    Timer1->stop();
    const QString folder = plExplorerFolderTree1->SelectFolder();
    if (folder != preFolder_ && !folder.isEmpty()) {
        Label1->setText(kReferenceCaption + folder);
        ListFolder(folder);
        preFolder_ = folder;
    }
    Timer1->start(kTimerInterval);
}

void TForm1::BrowseForFolder1Execute() {
    if (!hooks.pickFolder) return;
    const QString folder =
        hooks.pickFolder(this, QStringLiteral("変換後のファイルを保存するフォルダを指定して下さい"), Edit1->text());
    if (!folder.isEmpty()) Edit1->setText(folder);
}

void TForm1::ComboBox1Select() { ListFolder(preFolder_); }

void TForm1::ButtonTClick() {
    if (run_) {  // the button reads "中止" while a run goes on
        StopRun();
        return;
    }
    if (!JWW || !JWS) return;
    BatchJob job;
    job.referenceFolder = U(preFolder_);
    job.outputFolder = U(Edit1->text());
    for (int r = 0; r < ListView1->rowCount(); ++r) {
        if (!ListView1->selectionModel()->isRowSelected(r, QModelIndex())) continue;
        const QTableWidgetItem* item = ListView1->item(r, 0);
        job.items.emplace_back(job.referenceFolder, U(ItemCaption(r)), item && item->data(kNameNotTextRole).toBool());
    }
    job.options = ConvertOptions;
    WindowReporter reporter(*this);
    if (CheckOutputFolder(job, reporter) != BatchCheck::Ok) {
        Button1->setFocus();
        return;
    }
    // The listed folder may have gone or been renamed since it was listed.
    if (!job.items.empty() && !FolderFound(job.referenceFolder)) {
        const QString text = QStringLiteral("参照フォルダが存在しません。");
        if (hooks.message) hooks.message(this, text, QMessageBox::NoIcon);
        SetStatus(text);
        return;
    }
    StartRun(std::move(job));
}

void TForm1::StartRun(BatchJob job) {
    run_ = std::make_unique<RunState>();
    run_->total = static_cast<int>(job.items.size());
    SetRunning(true);
    RunState* state = run_.get();
    state->thread = std::thread([this, state, job = std::move(job)] {
        TJwwData jww;
        TJwsData jws;
        WorkerReporter reporter(*this, state->stop, state->mutex, state->unsupported, state->messages, state->total);
        BatchSummary summary = RunBatch(job, BatchContainers{jww, jws}, reporter);
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->summary = std::move(summary);
        }
        QMetaObject::invokeMethod(this, &TForm1::FinishRun, Qt::QueuedConnection);
    });
}

void TForm1::StopRun() {
    if (!run_ || run_->stop) return;
    run_->stop = true;
    ButtonT->setEnabled(false);  // one stop is enough; the run ends after this file
    SetStatus(StatusText() + QStringLiteral("（中止しています）"));
}

void TForm1::FinishRun() {
    if (!run_) return;
    if (run_->thread.joinable()) run_->thread.join();
    std::unique_ptr<RunState> state = std::move(run_);
    SetRunning(false);
    const BatchSummary& s = state->summary;
    const QString summary = Q(s.stopped ? StoppedSummaryText(s.converted, s.notConverted)
                                        : SummaryText(s.converted, s.notConverted));
    SetStatus(summary);
    for (const std::u16string& text : state->messages)
        if (hooks.message) hooks.message(this, Q(text), QMessageBox::NoIcon);
    // Every file refused for its extension in one message.
    if (state->unsupported.size() == 1 && hooks.message) {
        const auto& [name, ext] = state->unsupported.front();
        hooks.message(this, Q(UnsupportedExtensionMessage(name, ext)), QMessageBox::NoIcon);
    } else if (!state->unsupported.empty() && hooks.message) {
        QString text = QStringLiteral("このファイル拡張子（種類）の変換には対応していません。");
        for (const auto& [name, ext] : state->unsupported)
            text += QStringLiteral("\r\nファイル名：") + Q(name) + QStringLiteral("　拡張子：") + Q(ext);
        hooks.message(this, text, QMessageBox::NoIcon);
    }
    // Which files were not converted, and why.
    QList<QPair<QString, QString>> rows;
    for (const BatchFileResult& r : s.files) {
        if (r.outcome != FileOutcome::NotConverted) continue;
        QString reason = Q(JapaneseReasonText(r.reason));
        if (!r.detail.empty()) reason += QStringLiteral("（") + Q(Utf8ToUtf16(r.detail)) + QStringLiteral("）");
        rows.append({Q(r.name), reason});
    }
    if (!rows.isEmpty() && hooks.results) hooks.results(this, summary, rows);
    if (s.check != BatchCheck::Ok) Button1->setFocus();
    Q_EMIT RunFinished();
    if (closeAfterRun_) close();
}

void TForm1::SetRunning(bool running) {
    ButtonT->setText(running ? QStringLiteral("中止") : QStringLiteral("変換 (&T)"));
    ButtonT->setEnabled(true);
    for (QWidget* w : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2), static_cast<QWidget*>(ComboBox1),
                       static_cast<QWidget*>(plExplorerFolderTree1)})
        w->setEnabled(!running);
    if (running) Timer1->stop();
    else Timer1->start(kTimerInterval);
}

void TForm1::ButtonXClick() { close(); }

void TForm1::Button2Click() {
    Timer1->stop();
    plExplorerFolderTree1->IdleStop();
    if (hooks.execDialog) hooks.execDialog(*Form2);
    // The preview after conversion follows the new settings.
    if (PreviewPane->AfterBox->isChecked()) PreviewPane->Refresh(ConvertOptions);
    plExplorerFolderTree1->IdleRestart();
    Timer1->start(kTimerInterval);
}

// --- Settings ----------------------------------------------------------------

void TForm1::ApplyDefaultColumnWidths() {
    const QFontMetrics metrics(ListView1->font());
    const QFontMetrics header(ListView1->horizontalHeader()->font());
    const int pad = 16;
    // The longest texts of the kind, date, size, version and count columns.
    const QString samples[kListColumns] = {QStringLiteral("MMMMMMMMMMMM.jww"), QStringLiteral(".jww"),
                                           QStringLiteral("図面メモの初めの部分"), QStringLiteral("2026/12/31 23:59:59"),
                                           QStringLiteral("999,999,999,999"), QStringLiteral("DOS"),
                                           QStringLiteral("99,999"), QStringLiteral("99,999"), QStringLiteral("99,999")};
    for (int c = 0; c < kListColumns; ++c) {
        const int cell = metrics.horizontalAdvance(samples[c]);
        const int caption = header.horizontalAdvance(QString::fromUtf16(kColumns[c].caption));
        ListView1->setColumnWidth(c, std::max(cell, caption) + pad);
    }
}

void TForm1::LoadSettings(const QString& path) {
    TSettingsData d;
    const bool loaded = !path.isEmpty() && LoadSettingsFile(U(path), d);
    move(d.FormLeft, d.FormTop);
    resize(d.FormWidth, d.FormHeight);
    preFolder_ = Q(d.ReferenceFolder);
    Edit1->setText(Q(d.OutputFolder));
    ComboBox1->setCurrentIndex(d.FileTypeIndex >= 0 && d.FileTypeIndex < ComboBox1->count() ? d.FileTypeIndex : -1);
    // Widths that show every cell whole, unless the settings file gives a
    // readable width of its own.
    ApplyDefaultColumnWidths();
    for (int c = 0; loaded && c < kStoredColumns; ++c) {
        const int width = d.ColumnWidths[static_cast<std::size_t>(c)];
        if (width >= kMinColumnWidth) ListView1->setColumnWidth(c, width);
    }
    Form2->move(d.DialogLeft, d.DialogTop);
    ConvertOptions = d.Options;

    // The folder-tree panel gets its width once the window's layout has
    // given the splitter its own width.
    if (layout()) layout()->activate();
    if (centralWidget()->layout()) centralWidget()->layout()->activate();
    const int panel = std::max(0, d.PanelWidth);
    const int rest = std::max(0, Splitter1->width() - Splitter1->handleWidth() - panel);
    Splitter1->setSizes({panel, rest});
    // The preview takes a little less than half of the list's side.
    Splitter2->setSizes({rest * 55 / 100, rest - rest * 55 / 100});
}

void TForm1::SaveSettings(const QString& path) {
    if (path.isEmpty()) return;
    TSettingsData d;
    const bool normal = !isMaximized() && !isMinimized() && !isFullScreen();
    const QRect bounds = normal ? QRect(pos(), size()) : normalGeometry();
    d.FormLeft = bounds.x();
    d.FormTop = bounds.y();
    d.FormWidth = bounds.width();
    d.FormHeight = bounds.height();
    d.PanelWidth = Splitter1->sizes().value(0, Panel1->width());
    d.ReferenceFolder = U(preFolder_);
    d.OutputFolder = U(Edit1->text());
    d.FileTypeIndex = ComboBox1->currentIndex();
    for (int c = 0; c < kStoredColumns; ++c) d.ColumnWidths[static_cast<std::size_t>(c)] = ListView1->columnWidth(c);
    d.DialogLeft = Form2->pos().x();
    d.DialogTop = Form2->pos().y();
    d.Options = ConvertOptions;
    QDir().mkpath(FolderOfPath(path));
    SaveSettingsFile(U(path), d);
}

}  // namespace tervalo
