// The seam between the window logic and a window toolkit.
//
// The logic (MainLogic and the jobs it runs) decides everything the window
// shows; a front end draws it and forwards what the user does. The logic
// calls the front end through this interface only: the services it needs
// from the desktop (a task on the window's thread, message boxes, the folder
// picker, opening a file or folder), and notices of what changed so the
// front end can redraw. Every call is made on the window's thread, except
// Post, which any thread may call.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tervalo::gui {

enum class MessageKind {
    Plain,  // information or a user's input error
    Error,  // shown with the error icon
};

// One file a run did not convert: its name and the reason, in Japanese.
struct ResultRow {
    std::u16string name;
    std::u16string reason;
};

class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // --- Services --------------------------------------------------------

    // Runs `task` on the window's thread as soon as the window's event loop
    // gets to it, after the tasks posted before it. Callable from any thread;
    // must not run the task inside the call. A task posted while the window
    // closes may be dropped.
    virtual void Post(std::function<void()> task) = 0;
    // A modal message box with an OK button, titled with the program's name.
    virtual void Message(const std::u16string& text, MessageKind kind) = 0;
    virtual void Beep() = 0;
    // A modal question with Yes and No; true for Yes.
    virtual bool Ask(const std::u16string& text) = 0;
    // The folder picker; returns the chosen folder, empty when cancelled.
    virtual std::u16string PickFolder(const std::u16string& caption, const std::u16string& startFolder) = 0;
    // Opens a file with its associated program, or a folder in the file
    // manager; false when nothing took it.
    virtual bool OpenPath(const std::u16string& path) = 0;
    // The files of a run that were not converted, in a list the user can
    // read, copy (CopyText below gives the text) and close. Modal.
    virtual void ShowResults(const std::u16string& summary, const std::vector<ResultRow>& rows) = 0;

    // --- Notices (redraw what they name) -----------------------------------

    // The status bar's one text.
    virtual void StatusChanged(const std::u16string& /*text*/) {}
    // The reference folder changed (its caption is MainLogic::ReferenceCaption);
    // the folder tree should show it selected without reporting it back.
    virtual void ReferenceFolderChanged(const std::u16string& /*folder*/) {}
    // The output folder text changed (picker, drop).
    virtual void OutputFolderChanged(const std::u16string& /*folder*/) {}
    // The whole list is new (empty, or about to fill in batches).
    virtual void ListReset() {}
    // Rows [first, first + count) were appended.
    virtual void RowsAdded(std::size_t /*first*/, std::size_t /*count*/) {}
    // The cells of rows [first, first + count) changed (point counts).
    virtual void RowsChanged(std::size_t /*first*/, std::size_t /*count*/) {}
    // The rows were sorted: the row now at i was at oldOfNew[i] before. A
    // front end keeps its selection by mapping it through this.
    virtual void RowsReordered(const std::vector<std::size_t>& /*oldOfNew*/) {}
    // The listing of a folder has ended (every row and header is in).
    virtual void ListingFinished() {}
    // Every point count of the listed folder is in.
    virtual void CountsFinished() {}
    // Select exactly these rows and make `current` the current row (a
    // refresh keeps the selection; dropped files are selected).
    virtual void SelectRows(const std::vector<std::size_t>& /*rows*/, std::size_t /*current*/) {}
    // A run started or ended: the convert button reads "中止" while one runs,
    // and the controls that would change its input are disabled.
    virtual void RunStateChanged(bool /*running*/) {}
    // Progress of a run: `done` of `total` files have their result; the file
    // being converted (empty between files).
    virtual void ProgressChanged(std::size_t /*done*/, std::size_t /*total*/, const std::u16string& /*current*/) {}
    // A run ended and its messages and results have been shown.
    virtual void RunFinished() {}
    // A folder check failed: the keyboard focus goes to the output-folder button.
    virtual void FocusOutputFolder() {}
    // The window should close now (a close asked during a run, once it ended).
    virtual void CloseWindow() {}
};

// The results as tab-separated lines (name, reason) with CR LF, for the
// clipboard.
std::u16string CopyText(const std::u16string& summary, const std::vector<ResultRow>& rows);

}  // namespace tervalo::gui
