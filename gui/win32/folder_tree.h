// The folder tree: the shell's name-space tree control (folders only,
// rooted at the desktop), or, where that control cannot be created, a plain
// tree view of the drives and their folders. Either way the window selects
// a folder by expanding its parents one by one and tells the path of the
// folder selected now; the main window polls it.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>

#include <string>
#include <vector>

namespace tervalo::win {

class FolderTree {
public:
    FolderTree() = default;
    ~FolderTree();
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;

    // Creates the tree as a child of `parent`; `forcePlain` skips the shell
    // control (the fallback is then tested too). False when neither works.
    bool Create(HWND parent, int id, bool forcePlain = false);
    // The window to place; the shell control's own tree view inside it, or
    // the plain tree view.
    HWND Window() const { return hwnd_; }
    HWND TreeView() const;
    bool IsShellTree() const { return nstc_ != nullptr; }
    void Move(int x, int y, int w, int h);
    void Enable(bool on);

    // Selects the folder, expanding its parents one by one; false when it
    // cannot be reached.
    bool SelectPath(const std::u16string& path);
    // The file-system path of the folder selected now; empty when none is
    // (or a virtual folder without one is).
    std::u16string SelectedPath() const;

    // The plain tree view's notices (expanding fills in the subfolders);
    // true when handled.
    bool OnNotify(const NMHDR* hdr, LRESULT& result);

private:
    bool CreateShell(HWND parent);
    bool CreatePlain(HWND parent, int id);
    HTREEITEM AddPlain(HTREEITEM parent, const std::wstring& path, const std::wstring& label);
    void FillPlain(HTREEITEM item);
    bool SelectPlain(const std::wstring& path);

    HWND hwnd_ = nullptr;
    INameSpaceTreeControl* nstc_ = nullptr;
    std::vector<std::wstring> plainPaths_;  // by item lParam
    std::vector<bool> plainFilled_;
};

}  // namespace tervalo::win
