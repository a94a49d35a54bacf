// The command lines, read with CLI11. CLI11 itself takes whatever follows an
// option as its value ("-o --size" would write to "--size") and reads a flag
// given "=no" as false; both are checked before it reads the arguments. The
// operands are left to CLI11's remaining arguments rather than given to a
// positional option, which would split an operand such as "[a,b]" in two.
#include "arguments.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>
#include <utility>

#include "cli_common.h"
#include "console.h"

namespace tervalo::cli {

namespace {

// The help: the usage line first, then the description, the options by
// group ("-o, --output DIR" and what it does), the commands and the footer.
class HelpFormatter : public CLI::Formatter {
public:
    explicit HelpFormatter(std::string operands) : operands_(std::move(operands)) { column_width(26); }

    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
        std::string help = make_usage(app, name) + "\n" + make_description(app);
        for (const std::string& group : app->get_groups()) {
            const auto options = app->get_options([&](const CLI::Option* o) { return o->get_group() == group; });
            if (!options.empty()) help += make_group(group, false, options);
        }
        help += make_subcommands(app, mode);
        return help + "\n" + make_footer(app);
    }
    std::string make_usage(const CLI::App*, std::string name) const override {
        return "Usage: " + name + " [OPTIONS]" + (operands_.empty() ? "" : " " + operands_) + "\n";
    }
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        std::string names = Formatter::make_option_name(option, positional);
        for (std::size_t p = 0; (p = names.find(',', p)) != std::string::npos; p += 2) names.insert(p + 1, " ");
        return names;
    }

private:
    std::string operands_;
};

// What CLI11 reads as an option, known or not, rather than as an operand or
// a value: "--x...", "-x..."; "-5" is a number unless -5 is an option.
bool OptionLike(const CLI::App& app, const std::string& arg) {
    auto first = [](char c) { return c != '-' && c != '!' && c != ' ' && c != '\n'; };
    if (arg.size() > 2 && arg[0] == '-' && arg[1] == '-') return first(arg[2]);
    if (arg.size() < 2 || arg[0] != '-' || !first(arg[1])) return false;
    return arg[1] < '0' || arg[1] > '9' || app.get_option_no_throw(arg.substr(0, 2)) != nullptr;
}

bool TakesValue(const CLI::Option& option) { return option.get_items_expected_max() > 0; }

}  // namespace

struct CommandLine::Impl {
    CLI::App app;
    std::string prefix;  // "convert: " before each message
    std::string group = "Options";
    std::map<const CLI::Option*, std::string> needs;
    bool commands = false;

    Impl(const std::string& name, const std::string& description) : app(description, name) {}

    std::string Missing(const std::string& name, const CLI::Option& option) const {
        return name + " needs " + needs.at(&option);
    }

    // Each option that needs a value and is given without "=" is followed by
    // one: not by another option, not by "--", not by the end. A flag takes no
    // "=value". Options CLI11 does not know are left for it to report.
    std::optional<std::string> CheckValues(const std::vector<std::string>& args) const {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            if (a == "--") break;
            if (!OptionLike(app, a)) {
                if (commands) break;  // the rest is the command's
                continue;
            }
            std::string name;
            const CLI::Option* option = nullptr;
            if (a[1] == '-') {
                const std::size_t eq = a.find('=');
                name = a.substr(0, eq);
                option = app.get_option_no_throw(name);
                if (!option) continue;
                if (eq != std::string::npos) {
                    if (!TakesValue(*option)) return name + " takes no value";
                    if (eq + 1 == a.size()) return Missing(name, *option);
                    continue;
                }
                if (!TakesValue(*option)) continue;
            } else {
                // "-r", short flags together ("-rn"), the last one perhaps
                // taking the rest or the next argument ("-oDIR", "-rno DIR").
                std::size_t k = 1;
                for (; k < a.size(); ++k) {
                    option = app.get_option_no_throw(std::string("-") + a[k]);
                    if (!option || TakesValue(*option)) break;
                }
                if (!option || !TakesValue(*option) || k + 1 < a.size()) continue;
                name = std::string("-") + a[k];
            }
            if (i + 1 == args.size() || args[i + 1] == "--" || OptionLike(app, args[i + 1])) return Missing(name, *option);
            ++i;
        }
        return std::nullopt;
    }
};

CommandLine::CommandLine(const std::string& command, const std::string& description, const std::string& operands,
                         const std::string& footer)
    : impl_(std::make_unique<Impl>(command.empty() ? std::string(kProgram) : std::string(kProgram) + " " + command,
                                   description)) {
    CLI::App& app = impl_->app;
    impl_->prefix = command.empty() ? std::string() : command + ": ";
    app.set_help_flag();  // added last, in Parse, to stand at the end of the help
    app.allow_extras();
    // The same on every platform: on Windows, CLI11 would read "/r" (a path
    // with '/' as separator) as -r.
    app.allow_windows_style_options(false);
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.formatter(std::make_shared<HelpFormatter>(operands));
    app.footer(footer);
}

CommandLine::~CommandLine() = default;

CommandLine& CommandLine::Group(const std::string& heading) {
    impl_->group = heading;
    return *this;
}

CommandLine& CommandLine::Flag(const std::string& names, bool& target, const std::string& help) {
    impl_->app.add_flag(names, target, help)->group(impl_->group);
    return *this;
}

CommandLine& CommandLine::Value(const std::string& names, std::optional<std::string>& target,
                                const std::string& valueName, const std::string& needs, const std::string& help) {
    CLI::Option* option =
        impl_->app.add_option_function<std::string>(names, [&target](const std::string& v) { target = v; }, help);
    option->type_name(valueName)->group(impl_->group);
    impl_->needs[option] = needs;
    return *this;
}

CommandLine& CommandLine::VersionFlag() {
    impl_->app.set_version_flag("--version", std::string(), "show the version")->group(impl_->group);
    return *this;
}

CommandLine& CommandLine::Command(const std::string& name, const std::string& summary) {
    // Listed in the help only: the command reads its own arguments.
    impl_->app.add_subcommand(name, summary)->group("Commands")->disabled();
    impl_->app.prefix_command();
    impl_->commands = true;
    return *this;
}

std::optional<int> CommandLine::Parse(const std::vector<std::string>& args, std::vector<std::string>& operands) {
    Impl& m = *impl_;
    m.app.set_help_flag("-h,--help", "show this help")->group(m.group);
    if (auto problem = m.CheckValues(args)) return UsageError(m.prefix + *problem);
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 reads from the back
    try {
        m.app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        console::Write(stdout, m.app.help());
        return kExitOk;
    } catch (const CLI::CallForVersion&) {
        PrintVersion();
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        return UsageError(m.prefix + e.what());
    }
    // What CLI11 did not take, in order: unknown options, operands, "--"
    // and, for the program, the command and its arguments as they are.
    bool optionsEnded = false;
    for (const std::string& a : m.app.remaining()) {
        if (m.commands && !operands.empty()) {
            operands.push_back(a);
        } else if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && OptionLike(m.app, a)) {
            return UsageError(m.prefix + "unknown option '" + a + "'");
        } else {
            operands.push_back(a);
        }
    }
    return std::nullopt;
}

}  // namespace tervalo::cli
