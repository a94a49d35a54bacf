#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileSystemWatcher>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "file_list_model.h"
#include "folder_tree.h"
#include "fs/fsutil.h"
#include "main_logic.h"
#include "placement.h"
#include "preview.h"
#include "qt_text.h"
#include "settings_dialog.h"

namespace tervalo {

namespace {

constexpr int kTimerInterval = 200;  // ms
constexpr int kWatchPause = 400;     // ms after the last change of the folder

gui::Rect ToRect(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

std::vector<gui::Rect> ScreenAreas() {
    std::vector<gui::Rect> areas;
    for (const QScreen* s : QGuiApplication::screens()) areas.push_back(ToRect(s->availableGeometry()));
    return areas;
}

}  // namespace

// The window's side of the seam: the desktop's services through the
// window's hooks, and the logic's notices drawn.
class TForm1::Bridge : public gui::FrontEnd {
public:
    explicit Bridge(TForm1& form) : f_(form) {}

    void Post(std::function<void()> task) override {
        // Dropped by Qt when the window is gone before it runs.
        QMetaObject::invokeMethod(&f_, std::move(task), Qt::QueuedConnection);
    }
    void Message(const std::u16string& text, gui::MessageKind kind) override {
        if (f_.hooks.message)
            f_.hooks.message(&f_, Q(text), kind == gui::MessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon);
    }
    void Beep() override {
        if (f_.hooks.beep) f_.hooks.beep();
    }
    bool Ask(const std::u16string& text) override { return f_.hooks.ask && f_.hooks.ask(&f_, Q(text)); }
    std::u16string PickFolder(const std::u16string& caption, const std::u16string& start) override {
        return f_.hooks.pickFolder ? U(f_.hooks.pickFolder(&f_, Q(caption), Q(start))) : std::u16string();
    }
    bool OpenPath(const std::u16string& path) override { return f_.hooks.openFile && f_.hooks.openFile(Q(path)); }
    void ShowResults(const std::u16string& summary, const std::vector<gui::ResultRow>& rows) override {
        QList<QPair<QString, QString>> list;
        for (const gui::ResultRow& r : rows) list.append({Q(r.name), Q(r.reason)});
        if (f_.hooks.results) f_.hooks.results(&f_, Q(summary), list);
    }

    void StatusChanged(const std::u16string& text) override {
        f_.StatusBar1->setText(Q(text));
        if (f_.StatusBar1->isVisible()) f_.StatusBar1->repaint();
    }
    void ReferenceFolderChanged(const std::u16string& folder) override {
        f_.Label1->setText(Q(f_.logic_->ReferenceCaption()));
        f_.plExplorerFolderTree1->SetSelectFolder(Q(folder));
        f_.WatchFolder();
    }
    void OutputFolderChanged(const std::u16string& folder) override {
        if (f_.Edit1->text() != Q(folder)) f_.Edit1->setText(Q(folder));
    }
    void ListReset() override {
        f_.ListModel->Reset();
        f_.UpdateSortArrow();
        f_.ShowSelectionInPreview();
    }
    void RowsAdded(std::size_t first, std::size_t count) override { f_.ListModel->Added(first, count); }
    void RowsChanged(std::size_t first, std::size_t count) override { f_.ListModel->Changed(first, count); }
    void RowsReordered(const std::vector<std::size_t>& oldOfNew) override {
        f_.ListModel->Reordered(oldOfNew);
        f_.UpdateSortArrow();
    }
    void ListingFinished() override { Q_EMIT f_.ListingFinished(); }
    void CountsFinished() override { Q_EMIT f_.CountsFinished(); }
    void SelectRows(const std::vector<std::size_t>& rows, std::size_t current) override {
        QItemSelectionModel* sel = f_.ListView1->selectionModel();
        QItemSelection selection;
        for (std::size_t r : rows) {
            const QModelIndex i = f_.ListModel->index(static_cast<int>(r), 0);
            selection.select(i, i);
        }
        sel->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        const QModelIndex cur = f_.ListModel->index(static_cast<int>(current), 0);
        if (cur.isValid()) {
            sel->setCurrentIndex(cur, QItemSelectionModel::NoUpdate);
            f_.ListView1->scrollTo(cur);
        }
    }
    void RunStateChanged(bool running) override { f_.SetRunning(running); }
    void ProgressChanged(std::size_t done, std::size_t total, const std::u16string&) override {
        f_.Progress->setMaximum(std::max<int>(1, static_cast<int>(total)));
        f_.Progress->setValue(static_cast<int>(std::min(done, total)));
    }
    void RunFinished() override { Q_EMIT f_.RunFinished(); }
    void FocusOutputFolder() override { f_.Button1->setFocus(); }
    void CloseWindow() override { f_.close(); }

private:
    TForm1& f_;
};

TForm1::TForm1(const AppLocations& locations, QWidget* parent)
    : QMainWindow(parent), bridge_(std::make_unique<Bridge>(*this)),
      logic_(std::make_unique<gui::MainLogic>(*bridge_)), locations_(locations) {
    setWindowTitle(QString::fromUtf16(gui::kWindowTitle));
    setAcceptDrops(true);

    auto* central = new QWidget(this);
    // The top row is white: the reference folder and the two toggles.
    auto* topRow = new QWidget(central);
    topRow->setAutoFillBackground(true);
    {
        QPalette p = topRow->palette();
        p.setColor(QPalette::Window, Qt::white);
        topRow->setPalette(p);
    }
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);

