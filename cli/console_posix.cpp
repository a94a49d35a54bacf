// The command line and the console on POSIX systems: arguments and output
// are bytes, taken and written as they are.
#include "console.h"

#include <unistd.h>

namespace tervalo::cli::console {

void Start() {
    // Lines reach a pipe as they are printed, so a reader sees each file's
    // line as soon as it is done.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

bool Write(std::FILE* stream, const std::string& utf8) {
    return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
}

std::u16string NativePathText(std::u16string path) { return path; }

}  // namespace tervalo::cli::console
