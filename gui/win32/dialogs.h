// The program's modal dialogs: the conversion settings and the list of the
// files a run did not convert.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "front_end.h"
#include "placement.h"

namespace tervalo::win {

// The work areas of the screens, for placing windows (gui::FitOntoScreens).
std::vector<gui::Rect> WorkAreas();

// Shows the settings dialog over `owner` at (left, top) (fitted onto the
// screens) and edits ConvertOptions; OK with a refused scale beeps, says why
// and stays open. The dialog's last position comes back in left and top.
// `opened` is called with the dialog before the user can use it. True when
// closed with OK.
bool ShowSettingsDialog(HWND owner, int& left, int& top, const std::function<void()>& beep,
                        const std::function<void(HWND, const std::u16string&)>& refused,
                        const std::function<void(HWND)>& opened);

// The files a run did not convert, with a button that copies the list.
void ShowResultsDialog(HWND owner, const std::u16string& summary, const std::vector<gui::ResultRow>& rows);

}  // namespace tervalo::win