    Label1 = new QLabel(QString::fromUtf16(gui::kReferenceCaption), topRow);
    Label1->setAutoFillBackground(false);
    QPalette white = Label1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Label1->setPalette(white);
    Label1->setContentsMargins(4, 3, 4, 3);
    Label1->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long folder path is cut off at the window's edge rather than
    // widening the window.
    Label1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* top = new QHBoxLayout(topRow);
    top->setContentsMargins(0, 0, 4, 0);
    top->setSpacing(2);
    top->addWidget(Label1, 1);
    centralLayout->addWidget(topRow);

    Splitter1 = new QSplitter(Qt::Horizontal, central);
    Splitter1->setChildrenCollapsible(false);
    Panel1 = new QWidget(Splitter1);
    auto* panel1Layout = new QVBoxLayout(Panel1);
    panel1Layout->setContentsMargins(0, 0, 0, 0);
    plExplorerFolderTree1 = new TplExplorerFolderTree(Panel1);
    panel1Layout->addWidget(plExplorerFolderTree1);
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
    panel2Layout->addWidget(Panel3);

    BuildPanel3(top);

    BuildList(panel2Layout);

    setCentralWidget(central);
    StatusBar1 = new QLabel(statusBar());
    StatusBar1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(StatusBar1, 1);
    Progress = new QProgressBar(statusBar());
    Progress->setMaximumWidth(160);
    Progress->setTextVisible(true);
    Progress->setFormat(QStringLiteral("%v / %m"));
    Progress->hide();
    statusBar()->addPermanentWidget(Progress);
    statusBar()->setSizeGripEnabled(true);

    Timer1 = new QTimer(this);
    Timer1->setSingleShot(false);
    WatchTimer = new QTimer(this);
    WatchTimer->setSingleShot(true);
    WatchTimer->setInterval(kWatchPause);
    Watcher = new QFileSystemWatcher(this);

    // Tab order: tree, file type, output folder, buttons, list, preview.
    QWidget* order[] = {plExplorerFolderTree1->view(), ComboBox1, Button1, Edit1, OpenOutputButton, Button2,
                        ButtonT, ButtonX, RefreshButton, PreviewToggle, HelpButton, ListView1};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
    setTabOrder(ListView1, PreviewPane->AfterBox);
    setTabOrder(PreviewPane->AfterBox, PreviewPane->FitButton);

    ConnectSignals();

