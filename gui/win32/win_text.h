// Text between the program's UTF-16 strings and the wide strings of the
// Windows API (wchar_t is 16 bits there, so the units are the same).
#pragma once

#include <windows.h>

#include <string>

namespace tervalo::win {

inline std::wstring W(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
inline std::u16string U(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }
inline std::u16string U(const wchar_t* s) { return s ? U(std::wstring(s)) : std::u16string(); }

// The text of a window (a control's caption or an edit box's contents).
inline std::u16string WindowText(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
    s.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, s.data(), n + 1)));
    return U(s);
}

inline void SetText(HWND hwnd, const std::u16string& text) { SetWindowTextW(hwnd, W(text).c_str()); }

}  // namespace tervalo::win
