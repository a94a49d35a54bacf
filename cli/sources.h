// What the commands share besides output: collecting the files named on the
// command line (folders, recursion, lists read from a file or standard
// input), the language of the messages, and text made safe for one line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "convert/batch.h"
#include "fs/platform.h"

namespace tervalo::cli {

enum class Language { English, Japanese };

// Japanese where the locale's language is Japanese (LC_ALL, LC_MESSAGES or
// LANG, the first one set), English otherwise.
Language UserLanguage();

// The text in UTF-8 with control characters escaped (\n, \r, \t, \xHH), so
// that every name and memo stays on its line.
std::string OneLine(const std::u16string& text);

// True when standard error is a terminal (for progress lines).
bool StderrIsTerminal();

// Reads a list of paths, one per line (or separated by NUL bytes), from a
// file or, for "-", from standard input. Empty entries are skipped. False
// with a reason when the list cannot be read.
bool ReadPathList(const std::string& from, bool nulSeparated, std::vector<std::string>& out, std::string& error);

struct CollectOptions {
    std::vector<std::u16string> extensions;  // lower-cased, with the dot
    bool recursive = false;
    // A folder that is never entered (the output folder inside a tree).
    std::optional<platform::FileId> skipFolder;
};

// The files of the extensions in `folder` (sorted by name), and with
// `recursive` those of its subfolders (each after the files of its parent,
// sorted by name; links to folders are not followed), with their subfolder
// below `folder`. Names that are not valid UTF-8 are taken and flagged. A
// folder that cannot be read is named in `errors`.
void CollectFolder(const std::u16string& folder, const CollectOptions& options, std::vector<BatchItem>& items,
                   std::vector<std::string>& errors);

// A name in a folder, joined with the platform's own separator ('\\' on
// Windows) unless the folder ends in one: the paths the commands show.
std::u16string JoinShown(const std::u16string& folder, const std::u16string& name);

// The folder part and the name of a file path (either separator); a path
// without a folder is read from the current directory.
BatchItem ItemOfFile(const std::u16string& path);

}  // namespace tervalo::cli
