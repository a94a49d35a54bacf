#include "dialogs.h"

#include <commctrl.h>

#include "convert/convert_options.h"
#include "placement.h"
#include "resource.h"
#include "settings_form.h"
#include "win_text.h"

namespace tervalo::win {

namespace {

struct SettingsState {
    int left, top;
    const std::function<void()>* beep;
    const std::function<void(HWND, const std::u16string&)>* refused;
    const std::function<void(HWND)>* opened;
};

bool Checked(HWND dlg, int id) { return IsDlgButtonChecked(dlg, id) == BST_CHECKED; }
void Check(HWND dlg, int id, bool on) { CheckDlgButton(dlg, id, on ? BST_CHECKED : BST_UNCHECKED); }

INT_PTR CALLBACK SettingsProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* st = reinterpret_cast<SettingsState*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG: {
            st = reinterpret_cast<SettingsState*>(lParam);
            SetWindowLongPtrW(dlg, DWLP_USER, lParam);
            RECT r;
            GetWindowRect(dlg, &r);
            const gui::Rect placed =
                gui::FitOntoScreens({st->left, st->top, r.right - r.left, r.bottom - r.top}, WorkAreas(), 100, 80);
            SetWindowPos(dlg, nullptr, placed.left, placed.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            HWND combo = GetDlgItem(dlg, IDC_MARKER);
            for (const char16_t* glyph : gui::kMarkerGlyphs)
                SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(glyph).c_str()));
            SendDlgItemMessageW(dlg, IDC_SCALE, EM_LIMITTEXT, 10, 0);
            const gui::SettingsForm f = gui::OpenSettingsForm(ConvertOptions);
            Check(dlg, IDC_CHECK1, f.makeMarker);
            Check(dlg, IDC_CHECK2, f.sxfDimensions);
            Check(dlg, IDC_CHECK3, f.blockContents);
            Check(dlg, IDC_CHECK4, f.convertMarkers);
            Check(dlg, IDC_CHECK5, f.convertMarkerEnds);
            SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(f.markerIndex), 0);
            SetText(GetDlgItem(dlg, IDC_SCALE), f.scaleText);
            CheckRadioButton(dlg, IDC_RADIO1, IDC_RADIO2, f.realToTemporary ? IDC_RADIO2 : IDC_RADIO1);
            SetFocus(GetDlgItem(dlg, IDOK));
            if (*st->opened) (*st->opened)(dlg);
            return FALSE;  // the focus is set
        }
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if ((id == IDC_RADIO1 || id == IDC_RADIO2) && HIWORD(wParam) == BN_CLICKED) {
                // The two radio buttons exclude each other across the groups.
                CheckRadioButton(dlg, IDC_RADIO1, IDC_RADIO2, id);
                return TRUE;
            }
            if (id == IDOK) {
                gui::SettingsForm f;
                f.realToTemporary = Checked(dlg, IDC_RADIO2);
                f.makeMarker = Checked(dlg, IDC_CHECK1);
                f.sxfDimensions = Checked(dlg, IDC_CHECK2);
                f.blockContents = Checked(dlg, IDC_CHECK3);
                f.convertMarkers = Checked(dlg, IDC_CHECK4);
                f.convertMarkerEnds = Checked(dlg, IDC_CHECK5);
                f.markerIndex = static_cast<int>(SendDlgItemMessageW(dlg, IDC_MARKER, CB_GETCURSEL, 0, 0));
                f.scaleText = WindowText(GetDlgItem(dlg, IDC_SCALE));
                const auto options = gui::AcceptSettingsForm(f, ConvertOptions);
                if (!options) {
                    if (*st->beep) (*st->beep)();
                    if (*st->refused) (*st->refused)(dlg, gui::kScaleRefusedText);
                    SetFocus(GetDlgItem(dlg, IDC_SCALE));
                    SendDlgItemMessageW(dlg, IDC_SCALE, EM_SETSEL, 0, -1);
                    return TRUE;
                }
                ConvertOptions = *options;
                EndDialog(dlg, IDOK);
                return TRUE;
            }
            if (id == IDCANCEL) {
                EndDialog(dlg, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        }
        case WM_MOVE:
        case WM_EXITSIZEMOVE:
            if (st) {
                RECT r;
                GetWindowRect(dlg, &r);
                st->left = r.left;
                st->top = r.top;
            }
            return FALSE;
        default: return FALSE;
    }
}

