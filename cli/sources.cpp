#include "sources.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "cli_common.h"
#include "console.h"
#include "fs/fsutil.h"

namespace tervalo::cli {

namespace {

namespace stdfs = std::filesystem;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// `folder` is the folder as shown, `dir` its path.
void Walk(const std::u16string& folder, const stdfs::path& dir, const stdfs::path& subfolder,
          const CollectOptions& options, std::vector<BatchItem>& items, std::vector<std::string>& errors) {
    std::vector<platform::FolderEntry> entries;
    std::error_code ec;
    if (dir.empty()) ec = std::make_error_code(std::errc::invalid_argument);
    else ec = platform::ListFolder(dir, entries);
    if (ec) {
        errors.push_back("cannot read the folder " + OneLine(folder) + ": " + platform::ErrorText(ec));
        return;
    }
    std::vector<BatchItem> files;
    struct Folder {
        std::u16string name;  // as shown
        stdfs::path onDisk;
        bool validText;
        bool operator<(const Folder& o) const { return name < o.name; }
    };
    std::vector<Folder> folders;
    for (const platform::FolderEntry& entry : entries) {
        const std::u16string name = platform::TextFromPath(entry.name);
        platform::NodeInfo info;
        // A plain file by the listing needs no look of its own.
        if (entry.listedKind == platform::NodeKind::Regular) {
            info.kind = platform::NodeKind::Regular;
        } else if (const std::error_code look = platform::Inspect(dir / entry.name, true, info)) {
            // Never passed over in silence: a name deeper than the system's
            // path limit, or one that cannot be looked at, is reported.
            errors.push_back("cannot read " + OneLine(JoinShown(folder, name)) + ": " + platform::ErrorText(look));
            continue;
        }
        if (info.kind == platform::NodeKind::Regular) {
            const std::u16string ext = ExtLower(name);
            if (std::find(options.extensions.begin(), options.extensions.end(), ext) == options.extensions.end())
                continue;
            files.emplace_back(dir, name, !entry.validText, subfolder);
        } else if (info.kind == platform::NodeKind::Directory && options.recursive) {
            platform::NodeInfo self;
            // Links to folders are not followed: no loops, nothing outside the tree.
            if (const std::error_code look = platform::Inspect(dir / entry.name, false, self)) {
                errors.push_back("cannot read " + OneLine(JoinShown(folder, name)) + ": " + platform::ErrorText(look));
                continue;
            }
            if (self.kind != platform::NodeKind::Directory) continue;
            if (options.skipFolder && info.id == *options.skipFolder) continue;
            folders.push_back({name, entry.name, entry.validText});
        }
    }
    std::sort(files.begin(), files.end(), [](const BatchItem& a, const BatchItem& b) { return a.name < b.name; });
    std::sort(folders.begin(), folders.end());
    items.insert(items.end(), files.begin(), files.end());
    for (const Folder& f : folders) {
        if (!f.validText) {
            errors.push_back("cannot read the folder " + OneLine(JoinShown(folder, f.name)) +
                             ": its name is not valid UTF-8");
            continue;
        }
        Walk(JoinShown(folder, f.name), dir / f.onDisk, subfolder / f.onDisk, options, items, errors);
    }
}

}  // namespace

std::u16string JoinShown(const std::u16string& folder, const std::u16string& name) {
    if (folder.empty()) return name;
    if (IsSeparator(folder.back())) return folder + name;
    return folder + DirectorySeparator() + name;
}

Language UserLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        const std::string v = value;
        return v.rfind("ja", 0) == 0 ? Language::Japanese : Language::English;
    }
    return Language::English;
}

std::string OneLine(const std::u16string& text) {
    std::u16string safe;
    safe.reserve(text.size());
    static const char16_t kHex[] = u"0123456789abcdef";
    for (char16_t c : text) {
        if (c >= 0x20 && c != 0x7F) {
            safe.push_back(c);
            continue;
        }
        safe.push_back(u'\\');
        switch (c) {
            case u'\n': safe.push_back(u'n'); break;
            case u'\r': safe.push_back(u'r'); break;
            case u'\t': safe.push_back(u't'); break;
            default:
                safe.push_back(u'x');
                safe.push_back(kHex[(c >> 4) & 0xF]);
                safe.push_back(kHex[c & 0xF]);
        }
    }
    return ToUtf8(safe);
}

bool StderrIsTerminal() { return console::IsTerminal(stderr); }

bool ReadPathList(const std::string& from, bool nulSeparated, std::vector<std::string>& out, std::string& error) {
    std::FILE* f = from == "-" ? stdin : std::fopen(from.c_str(), "rb");
    if (!f) {
        error = "cannot open the list " + from;
        return false;
    }
    const char end = nulSeparated ? '\0' : '\n';
    std::string entry;
    for (int c; (c = std::fgetc(f)) != EOF;) {
        if (static_cast<char>(c) != end) {
            entry.push_back(static_cast<char>(c));
            continue;
        }
        if (!nulSeparated && !entry.empty() && entry.back() == '\r') entry.pop_back();
        if (!entry.empty()) out.push_back(entry);
        entry.clear();
    }
    if (!nulSeparated && !entry.empty() && entry.back() == '\r') entry.pop_back();
    if (!entry.empty()) out.push_back(entry);
    const bool failed = std::ferror(f) != 0;
    if (f != stdin) std::fclose(f);
    if (failed) error = "cannot read the list " + from;
    return !failed;
}

void CollectFolder(const std::u16string& folder, const CollectOptions& options, std::vector<BatchItem>& items,
                   std::vector<std::string>& errors) {
    stdfs::path dir;
    if (!platform::PathFromText(folder, dir)) dir.clear();
    Walk(folder, dir, {}, options, items, errors);
}

BatchItem ItemOfFile(const std::u16string& path) {
    // The platform's own rules say where the folder part ends ('/' and, on
    // Windows, '\\' and a drive's colon).
    std::filesystem::path p;
    if (!platform::PathFromText(path, p)) return {".", path};
    std::filesystem::path folder = p.parent_path();
    const std::u16string name = platform::TextFromPath(p.filename());
    if (folder.empty()) return {".", name};
    // "C:plan.jww" is plan.jww in the current folder of drive C.
    if (folder.native().back() == std::filesystem::path::value_type(':')) folder += ".";
    return {folder, name};
}

}  // namespace tervalo::cli