    plExplorerFolderTree1->SetRootFolder(QString());
    // The settings dialog is made after the main window, and lives with it.
    Form2 = new TForm2(this);
}

// The controls above the list: file type, output folder, buttons; the
// preview toggle and help go into the top row.
void TForm1::BuildPanel3(QHBoxLayout* top) {
    Label2 = new QLabel(QStringLiteral("ファイルの種類："), Panel3);
    ComboBox1 = new QComboBox(Panel3);
    for (int i = 0; i < gui::kFileTypeCount; ++i) ComboBox1->addItem(QString::fromUtf16(gui::FileTypeOf(i).text));
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboBox1->setMinimumContentsLength(8);
    Label2->setBuddy(ComboBox1);
    Button1 = new QPushButton(QStringLiteral("保存先フォルダ"), Panel3);
    Edit1 = new QLineEdit(Panel3);
    Edit1->setPlaceholderText(QStringLiteral("フォルダを選ぶか、パスを入力・貼り付け"));
    Edit1->setClearButtonEnabled(true);
    Button2 = new QPushButton(QStringLiteral("変換設定(&S)"), Panel3);
    ButtonT = new QPushButton(QStringLiteral("変換 (&T)"), Panel3);
    ButtonX = new QPushButton(QStringLiteral("終了 (&X)"), Panel3);
    for (QPushButton* b : {Button2, ButtonT, ButtonX}) b->setMinimumWidth(0);
    auto tool = [this](const QString& text, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        b->setFocusPolicy(Qt::StrongFocus);
        return b;
    };
    RefreshButton = tool(QStringLiteral("更新"), QStringLiteral("一覧を読み直します (F5)"));
    OpenOutputButton = tool(QStringLiteral("開く"), QStringLiteral("保存先フォルダをファイルマネージャーで開きます"));
    PreviewToggle = tool(QStringLiteral("プレビュー"), QStringLiteral("選んだ図面のプレビューを表示します"));
    PreviewToggle->setCheckable(true);
    HelpButton = tool(QStringLiteral("？"), QStringLiteral("使い方とバージョン情報 (F1)"));
    HelpButton->setPopupMode(QToolButton::InstantPopup);
    auto* helpMenu = new QMenu(HelpButton);
    HelpAction = helpMenu->addAction(QStringLiteral("使い方(&H)"));
    AboutAction = helpMenu->addAction(QStringLiteral("バージョン情報(&A)"));
    HelpButton->setMenu(helpMenu);
    Label3 = new QLabel(QStringLiteral("※変換対象は"), Panel3);
    Label4 = new QLabel(QStringLiteral("JWW/JWSのみ"), Panel3);

    auto* panel3Layout = new QGridLayout(Panel3);
    panel3Layout->setContentsMargins(6, 4, 6, 4);
    panel3Layout->setVerticalSpacing(3);
    panel3Layout->setHorizontalSpacing(4);
    panel3Layout->addWidget(Label2, 0, 0);
    panel3Layout->addWidget(ComboBox1, 0, 1);
    panel3Layout->addWidget(Label3, 0, 2);
    panel3Layout->addWidget(Button1, 1, 0);
    auto* row1 = new QHBoxLayout;
    row1->setSpacing(2);
    row1->addWidget(Edit1, 1);
    row1->addWidget(OpenOutputButton);
    panel3Layout->addLayout(row1, 1, 1);
    panel3Layout->addWidget(Label4, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(4);
    buttons->addWidget(Button2);
    buttons->addWidget(ButtonT);
    buttons->addWidget(ButtonX);
    buttons->addStretch(1);
    buttons->addWidget(RefreshButton);
    top->addWidget(PreviewToggle);
    top->addWidget(HelpButton);
    panel3Layout->addLayout(buttons, 2, 0, 1, 3);
    panel3Layout->setColumnStretch(1, 1);

}

// The list and the preview beside it.
void TForm1::BuildList(QVBoxLayout* panel2Layout) {
    Splitter2 = new QSplitter(Qt::Horizontal, Panel2);
    Splitter2->setChildrenCollapsible(true);
    ListModel = new FileListModel(*logic_, this);
    ListView1 = new QTableView(Splitter2);
    ListView1->setModel(ListModel);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the list for the next control; the arrows move by row.
    ListView1->setTabKeyNavigation(false);
    ListView1->setShowGrid(true);
    ListView1->setWordWrap(false);
    ListView1->setAlternatingRowColors(false);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setDefaultSectionSize(ListView1->fontMetrics().height() + 6);
    ListView1->horizontalHeader()->setHighlightSections(false);
    ListView1->horizontalHeader()->setSectionsClickable(true);
    ListView1->horizontalHeader()->setStretchLastSection(false);
    ListView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The columns in the order they are shown (the memo after the version).
    for (int v = 0; v < gui::kColumnCount; ++v) {
        QHeaderView* header = ListView1->horizontalHeader();
        header->moveSection(header->visualIndex(gui::kShownColumnOrder[static_cast<std::size_t>(v)]), v);
    }
    ListView1->viewport()->installEventFilter(this);
    ListView1->installEventFilter(this);
    // The control with the keyboard focus is framed.
    const QString focusFrame = QStringLiteral("%1:focus { border: 2px solid palette(highlight); }");
    ListView1->setStyleSheet(focusFrame.arg(QStringLiteral("QTableView")));
    plExplorerFolderTree1->view()->setStyleSheet(focusFrame.arg(QStringLiteral("QTreeView")));
    PreviewPane = new TPreviewPane(Splitter2);
    Splitter2->addWidget(ListView1);
    Splitter2->addWidget(PreviewPane);
    Splitter2->setStretchFactor(0, 1);
    Splitter2->setStretchFactor(1, 0);  // the list takes what the window gains
    Splitter2->setCollapsible(0, false);
    panel2Layout->addWidget(Splitter2, 1);

}

void TForm1::ConnectSignals() {
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(WatchTimer, &QTimer::timeout, this, &TForm1::RefreshClick);
    connect(Watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (!Running()) WatchTimer->start();
    });
    connect(Button1, &QPushButton::clicked, this, &TForm1::BrowseForFolder1Execute);
    connect(Edit1, &QLineEdit::textEdited, this, [this](const QString& text) { logic_->SetOutputFolder(U(text.trimmed())); });
    connect(Edit1, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!Edit1->isModified()) logic_->SetOutputFolder(U(text.trimmed()));
    });
    connect(OpenOutputButton, &QToolButton::clicked, this, [this] { logic_->OpenOutputFolder(); });
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(ButtonT, &QPushButton::clicked, this, &TForm1::ButtonTClick);
    connect(ButtonX, &QPushButton::clicked, this, &TForm1::ButtonXClick);
    connect(RefreshButton, &QToolButton::clicked, this, &TForm1::RefreshClick);
    connect(PreviewToggle, &QToolButton::toggled, this, &TForm1::SetPreviewShown);
    connect(Splitter2, &QSplitter::splitterMoved, this, [this] {
        const bool shown = Splitter2->sizes().value(1) > 0;
        if (shown != PreviewToggle->isChecked()) {
            const QSignalBlocker block(PreviewToggle);
            PreviewToggle->setChecked(shown);
            if (shown) ShowSelectionInPreview();
        }
    });
    connect(HelpAction, &QAction::triggered, this, [this] {
        if (hooks.message) hooks.message(this, Q(gui::HelpText()), QMessageBox::Information);
    });
    connect(AboutAction, &QAction::triggered, this, [this] {
        const QString toolkit = QStringLiteral("Qt %1（GNU LGPL v3）").arg(QString::fromLatin1(qVersion()));
        if (hooks.message)
            hooks.message(this, Q(gui::AboutText(u"Ver.1.10", U(toolkit))), QMessageBox::Information);
    });
    auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
    connect(f1, &QShortcut::activated, HelpAction, &QAction::trigger);
    auto* f5 = new QShortcut(QKeySequence::Refresh, this);
    connect(f5, &QShortcut::activated, this, &TForm1::RefreshClick);
    connect(ComboBox1, &QComboBox::activated, this, [this](int) { ComboBox1Select(); });
    connect(ListView1->horizontalHeader(), &QHeaderView::sectionClicked, this, &TForm1::ListView1ColumnClick);
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TForm1::ShowSelectionInPreview);
    connect(ListView1->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &TForm1::ShowSelectionInPreview);

}

