// The arguments of the program and of each command, described once: the
// options they take, from which both the parse (CLI11) and the help are
// made. Every option accepts "--opt value", "--opt=value" and, for a short
// one, "-oVALUE"; short flags combine ("-rn"); "--" ends the options. An
// option that needs a value never takes another option as one ("-o --size"
// is a missing value), and a flag takes none ("--json=yes" is refused).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tervalo::cli {

class CommandLine {
public:
    // `command` names the command in the usage line and in messages
    // ("convert"; empty for the program itself). The description and the
    // footer frame the help; `operands` is the usage line's tail ("PATH...").
    CommandLine(const std::string& command, const std::string& description, const std::string& operands,
                const std::string& footer);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // The options defined after this are listed under this heading.
    CommandLine& Group(const std::string& heading);
    // A flag, e.g. "-r,--recursive".
    CommandLine& Flag(const std::string& names, bool& target, const std::string& help);
    // An option with a value, shown as `valueName` in the help. `needs`
    // completes the message for a missing value: "-o needs a folder". The
    // last of several is taken.
    CommandLine& Value(const std::string& names, std::optional<std::string>& target, const std::string& valueName,
                       const std::string& needs, const std::string& help);
    // --version prints the program's version.
    CommandLine& VersionFlag();
    // The program's own command line: a command listed in the help. Parsing
    // stops at the first operand, which with everything after it is left to
    // that command.
    CommandLine& Command(const std::string& name, const std::string& summary);

    // Reads the arguments; the operands (everything not an option, and all
    // after "--") go to `operands`. Nothing when the command is to run;
    // otherwise its exit status, once the help or the version is printed or
    // a usage error reported.
    std::optional<int> Parse(const std::vector<std::string>& args, std::vector<std::string>& operands);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tervalo::cli
