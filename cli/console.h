// What the command line and the console look like to the program, on every
// platform alike: arguments as UTF-8 strings, paths in the platform's own
// spelling, and lines of UTF-8 text written as they are (no newline
// translation) or, to a console window, as the characters they stand for.
// One implementation per platform: console_posix.cpp, console_win32.cpp.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tervalo::cli::console {

// Readies standard output and standard error for the program's text.
void Start();

// The program's arguments (without the program name) as UTF-8. An argument
// that no UTF-8 text can hold exactly stays invalid UTF-8, so it is refused
// as such rather than changed.
std::vector<std::string> Arguments(int argc, char** argv);

// Writes UTF-8 text to standard output or standard error and passes it on at
// once (a reader of a pipe sees each line as soon as it is printed). False
// when it could not be written.
bool Write(std::FILE* stream, const std::string& utf8);

// True when the stream is a terminal or console window (for progress lines).
bool IsTerminal(std::FILE* stream);

// The path text in the platform's own spelling: on Windows '/' becomes '\',
// so messages show paths the way the system does.
std::u16string NativePathText(std::u16string path);

}  // namespace tervalo::cli::console