TForm1::~TForm1() {
    // A window destroyed without being closed still keeps its settings.
    if (shown_ && !closed_) {
        closed_ = true;
        FormClose();
    }
    logic_.reset();  // waits for its threads; what they posted is dropped with the window
}

void TForm1::setVisible(bool visible) {
    // The first show sets everything up before the window appears.
    if (visible && !shown_) {
        shown_ = true;
        FormShow();
    }
    QMainWindow::setVisible(visible);
    if (visible && !layoutDone_) {
        // The divider of the preview once the window has its real width.
        layoutDone_ = true;
        if (layout()) layout()->activate();
        if (centralWidget()->layout()) centralWidget()->layout()->activate();
        if (Panel2->layout()) Panel2->layout()->activate();
        SetPreviewShown(PreviewToggle->isChecked());
    }
    if (visible && logic_->settings().layout.Maximized && !isMaximized()) showMaximized();
}

void TForm1::FormShow() {
    exeFolder_ = FolderOfPath(locations_.executablePath);
    tempFolder_ = MakeWorkFolder(exeFolder_, locations_.tempFallbackParent);
    settingsPath_ = ResolveSettingsLocation(locations_);
    logic_->LoadSettings(U(settingsPath_.loadPath));
    const int type = logic_->FileTypeIndex();
    ComboBox1->setCurrentIndex(type >= 0 && type < ComboBox1->count() ? type : -1);
    ApplyLayout();
    // The tree opens at the reference folder, or at home when there is none.
    const QString first = Q(gui::FirstTreeFolder(logic_->ReferenceFolder(), U(QDir::homePath())));
    plExplorerFolderTree1->SetSelectFolder(first);
    logic_->Start();
    Timer1->start(kTimerInterval);
}