struct ResultsState {
    const std::u16string* summary;
    const std::vector<gui::ResultRow>* rows;
};

INT_PTR CALLBACK ResultsProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* st = reinterpret_cast<ResultsState*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG: {
            st = reinterpret_cast<ResultsState*>(lParam);
            SetWindowLongPtrW(dlg, DWLP_USER, lParam);
            SetText(GetDlgItem(dlg, IDC_RESULTS_TEXT), *st->summary);
            HWND list = GetDlgItem(dlg, IDC_RESULTS_LIST);
            ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
            RECT rc;
            GetClientRect(list, &rc);
            const wchar_t* captions[2] = {L"ファイル名", L"理由"};
            for (int c = 0; c < 2; ++c) {
                LVCOLUMNW col{};
                col.mask = LVCF_TEXT | LVCF_WIDTH;
                col.pszText = const_cast<wchar_t*>(captions[c]);
                col.cx = c == 0 ? rc.right / 3 : rc.right - rc.right / 3 - 4;
                SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
            }
            for (std::size_t i = 0; i < st->rows->size(); ++i) {
                std::wstring name = W((*st->rows)[i].name), reason = W((*st->rows)[i].reason);
                LVITEMW item{};
                item.mask = LVIF_TEXT;
                item.iItem = static_cast<int>(i);
                item.pszText = name.data();
                SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
                item.iSubItem = 1;
                item.pszText = reason.data();
                SendMessageW(list, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
            }
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_RESULTS_COPY) {
                const std::wstring text = W(gui::CopyText(*st->summary, *st->rows));
                if (OpenClipboard(dlg)) {
                    EmptyClipboard();
                    if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t))) {
                        memcpy(GlobalLock(mem), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
                        GlobalUnlock(mem);
                        if (!SetClipboardData(CF_UNICODETEXT, mem)) GlobalFree(mem);
                    }
                    CloseClipboard();
                }
                return TRUE;
            }
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dlg, IDOK);
                return TRUE;
            }
            return FALSE;
        default: return FALSE;
    }
}

}  // namespace

std::vector<gui::Rect> WorkAreas() {
    std::vector<gui::Rect> screens;
    EnumDisplayMonitors(
        nullptr, nullptr,
        [](HMONITOR m, HDC, LPRECT, LPARAM data) -> BOOL {
            MONITORINFO mi{sizeof mi};
            if (GetMonitorInfoW(m, &mi)) {
                const RECT& r = mi.rcWork;
                reinterpret_cast<std::vector<gui::Rect>*>(data)->push_back({r.left, r.top, r.right - r.left, r.bottom - r.top});
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&screens));
    return screens;
}

bool ShowSettingsDialog(HWND owner, int& left, int& top, const std::function<void()>& beep,
                        const std::function<void(HWND, const std::u16string&)>& refused,
                        const std::function<void(HWND)>& opened) {
    SettingsState st{left, top, &beep, &refused, &opened};
    const INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETTINGS), owner, SettingsProc,
                                      reinterpret_cast<LPARAM>(&st));
    left = st.left;
    top = st.top;
    return r == IDOK;
}

void ShowResultsDialog(HWND owner, const std::u16string& summary, const std::vector<gui::ResultRow>& rows) {
    ResultsState st{&summary, &rows};
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_RESULTS), owner, ResultsProc,
                    reinterpret_cast<LPARAM>(&st));
}

}  // namespace tervalo::win
