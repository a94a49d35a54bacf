#include "folder_tree.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>

#include "win_text.h"

namespace tervalo::win {

namespace {

template <class T>
void Release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

bool SameFolderName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring WithoutTrailingSeparator(std::wstring p) {
    while (p.size() > 3 && (p.back() == L'\\' || p.back() == L'/')) p.pop_back();
    return p;
}

}  // namespace

FolderTree::~FolderTree() {
    if (nstc_) {
        nstc_->RemoveAllRoots();
        Release(nstc_);
    }
}

bool FolderTree::Create(HWND parent, int id, bool forcePlain) {
    if (!forcePlain && CreateShell(parent)) return true;
    return CreatePlain(parent, id);
}

bool FolderTree::CreateShell(HWND parent) {
    INameSpaceTreeControl* tree = nullptr;
    if (FAILED(CoCreateInstance(CLSID_NamespaceTreeControl, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&tree))))
        return false;
    RECT rc{};
    // Expand buttons, the selection shown without focus, a border, a tab stop.
    const NSTCSTYLE style = NSTCS_HASEXPANDOS | NSTCS_SHOWSELECTIONALWAYS | NSTCS_BORDER | NSTCS_TABSTOP;
    if (FAILED(tree->Initialize(parent, &rc, style))) {
        Release(tree);
        return false;
    }
    PIDLIST_ABSOLUTE desktop = nullptr;
    IShellItem* root = nullptr;
    bool ok = SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop)) &&
              SUCCEEDED(SHCreateItemFromIDList(desktop, IID_PPV_ARGS(&root))) &&
              SUCCEEDED(tree->AppendRoot(root, SHCONTF_FOLDERS, NSTCRS_EXPANDED, nullptr));
    if (desktop) CoTaskMemFree(desktop);
    Release(root);
    HWND window = nullptr;
    IOleWindow* ole = nullptr;
    if (ok && SUCCEEDED(tree->QueryInterface(IID_PPV_ARGS(&ole)))) ole->GetWindow(&window);
    Release(ole);
    if (!ok || !window) {
        tree->RemoveAllRoots();
        Release(tree);
        return false;
    }
    nstc_ = tree;
    hwnd_ = window;
    return true;
}

HWND FolderTree::TreeView() const {
    if (!nstc_) return hwnd_;
    // The shell control draws its folders in a tree view of its own.
    HWND tv = FindWindowExW(hwnd_, nullptr, WC_TREEVIEWW, nullptr);
    return tv ? tv : hwnd_;
}

void FolderTree::Move(int x, int y, int w, int h) {
    if (hwnd_) MoveWindow(hwnd_, x, y, std::max(0, w), std::max(0, h), TRUE);
}

void FolderTree::Enable(bool on) {
    if (hwnd_) EnableWindow(hwnd_, on);
    if (HWND tv = TreeView(); tv && tv != hwnd_) EnableWindow(tv, on);
}

bool FolderTree::SelectPath(const std::u16string& path) {
    if (path.empty()) return false;
    const std::wstring wpath = WithoutTrailingSeparator(W(path));
    if (!nstc_) return SelectPlain(wpath);
    IShellItem* item = nullptr;
    if (FAILED(SHCreateItemFromParsingName(wpath.c_str(), nullptr, IID_PPV_ARGS(&item)))) return false;
    // The chain from the desktop down to the folder: each parent is
    // expanded in turn, so the folder is in the tree when it is selected.
    std::vector<IShellItem*> chain{item};
    for (IShellItem* cur = item; chain.size() < 256;) {
        IShellItem* parent = nullptr;
        if (FAILED(cur->GetParent(&parent)) || !parent) break;
        chain.push_back(parent);
        cur = parent;
    }
    for (std::size_t i = chain.size(); i-- > 1;) nstc_->SetItemState(chain[i], NSTCIS_EXPANDED, NSTCIS_EXPANDED);
    const bool ok = SUCCEEDED(nstc_->SetItemState(item, NSTCIS_SELECTED, NSTCIS_SELECTED));
    if (ok) nstc_->EnsureItemVisible(item);
    for (IShellItem* p : chain) p->Release();
    return ok;
}

