// tervalo-cli: converts the points of Jw_cad drawings (.jww) and figures
// (.jws) between temporary and real points, and reports what files hold.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli_common.h"
#include "console.h"
#include "text/encoding.h"

namespace tervalo::cli {

namespace {

const char kMainUsage[] =
    "Usage: tervalo-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "Converts the points of Jw_cad drawings (.jww) and figures (.jws) between\n"
    "temporary and real points, and reports what Jw_cad files hold.\n"
    "\n"
    "Commands:\n"
    "  info [--json] FILE...      report the contents of each file\n"
    "  convert [OPTIONS] PATH...  convert files and folders into an output folder\n"
    "  render FILE -o OUT.svg     draw a drawing and its points as a picture\n"
    "  generate [OPTIONS] -o FILE write a generated drawing (benchmarks, tests)\n"
    "\n"
    "Options:\n"
    "  --help      show this help (also: tervalo-cli COMMAND --help)\n"
    "  --version   show the version\n";

}  // namespace

void Out(const std::string& line) { console::Write(stdout, line + "\n"); }

void Err(const std::string& line) {
    std::fflush(stdout);
    console::Write(stderr, line + "\n");
}

void PrintVersion() { Out(std::string(kProgram) + " " + TERVALO_VERSION); }

int UsageError(const std::string& message) {
    Err(std::string(kProgram) + ": " + message + " (see 'tervalo-cli --help')");
    return kExitUsage;
}

bool ArgToText(const std::string& arg, std::u16string& text) {
    const std::u16string decoded = Utf8ToUtf16(arg);
    text = console::NativePathText(decoded);
    return Utf16ToUtf8(decoded) == arg;
}

std::string ToUtf8(const std::u16string& text) { return Utf16ToUtf8(text); }

}  // namespace tervalo::cli

namespace {

int Dispatch(const std::string& command, const std::vector<std::string>& rest) {
    using namespace tervalo::cli;
    int rc;
    if (command == "--help" || command == "-h") {
        console::Write(stdout, kMainUsage);
        rc = kExitOk;
    } else if (command == "--version") {
        PrintVersion();
        rc = kExitOk;
    } else if (command == "info") {
        rc = RunInfo(rest);
    } else if (command == "convert") {
        rc = RunConvert(rest);
    } else if (command == "render") {
        rc = RunRender(rest);
    } else if (command == "generate") {
        rc = RunGenerate(rest);
    } else {
        rc = UsageError("unknown command '" + command + "'");
    }
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tervalo::cli;
    console::Start();
    std::vector<std::string> args = console::Arguments(argc, argv);
    if (args.empty()) return UsageError("no command given");
    const std::string& command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    int rc;
    try {
        rc = Dispatch(command, rest);
    } catch (const std::bad_alloc&) {
        Err(std::string(kProgram) + ": not enough memory");
        rc = kExitFailed;
    } catch (const std::exception& e) {
        Err(std::string(kProgram) + ": " + e.what());
        rc = kExitFailed;
    }
    // Results that did not reach their reader (a full disk, a closed standard
    // output) make the run a failure, even when every file was converted.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int e = errno;
        Err(std::string(kProgram) + ": cannot write the results to standard output" +
            (e ? std::string(": ") + std::strerror(e) : std::string()));
        if (rc == kExitOk) rc = kExitFailed;
    }
    return rc;
}