void TForm1::ApplyLayout() {
    const gui::WindowSettings& s = logic_->settings();
    const gui::Rect bounds =
        gui::FitOntoScreens({s.main.FormLeft, s.main.FormTop, s.main.FormWidth, s.main.FormHeight}, ScreenAreas());
    move(bounds.left, bounds.top);
    resize(bounds.width, bounds.height);
    FitColumns();
    for (int c = 0; s.loaded && c < gui::kStoredColumns; ++c) {
        const int width = s.main.ColumnWidths[static_cast<std::size_t>(c)];
        if (width >= gui::kMinColumnWidth) ListView1->setColumnWidth(c, width);
    }
    for (int i = 0; i < gui::kCountColumns; ++i) {
        const int width = s.layout.CountWidths[static_cast<std::size_t>(i)];
        if (width >= gui::kMinColumnWidth) ListView1->setColumnWidth(gui::kFirstCountColumn + i, width);
    }
    // The dialog keeps its place, fitted onto a screen as the window is.
    const QSize dialog = Form2->sizeHint().expandedTo(QSize(384, 280));
    const gui::Rect d = gui::FitOntoScreens({s.main.DialogLeft, s.main.DialogTop, dialog.width(), dialog.height()},
                                            ScreenAreas(), 0, 0);
    Form2->move(d.left, d.top);

    // The panels get their widths once the window's layout has given the
    // splitters theirs.
    if (layout()) layout()->activate();
    if (centralWidget()->layout()) centralWidget()->layout()->activate();
    const int panel = std::max(0, s.main.PanelWidth);
    const int rest = std::max(0, Splitter1->width() - Splitter1->handleWidth() - panel);
    Splitter1->setSizes({panel, rest});
    previewWidth_ = s.layout.PreviewWidth;  // 0: what the list leaves (see SetPreviewShown)
    PreviewToggle->setChecked(s.layout.PreviewShown);
    SetPreviewShown(s.layout.PreviewShown);
}

void TForm1::StoreLayout() {
    gui::WindowSettings& s = logic_->settings();
    const bool normal = !isMaximized() && !isMinimized() && !isFullScreen();
    const QRect bounds = normal ? QRect(pos(), size()) : normalGeometry();
    s.main.FormLeft = bounds.x();
    s.main.FormTop = bounds.y();
    s.main.FormWidth = bounds.width();
    s.main.FormHeight = bounds.height();
    s.layout.Maximized = isMaximized();
    s.main.PanelWidth = Splitter1->sizes().value(0, Panel1->width());
    for (int c = 0; c < gui::kStoredColumns; ++c) s.main.ColumnWidths[static_cast<std::size_t>(c)] = ListView1->columnWidth(c);
    for (int i = 0; i < gui::kCountColumns; ++i)
        s.layout.CountWidths[static_cast<std::size_t>(i)] = ListView1->columnWidth(gui::kFirstCountColumn + i);
    const int preview = Splitter2->sizes().value(1);
    s.layout.PreviewShown = preview > 0;
    s.layout.PreviewWidth = preview > 0 ? preview : previewWidth_;
    s.main.DialogLeft = Form2->pos().x();
    s.main.DialogTop = Form2->pos().y();
}

