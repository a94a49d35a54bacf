// The command line and the console on Windows. Arguments are taken from the
// UTF-16 command line (the narrow argv is in the ANSI code page and loses
// every character outside it). Output is written in binary mode, so "\n"
// stays "\n" in files and pipes; to a console window, text goes through
// WriteConsoleW, which shows Japanese whatever the console's code page.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>

#include "console.h"
#include "text/encoding.h"

namespace tervalo::cli::console {

namespace {

// UTF-8 of UTF-16 text; an unpaired surrogate (possible in Windows file
// names) is written in the generalised form (ED A0 80 ...) that UTF-8
// readers reject, so such an argument is refused instead of altered.
std::string Utf8OfArgument(const wchar_t* w) {
    std::u16string text;
    for (; *w; ++w) text.push_back(static_cast<char16_t>(*w));
    std::string out;
    for (std::size_t i = 0; i < text.size();) AppendUtf8(out, NextCodePoint(text, i));
    return out;
}

HANDLE ConsoleOf(std::FILE* stream) {
    const intptr_t h = _get_osfhandle(_fileno(stream));
    if (h == -1) return nullptr;
    DWORD mode = 0;
    return ::GetConsoleMode(reinterpret_cast<HANDLE>(h), &mode) ? reinterpret_cast<HANDLE>(h) : nullptr;
}

}  // namespace

void Start() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

std::vector<std::string> Arguments(int, char**) {
    std::vector<std::string> args;
    int n = 0;
    wchar_t** wargv = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    if (!wargv) return args;
    for (int i = 1; i < n; ++i) args.push_back(Utf8OfArgument(wargv[i]));
    ::LocalFree(wargv);
    return args;
}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

bool Write(std::FILE* stream, const std::string& utf8) {
    if (HANDLE console = ConsoleOf(stream)) {
        std::fflush(stream);
        const std::u16string text = Utf8ToUtf16(utf8);
        std::size_t done = 0;
        while (done < text.size()) {
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 8192));
            DWORD wrote = 0;
            if (!::WriteConsoleW(console, text.data() + done, want, &wrote, nullptr) || wrote == 0) return false;
            done += wrote;
        }
        return true;
    }
    const bool ok = std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
    return std::fflush(stream) == 0 && ok;
}

std::u16string NativePathText(std::u16string path) {
    for (char16_t& c : path)
        if (c == u'/') c = u'\\';
    return path;
}

}  // namespace tervalo::cli::console