std::u16string FolderTree::SelectedPath() const {
    if (!nstc_) {
        const auto item = reinterpret_cast<HTREEITEM>(SendMessageW(hwnd_, TVM_GETNEXTITEM, TVGN_CARET, 0));
        if (!item) return {};
        TVITEMW tvi{};
        tvi.mask = TVIF_PARAM;
        tvi.hItem = item;
        if (!SendMessageW(hwnd_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tvi))) return {};
        const auto index = static_cast<std::size_t>(tvi.lParam);
        return index < plainPaths_.size() ? U(plainPaths_[index]) : std::u16string();
    }
    IShellItemArray* items = nullptr;
    if (FAILED(nstc_->GetSelectedItems(&items)) || !items) return {};
    std::u16string path;
    IShellItem* item = nullptr;
    DWORD count = 0;
    if (SUCCEEDED(items->GetCount(&count)) && count > 0 && SUCCEEDED(items->GetItemAt(0, &item))) {
        PWSTR name = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &name)) && name) {
            path = U(name);
            CoTaskMemFree(name);
        }
        item->Release();
    }
    items->Release();
    return path;
}

// --- The plain tree view ------------------------------------------------------

bool FolderTree::CreatePlain(HWND parent, int id) {
    hwnd_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                TVS_SHOWSELALWAYS,
                            0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) return false;
    wchar_t drives[512];
    const DWORD n = GetLogicalDriveStringsW(static_cast<DWORD>(std::size(drives)), drives);
    for (const wchar_t* d = drives; n && n < std::size(drives) && *d; d += wcslen(d) + 1) AddPlain(TVI_ROOT, d, d);
    return true;
}

HTREEITEM FolderTree::AddPlain(HTREEITEM parent, const std::wstring& path, const std::wstring& label) {
    TVINSERTSTRUCTW ins{};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
    ins.item.pszText = const_cast<wchar_t*>(label.c_str());
    ins.item.lParam = static_cast<LPARAM>(plainPaths_.size());
    ins.item.cChildren = 1;  // told when it is expanded
    plainPaths_.push_back(path);
    plainFilled_.push_back(false);
    return reinterpret_cast<HTREEITEM>(SendMessageW(hwnd_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
}

void FolderTree::FillPlain(HTREEITEM item) {
    TVITEMW tvi{};
    tvi.mask = TVIF_PARAM;
    tvi.hItem = item;
    if (!SendMessageW(hwnd_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tvi))) return;
    const auto index = static_cast<std::size_t>(tvi.lParam);
    if (index >= plainPaths_.size() || plainFilled_[index]) return;
    plainFilled_[index] = true;
    std::wstring base = plainPaths_[index];
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileExW((base + L"*").c_str(), FindExInfoBasic, &fd, FindExSearchLimitToDirectories, nullptr, 0);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == L"." || name == L"..") continue;
            names.push_back(name);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
               CSTR_LESS_THAN;
    });
    for (const std::wstring& name : names) AddPlain(item, base + name, name);
    if (names.empty()) {
        tvi.mask = TVIF_CHILDREN;
        tvi.cChildren = 0;
        SendMessageW(hwnd_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tvi));
    }
}

bool FolderTree::SelectPlain(const std::wstring& path) {
    // The drive, then one folder name after another.
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == L':') {
        parts.push_back(path.substr(0, 2) + L"\\");
        start = 3;
    } else {
        return false;
    }
    while (start < path.size()) {
        std::size_t end = path.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    HTREEITEM parent = TVI_ROOT, found = nullptr;
    for (const std::wstring& part : parts) {
        if (parent != TVI_ROOT) {
            FillPlain(parent);
            SendMessageW(hwnd_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
        }
        found = nullptr;
        auto child = reinterpret_cast<HTREEITEM>(SendMessageW(
            hwnd_, TVM_GETNEXTITEM, parent == TVI_ROOT ? TVGN_ROOT : TVGN_CHILD, reinterpret_cast<LPARAM>(parent)));
        for (; child; child = reinterpret_cast<HTREEITEM>(
                          SendMessageW(hwnd_, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)))) {
            wchar_t text[MAX_PATH];
            TVITEMW tvi{};
            tvi.mask = TVIF_TEXT;
            tvi.hItem = child;
            tvi.pszText = text;
            tvi.cchTextMax = MAX_PATH;
            if (SendMessageW(hwnd_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tvi)) && SameFolderName(text, part)) {
                found = child;
                break;
            }
        }
        if (!found) return false;
        parent = found;
    }
    SendMessageW(hwnd_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(found));
    SendMessageW(hwnd_, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(found));
    return true;
}

bool FolderTree::OnNotify(const NMHDR* hdr, LRESULT& result) {
    if (nstc_ || hdr->hwndFrom != hwnd_) return false;
    if (hdr->code == TVN_ITEMEXPANDINGW) {
        const auto* tv = reinterpret_cast<const NMTREEVIEWW*>(hdr);
        if (tv->action & TVE_EXPAND) FillPlain(tv->itemNew.hItem);
        result = FALSE;
        return true;
    }
    return false;
}

}  // namespace tervalo::win
