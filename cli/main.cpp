// tervalo-cli: converts the points of Jw_cad drawings (.jww) and figures
// (.jws) between temporary and real points, and reports what files hold.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "arguments.h"
#include "cli_common.h"
#include "console.h"
#include "text/encoding.h"

namespace tervalo::cli {

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

struct Command {
    const char* name;
    const char* summary;
    int (*run)(const std::vector<std::string>&);
};

const Command kCommands[] = {
    {"info", "report the contents of each file", tervalo::cli::RunInfo},
    {"convert", "convert files and folders into an output folder", tervalo::cli::RunConvert},
    {"render", "draw a drawing and its points as a picture", tervalo::cli::RunRender},
    {"generate", "write a generated drawing (benchmarks, tests)", tervalo::cli::RunGenerate},
};

int Dispatch(const std::vector<std::string>& args) {
    using namespace tervalo::cli;
    CommandLine line("",
                     "Converts the points of Jw_cad drawings (.jww) and figures (.jws) between\n"
                     "temporary and real points, and reports what Jw_cad files hold.",
                     "COMMAND [ARGUMENTS]", "'tervalo-cli COMMAND --help' shows the options of a command.");
    for (const Command& c : kCommands) line.Command(c.name, c.summary);
    line.VersionFlag();
    std::vector<std::string> command;
    if (auto rc = line.Parse(args, command)) return *rc;
    if (command.empty()) return UsageError("no command given");
    for (const Command& c : kCommands)
        if (command[0] == c.name) return c.run(std::vector<std::string>(command.begin() + 1, command.end()));
    return UsageError("unknown command '" + command[0] + "'");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tervalo::cli;
    console::Start();
    const std::vector<std::string> args = console::Arguments(argc, argv);
    int rc;
    try {
        rc = Dispatch(args);
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
