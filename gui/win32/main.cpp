// tervalo.exe: the Windows desktop program.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <string>

#include "main_window.h"
#include "win_text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    std::wstring exe(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
        if (n < exe.size()) {
            exe.resize(n);
            break;
        }
        exe.resize(exe.size() * 2);
    }
    tervalo::win::MainWindow::Options options;
    options.settings = tervalo::win::SettingsLocationOf(tervalo::win::U(exe));
    int rc = 1;
    {
        tervalo::win::MainWindow window(options, tervalo::win::Services::Desktop());
        if (window.Create(show)) rc = tervalo::win::MainWindow::MessageLoop(window.Handle());
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return rc;
}