void TForm1::FitColumns() {
    const QFontMetrics metrics(ListView1->font());
    const QFontMetrics header(ListView1->horizontalHeader()->font());
    const int pad = 10;
    for (int c = 0; c < gui::kColumnCount; ++c) {
        const int cell = metrics.horizontalAdvance(QString::fromUtf16(gui::ColumnOf(c).sample));
        const int caption = header.horizontalAdvance(QString::fromUtf16(gui::ColumnOf(c).caption)) + 10;  // and the arrow
        ListView1->setColumnWidth(c, std::max(cell, caption) + pad);
    }
}

void TForm1::SetPreviewShown(bool shown) {
    const QList<int> sizes = Splitter2->sizes();
    const int total = std::max(0, sizes.value(0) + sizes.value(1));
    if (shown) {
        // By default the list keeps the room of all its columns and the
        // preview takes the rest, at least a third of the side.
        int columns = ListView1->verticalScrollBar()->sizeHint().width() + 2 * ListView1->frameWidth();
        for (int c = 0; c < gui::kColumnCount; ++c) columns += ListView1->columnWidth(c);
        const int wanted = previewWidth_ > 0 ? previewWidth_ : std::max(total / 3, total - columns);
        const int preview = std::clamp(wanted, 120, std::max(120, total - 160));
        Splitter2->setSizes({std::max(0, total - preview), preview});
        ShowSelectionInPreview();
    } else {
        if (sizes.value(1) > 0) previewWidth_ = sizes.value(1);
        Splitter2->setSizes({total, 0});
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!logic_->CloseRequested()) {
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
    WatchTimer->stop();
    if (!tempFolder_.isEmpty()) RemoveFolder(U(tempFolder_));
    StoreLayout();
    QDir().mkpath(FolderOfPath(settingsPath_.savePath));
    if (!settingsPath_.savePath.isEmpty()) logic_->SaveSettings(U(settingsPath_.savePath));
}

QString TForm1::preFolder() const { return Q(logic_->ReferenceFolder()); }
int TForm1::Sort1() const { return logic_->SortColumn(); }
int TForm1::Sort2() const { return logic_->SortDescending() ? 1 : 0; }
QString TForm1::StatusText() const { return StatusBar1->text(); }
bool TForm1::Running() const { return logic_->Running(); }
void TForm1::StopRun() { logic_->StopRun(); }
bool TForm1::Listing() const { return logic_->Listing(); }
bool TForm1::CountsPending() const { return logic_->CountsPending(); }

QString TForm1::ItemCaption(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= logic_->RowCount()) return QString();
    return Q(logic_->Row(static_cast<std::size_t>(row)).name);
}

std::vector<std::size_t> TForm1::SelectedRows() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& i : ListView1->selectionModel()->selectedRows()) rows.push_back(static_cast<std::size_t>(i.row()));
    std::sort(rows.begin(), rows.end());
    return rows;
}

int TForm1::PreviewRow() const {
    // The selection decides, not the focused cell: the current row when it
    // is selected, else the first selected row.
    const QItemSelectionModel* sel = ListView1->selectionModel();
    const QModelIndex current = sel->currentIndex();
    if (current.isValid() && sel->isRowSelected(current.row(), QModelIndex())) return current.row();
    const std::vector<std::size_t> rows = SelectedRows();
    return rows.empty() ? -1 : static_cast<int>(rows.front());
}

void TForm1::ShowSelectionInPreview() {
    if (Splitter2->sizes().value(1) <= 0 && !PreviewToggle->isChecked()) {
        PreviewPane->ShowFile(QString(), ConvertOptions);  // folded away: nothing is read
        return;
    }
    const int row = PreviewRow();
    const QString path = row >= 0 ? Q(logic_->PathOf(static_cast<std::size_t>(row))) : QString();
    if (path != PreviewPane->View->Path()) PreviewPane->ShowFile(path, ConvertOptions);
}

