// The main window: the folder tree, the file list of the reference folder,
// the output folder, the settings dialog and the conversion.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QString>
#include <QThreadPool>
#include <array>
#include <atomic>
#include <memory>
#include <utility>

#include "app_locations.h"
#include "ui_hooks.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

namespace tervalo {

struct BatchJob;
class TJwwData;
class TJwsData;
class TJwcData;
class TJwkData;
class TForm2;
class TplExplorerFolderTree;
class TPreviewPane;

// Item data of a list row's first cell: the name on disk is not valid text.
inline constexpr int kNameNotTextRole = Qt::UserRole + 1;

// The list's columns: name, kind, memo, time, size and version (their widths
// are kept in the settings file), then the counts of temporary points, real
// points and point markers of each drawing, filled in the background.
inline constexpr int kStoredColumns = 6;
inline constexpr int kFirstCountColumn = 6;
inline constexpr int kListColumns = 9;

// The file-type selector: item texts and the mask each one lists.
struct FileTypeEntry {
    const char16_t* text;
    const char16_t* mask;
};
extern const FileTypeEntry kFileTypes[6];
// The mask of a selector index; any other index lists every file.
QString MaskOfFileType(int index);

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // `locations` says where the settings file and the work folder go; the
    // tests give folders of their own.
    explicit TForm1(const AppLocations& locations = AppLocations::FromApplication(), QWidget* parent = nullptr);
    ~TForm1() override;

    UiHooks hooks = UiHooks::Desktop();

    // Controls.
    QLabel* Label1;  // "参照フォルダ：" and the reference folder
    QWidget* Panel1;
    TplExplorerFolderTree* plExplorerFolderTree1;
    QSplitter* Splitter1;
    QWidget* Panel2;
    QWidget* Panel3;
    QLabel* Label2;
    QComboBox* ComboBox1;
    QPushButton* Button1;  // output folder picker
    QLineEdit* Edit1;      // output folder
    QPushButton* Button2;  // settings
    QPushButton* ButtonT;  // convert
    QPushButton* ButtonX;  // quit
    QLabel* Label3;
    QLabel* Label4;
    QTableWidget* ListView1;
    QSplitter* Splitter2;        // the list and the preview
    TPreviewPane* PreviewPane;   // draws the current file
    QLabel* StatusBar1;  // the status bar's one text panel
    QTimer* Timer1;      // follows the folder tree
    TForm2* Form2;       // the settings dialog

    // The folder listed now, the reference folder of conversions.
    const QString& preFolder() const { return preFolder_; }
    int Sort1() const { return sort1_; }
    int Sort2() const { return sort2_; }

    // Set while the window is first shown.
    const QString& ExeFolder() const { return exeFolder_; }
    const QString& TempFolder() const { return tempFolder_; }
    const SettingsLocation& SettingsPath() const { return settingsPath_; }

    QString StatusText() const;
    // Sets the status bar's text and repaints it at once.
    void SetStatus(const QString& text);

    // Rebuilds the list from the files of `folder` matching the file type.
    void ListFolder(const QString& folder);
    // The version and memo cells of a file, read from its header.
    std::pair<QString, QString> ReadFileInfo(const QString& path);
    // Applies the defaults, then the settings file at `path` when there is one.
    void LoadSettings(const QString& path);
    // Writes the settings file; a failed write leaves no file.
    void SaveSettings(const QString& path);

    // Event handlers.
    void Timer1Timer();
    void BrowseForFolder1Execute();
    void ComboBox1Select();
    void ListView1ColumnClick(int column);
    void ListView1DblClick();
    void ButtonTClick();
    void ButtonXClick();
    void Button2Click();

    // The caption of the file-list row, and whether it is selected.
    QString ItemCaption(int row) const;

    // A conversion runs off the window's thread; these say whether one runs
    // and ask it to stop after the file it is converting.
    bool Running() const { return run_ != nullptr; }
    void StopRun();

    // Whether the point counts of the listed drawings are still being read.
    bool CountsPending() const { return countsPending_; }

Q_SIGNALS:
    // A run has ended and its results have been shown.
    void RunFinished();
    // Every point count of the listed folder is in the list.
    void CountsFinished();

protected:
    void setVisible(bool visible) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormClose();
    void CreateContainers();
    void FreeContainers();
    void SortList();
    QString PathInFolder(const QString& name) const;
    void StartRun(BatchJob job);
    void FinishRun();
    void SetRunning(bool running);
    void ApplyDefaultColumnWidths();
    void ShowCurrentInPreview();
    void StartCounting(std::vector<std::pair<QString, QString>> files);  // name, path
    void StopCounting();
    struct CountResult;
    void TakeCounts(int generation, const std::vector<CountResult>& results, bool last);

    struct RunState;
    std::unique_ptr<RunState> run_;
    bool closeAfterRun_ = false;

    AppLocations locations_;
    QString preFolder_;
    QString listedFolder_;  // the folder the list shows
    QThreadPool countPool_;
    std::shared_ptr<std::atomic<bool>> countStop_;
    int countGeneration_ = 0;
    bool countsPending_ = false;
    QHash<QString, std::array<QTableWidgetItem*, 3>> countCells_;  // by file name
    int sort1_ = -1;
    int sort2_ = 0;
    QString exeFolder_;
    QString tempFolder_;
    SettingsLocation settingsPath_;
    bool shown_ = false;
    bool closed_ = false;
    std::unique_ptr<TJwwData> JWW;
    std::unique_ptr<TJwsData> JWS;
    std::unique_ptr<TJwcData> JWC;
    std::unique_ptr<TJwkData> JWK;
};

}  // namespace tervalo
