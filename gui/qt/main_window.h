// The main window: draws what the shared window logic (gui/common) decides
// and forwards what the user does to it. The folder tree, the file list,
// the output folder, the settings dialog, the conversion and the preview.
#pragma once

#include <QMainWindow>
#include <QString>
#include <memory>
#include <vector>

#include "app_locations.h"
#include "ui_hooks.h"

class QComboBox;
class QHBoxLayout;
class QVBoxLayout;
class QAction;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTableView;
class QTimer;
class QToolButton;

namespace tervalo {

namespace gui {
class MainLogic;
}
class FileListModel;
class TForm2;
class TplExplorerFolderTree;
class TPreviewPane;

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
    QLineEdit* Edit1;      // output folder (typed, pasted or picked)
    QPushButton* Button2;  // settings
    QPushButton* ButtonT;  // convert
    QPushButton* ButtonX;  // quit
    QToolButton* RefreshButton;
    QToolButton* OpenOutputButton;  // the output folder in the file manager
    QToolButton* PreviewToggle;     // shows or folds the preview
    QToolButton* HelpButton;        // help and about
    QAction* HelpAction;
    QAction* AboutAction;
    QLabel* Label3;
    QLabel* Label4;
    QTableView* ListView1;
    FileListModel* ListModel;
    QSplitter* Splitter2;       // the list and the preview
    TPreviewPane* PreviewPane;  // draws the selected file
    QLabel* StatusBar1;         // the status bar's text
    QProgressBar* Progress;     // k of n during a run
    QTimer* Timer1;             // follows the folder tree
    QTimer* WatchTimer;         // a changed folder is listed again after a pause
    QFileSystemWatcher* Watcher;
    TForm2* Form2;  // the settings dialog

    gui::MainLogic& Logic() { return *logic_; }
    const gui::MainLogic& Logic() const { return *logic_; }

    // The folder listed now, the reference folder of conversions.
    QString preFolder() const;
    int Sort1() const;
    int Sort2() const;

    // Set while the window is first shown.
    const QString& ExeFolder() const { return exeFolder_; }
    const QString& TempFolder() const { return tempFolder_; }
    const SettingsLocation& SettingsPath() const { return settingsPath_; }

    QString StatusText() const;
    QString ItemCaption(int row) const;
    // The selected rows in display order; the row the preview shows.
    std::vector<std::size_t> SelectedRows() const;
    int PreviewRow() const;

    // Event handlers.
    void Timer1Timer();
    void BrowseForFolder1Execute();
    void ComboBox1Select();
    void ListView1ColumnClick(int column);
    void ListView1DblClick();
    void ButtonTClick();
    void ButtonXClick();
    void Button2Click();
    void RefreshClick();

    bool Running() const;
    void StopRun();
    bool Listing() const;
    bool CountsPending() const;

    // Applies the layout settings (bounds fitted onto the screens, dividers,
    // column widths) and saves the window's state into them.
    void ApplyLayout();
    void StoreLayout();

Q_SIGNALS:
    // A run has ended and its results have been shown.
    void RunFinished();
    // Every row and header of the listed folder is in.
    void ListingFinished();
    // Every point count of the listed folder is in the list.
    void CountsFinished();

protected:
    void setVisible(bool visible) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class Bridge;
    friend class Bridge;
    void BuildPanel3(QHBoxLayout* top);
    void BuildList(QVBoxLayout* panel2Layout);
    void ConnectSignals();
    void FormShow();
    void FormClose();
    void ShowSelectionInPreview();
    void SetRunning(bool running);
    void SetPreviewShown(bool shown);
    void FitColumns();
    void UpdateSortArrow();
    void WatchFolder();

    std::unique_ptr<Bridge> bridge_;
    std::unique_ptr<gui::MainLogic> logic_;
    AppLocations locations_;
    QString exeFolder_;
    QString tempFolder_;
    SettingsLocation settingsPath_;
    int previewWidth_ = 0;  // the preview's width while it is folded away
    bool shown_ = false;
    bool closed_ = false;
    bool layoutDone_ = false;
};

}  // namespace tervalo