void TForm1::UpdateSortArrow() {
    QHeaderView* header = ListView1->horizontalHeader();
    header->setSortIndicatorShown(logic_->Sorted());
    // Qt draws an ascending order as a downward arrow; Jw_cad's users know
    // Windows' lists, where the arrow points up for ascending, and so does
    // the Windows program: the order is given the other way round.
    if (logic_->Sorted())
        header->setSortIndicator(logic_->SortColumn(), logic_->SortDescending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TForm1::WatchFolder() {
    if (!Watcher->directories().isEmpty()) Watcher->removePaths(Watcher->directories());
    const QString folder = preFolder();
    if (!folder.isEmpty() && QDir(folder).exists()) Watcher->addPath(folder);
}

// --- Handlers --------------------------------------------------------------------

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // A double click anywhere in the list opens the selected file; it runs
    // after the click has updated the selection.
    if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick)
        QMetaObject::invokeMethod(this, &TForm1::ListView1DblClick, Qt::QueuedConnection);
    // Enter opens the current file as a double click does.
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        const int key = keyEvent->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            ListView1DblClick();
            return true;
        }
        // Home and End go to the first and last file, as in a list, not to
        // the first and last column.
        if ((key == Qt::Key_Home || key == Qt::Key_End) && keyEvent->modifiers() == Qt::NoModifier &&
            ListModel->rowCount() > 0) {
            const QModelIndex to = ListModel->index(key == Qt::Key_Home ? 0 : ListModel->rowCount() - 1, 0);
            ListView1->selectionModel()->setCurrentIndex(to, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            ListView1->scrollTo(to);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::ListView1DblClick() {
    const std::vector<std::size_t> rows = SelectedRows();
    const int current = PreviewRow();
    logic_->OpenFile(current >= 0 ? std::optional<std::size_t>(current)
                                  : rows.empty() ? std::nullopt : std::optional<std::size_t>(rows.front()));
}

void TForm1::ListView1ColumnClick(int column) { logic_->ColumnClicked(column); }

void TForm1::Timer1Timer() {
    const QString folder = plExplorerFolderTree1->SelectFolder();
    if (!folder.isEmpty() && folder != preFolder() && !Running()) logic_->SelectFolder(U(folder));
}

void TForm1::BrowseForFolder1Execute() { logic_->PickOutputFolder(); }

void TForm1::ComboBox1Select() { logic_->SetFileType(ComboBox1->currentIndex()); }

void TForm1::ButtonTClick() { logic_->ConvertClicked(SelectedRows()); }

void TForm1::RefreshClick() {
    WatchTimer->stop();
    const int current = ListView1->selectionModel()->currentIndex().row();
    logic_->Refresh(SelectedRows(), current >= 0 ? std::optional<std::size_t>(current) : std::nullopt);
}

void TForm1::SetRunning(bool running) {
    ButtonT->setText(running ? QStringLiteral("中止") : QStringLiteral("変換 (&T)"));
    ButtonT->setEnabled(true);
    for (QWidget* w : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2), static_cast<QWidget*>(ComboBox1),
                       static_cast<QWidget*>(Edit1), static_cast<QWidget*>(RefreshButton),
                       static_cast<QWidget*>(plExplorerFolderTree1)})
        w->setEnabled(!running);
    Progress->setVisible(running);
    if (running) {
        Progress->setValue(0);
        Timer1->stop();
    } else {
        Timer1->start(kTimerInterval);
    }
}

void TForm1::ButtonXClick() { close(); }

void TForm1::Button2Click() {
    Timer1->stop();
    plExplorerFolderTree1->IdleStop();
    const gui::Rect d = gui::FitOntoScreens(ToRect(Form2->frameGeometry()), ScreenAreas(), 0, 0);
    Form2->move(d.left, d.top);
    if (hooks.execDialog) hooks.execDialog(*Form2);
    // The preview after conversion follows the new settings.
    if (PreviewPane->AfterBox->isChecked()) PreviewPane->Refresh(ConvertOptions);
    plExplorerFolderTree1->IdleRestart();
    Timer1->start(kTimerInterval);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!Running() && event->mimeData()->hasUrls()) {
        for (const QUrl& url : event->mimeData()->urls())
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
    }
}

void TForm1::dropEvent(QDropEvent* event) {
    std::vector<std::u16string> paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(U(QDir::cleanPath(url.toLocalFile())));
    if (paths.empty()) return;
    event->acceptProposedAction();
    logic_->Drop(paths);
}

}  // namespace tervalo
