#include "convert/batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "convert/file_convert.h"
#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "text/func.h"

namespace tervalo {

namespace {

namespace fs = std::filesystem;

bool IsConvertedKind(const std::u16string& ext) { return ext == u".jww" || ext == u".jws"; }
bool IsListedKind(const std::u16string& ext) {
    return IsConvertedKind(ext) || ext == u".jwc" || ext == u".jwk";
}

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
    if (folder.empty()) return name;
    if (folder.back() == u'/') return folder + name;
    return folder + u"/" + name;
}

std::u16string WithTrailingSeparator(const std::u16string& folder) {
    if (!folder.empty() && folder.back() == u'/') return folder;
    return folder + u"/";
}

// The directory a text names, with ".", ".." and links resolved as far as
// they exist, and without a trailing separator.
fs::path NormalFolder(const std::u16string& folder) {
    std::error_code ec;
    fs::path p(NativePath(folder));
    fs::path absolute = fs::absolute(p, ec);
    if (ec) return p.lexically_normal();
    fs::path canonical = fs::weakly_canonical(absolute, ec);
    fs::path normal = (ec ? absolute : canonical).lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
    return normal;
}

// True when both paths exist and lead to the same file.
bool SameExistingFile(const std::u16string& a, const std::u16string& b) {
    std::error_code ec;
    bool same = fs::equivalent(fs::path(NativePath(a)), fs::path(NativePath(b)), ec);
    return !ec && same;
}

// The identity of an existing file (links followed), to recognise one file
// under several names without comparing every pair of paths.
struct FileId {
    dev_t device;
    ino_t inode;
    bool operator==(const FileId&) const = default;
};

std::optional<FileId> IdOf(const std::u16string& path) {
    std::string native = NativePath(path);
    struct stat st {};
    if (native.empty() || native.find('\0') != std::string::npos || ::stat(native.c_str(), &st) != 0)
        return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

// Paths already used by the run, recognised by their text or, once they
// exist, by the file they lead to.
class PathSet {
public:
    // Adds a path whose file stays as it is for the rest of the run.
    void Add(const std::u16string& path) {
        texts_.push_back(path);
        Refresh(path);
    }
    // Adds a path by its text only (its file is about to be replaced, and the
    // identity of a replaced file may be given to another one).
    void AddText(const std::u16string& path) { texts_.push_back(path); }
    // Records the file a path leads to now.
    void Refresh(const std::u16string& path) {
        if (auto id = IdOf(path)) ids_.push_back(*id);
    }
    bool Contains(const std::u16string& path) const {
        if (std::find(texts_.begin(), texts_.end(), path) != texts_.end()) return true;
        auto id = IdOf(path);
        return id && std::find(ids_.begin(), ids_.end(), *id) != ids_.end();
    }

private:
    std::vector<std::u16string> texts_;
    std::vector<FileId> ids_;
};

// Copies the target to its backup and checks that the copy holds the same bytes.
bool MakeBackup(const std::u16string& target, const std::u16string& backup) {
    CopyFileWithTimes(target, backup);
    Bytes original, copy;
    if (!ReadWholeFile(target, original) || !ReadWholeFile(backup, copy)) return false;
    return FileFound(backup) && original == copy;
}

class Run {
public:
    Run(const BatchJob& job, BatchContainers containers, BatchReporter& reporter)
        : job_(job), containers_(containers), reporter_(reporter) {
        for (const BatchItem& item : job.items) {
            std::u16string source = JoinPath(item.folder, item.name);
            if (FileFound(source)) sources_.Add(source);
        }
    }

    BatchFileResult ConvertItem(const BatchItem& item) {
        BatchFileResult r;
        r.name = item.name;
        r.ext = ExtLower(item.name);
        r.source = JoinPath(item.folder, item.name);
        r.target = JoinPath(job_.outputFolder, item.name);
        if (!IsListedKind(r.ext)) {
            r.outcome = FileOutcome::UnsupportedExtension;
            r.reason = NotConvertedReason::UnsupportedExtension;
            reporter_.Message(UnsupportedExtensionMessage(r.name, r.ext));
            return r;
        }
        reporter_.Status(ConvertingStatusText(r.source, r.target));
        reporter_.ConvertBegin();
        r.reason = Convert(r);
        r.outcome = r.reason == NotConvertedReason::None ? FileOutcome::Converted : FileOutcome::NotConverted;
        reporter_.ConvertEnd();
        reporter_.Status(u"");
        return r;
    }

private:
    NotConvertedReason Convert(BatchFileResult& r) {
        using R = NotConvertedReason;
        if (!IsConvertedKind(r.ext)) return R::KindNotConverted;
        if (!FileFound(r.source)) return R::SourceMissing;
        const bool jww = r.ext == u".jww";
        if (jww ? !containers_.jww.FileCheck(r.source) : !containers_.jws.FileCheck(r.source)) return R::CheckFailed;
        // The drawings read by this run are never written over, whatever
        // link may lead there.
        if (sources_.Contains(r.target)) return R::TargetIsSource;
        if (claimedTargets_.Contains(r.target)) return R::DuplicateTarget;
        claimedTargets_.AddText(r.target);
        if (FileFound(r.target) && !Backup(r)) {
            claimedTargets_.Refresh(r.target);  // left as it was
            return R::BackupFailed;
        }
        ConvertReport report;
        const bool toReal = job_.options.Direction == 0;
        bool written;
        if (jww)
            written = toReal ? JwwToReal(containers_.jww, r.source, r.target, job_.options, &report)
                             : JwwToTemporary(containers_.jww, r.source, r.target, job_.options, &report);
        else
            written = toReal ? JwsToReal(containers_.jws, r.source, r.target, job_.options, &report)
                             : JwsToTemporary(containers_.jws, r.source, r.target, job_.options, &report);
        r.detail = report.detail;
        claimedTargets_.Refresh(r.target);
        if (written) return R::None;
        switch (report.failure) {
            case ConvertFailure::ReadFailed: return R::ReadFailed;
            case ConvertFailure::ImagesNotExtracted: return R::ImagesNotExtracted;
            default: return R::WriteFailed;
        }
    }

    // Backs the existing target up as name.BAK; when this run already made
    // that backup (plan.jww and plan.jws both give plan.BAK), the later one
    // keeps its extension (plan.jws.BAK), so no backup of this run is lost.
    bool Backup(BatchFileResult& r) {
        std::u16string backup = ReplaceExt(r.target, u".BAK");
        if (backup.empty() || backupsMade_.Contains(backup)) backup = r.target + u".BAK";
        if (backupsMade_.Contains(backup)) {
            r.detail = "both backup names are taken by backups of this run";
            return false;
        }
        // A backup path that leads to the target itself or to a drawing of
        // this run would destroy what it should keep.
        if (SameExistingFile(backup, r.target) || sources_.Contains(backup)) {
            r.detail = "the backup path leads to a file that must not be overwritten";
            return false;
        }
        if (!MakeBackup(r.target, backup)) {
            r.detail = "could not copy " + Utf16ToUtf8(r.target) + " to " + Utf16ToUtf8(backup);
            return false;
        }
        backupsMade_.Add(backup);
        r.backup = backup;
        return true;
    }

    const BatchJob& job_;
    BatchContainers containers_;
    BatchReporter& reporter_;
    PathSet sources_;         // existing sources of the run
    PathSet claimedTargets_;  // targets of files attempted so far
    PathSet backupsMade_;
};

}  // namespace

std::u16string UnsupportedExtensionMessage(const std::u16string& name, const std::u16string& ext) {
    return u"このファイル拡張子（種類）の変換には対応していません。\r\nファイル名：" + name + u"\r\n　　拡張子：" + ext;
}

std::u16string ConvertingStatusText(const std::u16string& source, const std::u16string& target) {
    return u"ファイル「" + source + u"」→「" + target + u"」変換中です。";
}

std::u16string SummaryText(std::int32_t converted, std::int32_t notConverted) {
    std::u16string text = IntToText(converted) + u"個のファイルを変換しました。";
    if (notConverted > 0) text += IntToText(notConverted) + u"個のファイルは変換できませんでした。";
    return text;
}

std::string ReasonText(NotConvertedReason reason) {
    switch (reason) {
        case NotConvertedReason::None: return "converted";
        case NotConvertedReason::UnsupportedExtension: return "this file extension is not converted";
        case NotConvertedReason::KindNotConverted: return "JWC and JWK files are not converted";
        case NotConvertedReason::SourceMissing: return "file not found";
        case NotConvertedReason::CheckFailed: return "not a JWW/JWS file of a supported version";
        case NotConvertedReason::TargetIsSource: return "the target is a file this run reads from";
        case NotConvertedReason::DuplicateTarget: return "an earlier file of this run writes the same target";
        case NotConvertedReason::BackupFailed: return "the existing target could not be backed up";
        case NotConvertedReason::ReadFailed: return "the file could not be read";
        case NotConvertedReason::ImagesNotExtracted: return "a bound image could not be copied out";
        case NotConvertedReason::WriteFailed: return "the converted file could not be written";
    }
    return "not converted";
}

bool SameFolder(const std::u16string& a, const std::u16string& b) {
    if (ToUpperText(a) == ToUpperText(b)) return true;
    if (a.empty() || b.empty()) return false;
    try {
        if (SameExistingFile(a, b)) return true;
        return NormalFolder(a) == NormalFolder(b);
    } catch (...) {
        return false;
    }
}

std::vector<BatchItem> ItemsOfFolder(const std::u16string& folder, const std::vector<std::u16string>& names) {
    std::vector<BatchItem> items;
    items.reserve(names.size());
    for (const std::u16string& name : names) items.push_back({folder, name});
    return items;
}

BatchCheck CheckOutputFolder(const BatchJob& job, BatchReporter& reporter) {
    if (job.outputFolder.empty()) {
        reporter.Message(kTextNoOutputFolder);
        return BatchCheck::NoOutputFolder;
    }
    if (!FolderFound(job.outputFolder)) {
        reporter.Message(kTextOutputFolderMissing);
        return BatchCheck::OutputFolderMissing;
    }
    std::vector<std::u16string> folders;
    if (!job.referenceFolder.empty()) folders.push_back(job.referenceFolder);
    for (const BatchItem& item : job.items)
        if (std::find(folders.begin(), folders.end(), item.folder) == folders.end()) folders.push_back(item.folder);
    for (const std::u16string& folder : folders) {
        // An item without a folder is read from the current directory.
        if (SameFolder(folder.empty() ? u"." : folder, job.outputFolder)) {
            reporter.Message(kTextSameFolder);
            return BatchCheck::SameAsReference;
        }
    }
    return BatchCheck::Ok;
}

BatchSummary RunBatch(const BatchJob& job, BatchContainers containers, BatchReporter& reporter) {
    BatchSummary summary;
    summary.check = CheckOutputFolder(job, reporter);
    if (summary.check != BatchCheck::Ok) return summary;

    if (!job.imageWorkFolder.empty()) {
        containers.jww.BindImageFolder = WithTrailingSeparator(job.imageWorkFolder);
        containers.jww.BindImageExp = true;
        containers.jww.BindImageExr = true;
    }

    Run run(job, containers, reporter);
    for (const BatchItem& item : job.items) {
        BatchFileResult r = run.ConvertItem(item);
        switch (r.outcome) {
            case FileOutcome::Converted: ++summary.converted; break;
            case FileOutcome::NotConverted: ++summary.notConverted; break;
            case FileOutcome::UnsupportedExtension: ++summary.unsupported; break;
        }
        reporter.FileResult(r);
        summary.files.push_back(std::move(r));
    }
    reporter.Status(SummaryText(summary.converted, summary.notConverted));
    return summary;
}

}  // namespace tervalo
