// Shared pieces of the command-line front end: exit codes, output, and the
// conversion of arguments to the program's UTF-16 paths.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tervalo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // some file could not be read or converted
inline constexpr int kExitUsage = 2;   // bad arguments

inline constexpr char kProgram[] = "tervalo-cli";

// Prints a line to standard output or standard error (UTF-8).
void Out(const std::string& line);
void Err(const std::string& line);
// Prints "tervalo-cli VERSION".
void PrintVersion();
// Prints "tervalo-cli: <message>" to standard error and returns kExitUsage.
int UsageError(const std::string& message);

// An argument as UTF-16; false when it is not valid UTF-8 (such a name cannot
// be handled by the program's paths).
bool ArgToText(const std::string& arg, std::u16string& text);

std::string ToUtf8(const std::u16string& text);

// A marker glyph (name, glyph or index 0..6) and a marker scale as given on
// the command line; nothing when the text is not one.
std::optional<int> ParseMarker(const std::string& value);
std::optional<double> ParseScale(const std::string& value);

int RunInfo(const std::vector<std::string>& args);
int RunRender(const std::vector<std::string>& args);
int RunConvert(const std::vector<std::string>& args);
int RunGenerate(const std::vector<std::string>& args);

}  // namespace tervalo::cli
