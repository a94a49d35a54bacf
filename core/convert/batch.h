// One conversion run over selected files: the output-folder checks, the
// extension filter, backups of files already in the output folder, the
// conversion of each file and the final count. The desktop program and the
// command-line program both drive it; they only differ in how they show what
// it reports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "convert/convert_options.h"

namespace tervalo {

class TJwwData;
class TJwsData;

// Outcome of the output-folder checks made before any file is touched.
enum class BatchCheck {
    Ok,
    NoOutputFolder,       // the output folder text is empty
    OutputFolderMissing,  // no directory of that name exists
    SameAsReference,      // it names a folder the files are read from
    OutputFolderUnusable, // it cannot be looked at (a path too long, no permission, ...)
};

enum class FileOutcome {
    Converted,             // the converted file was written
    NotConverted,          // passed the extension filter, but nothing was written
    UnsupportedExtension,  // refused by the extension filter (a message was shown)
};

enum class NotConvertedReason {
    None,
    UnsupportedExtension,
    KindNotConverted,    // .jwc and .jwk files are listed but never converted
    SourceMissing,       // no file at the source path
    CheckFailed,         // not a JWW/JWS file of a supported version
    TargetIsSource,      // the target path leads to a file the run reads from
    DuplicateTarget,     // an earlier file of this run already writes this target
    NameNotText,         // the file name cannot be read as text (not valid UTF-8)
    NotAPlainFile,       // the target or backup name is a link, a folder or a special file
    BackupFailed,        // the existing target could not be copied to a backup
    ReadFailed,          // the source could not be read as a whole
    ImagesNotExtracted,  // a bound image could not be copied out
    WriteFailed,         // the target could not be written
};

// One file to convert: the folder it is read from and its name. The target
// is the output folder joined with the same name.
struct BatchItem {
    BatchItem() = default;
    BatchItem(std::filesystem::path folder_, std::u16string name_, bool nameNotText_ = false,
              std::filesystem::path subfolder_ = {})
        : folder(std::move(folder_)), name(std::move(name_)), nameNotText(nameNotText_), subfolder(std::move(subfolder_)) {}

    std::filesystem::path folder;
    std::u16string name;
    // Set when the name on disk is not valid text; `name` then shows it with
    // replacement characters and the file is reported as not converted.
    bool nameNotText = false;
    // Folder below the output folder that receives this file (separated by
    // '/', no "." or ".." parts); empty for the output folder itself. Created
    // when missing.
    std::filesystem::path subfolder;
};

struct BatchFileResult {
    std::u16string name;
    std::u16string ext;  // lower-cased extension with its dot
    std::filesystem::path source;
    std::filesystem::path target;
    std::filesystem::path backup;  // the backup made of an existing target, empty when none
    // Converted, but the target already held exactly this output, so it and
    // its backup were left as they were.
    bool upToDate = false;
    std::int64_t changedPoints = 0;  // points the conversion changed (or would change)
    FileOutcome outcome = FileOutcome::NotConverted;
    NotConvertedReason reason = NotConvertedReason::None;
    std::string detail;  // the reader's or writer's own reason, when it gave one
};

struct BatchSummary {
    BatchCheck check = BatchCheck::Ok;
    std::string checkDetail;  // the system's reason for OutputFolderUnusable
    std::int32_t converted = 0;     // files really written
    std::int32_t notConverted = 0;  // files that passed the filter but were not written
    std::int32_t unsupported = 0;   // files refused by the extension filter
    bool stopped = false;           // the run was stopped before its last file
    std::vector<BatchFileResult> files;

    bool AllConverted() const { return check == BatchCheck::Ok && notConverted == 0 && unsupported == 0; }
};

// The status text while a run waits for another one to finish putting its
// files into the same folder.
std::u16string WaitingStatusText(const std::filesystem::path& folder);

// How a run shows itself. The desktop program puts messages into message
// boxes and status texts into its status bar; the command-line program prints.
class BatchReporter {
public:
    virtual ~BatchReporter() = default;
    // A user error: a folder check failed or a file has an unsupported extension.
    virtual void Message(const std::u16string& text) = 0;
    // The message for a file refused by the extension filter, given right
    // before its FileResult; a front end that reports every file itself may
    // show it differently.
    virtual void UnsupportedExtension(const std::u16string& message) { Message(message); }
    // Progress and the final count (an empty text clears the status).
    virtual void Status(const std::u16string& text) = 0;
    // Item `index` (from 0) of the job is taken up now; results come later.
    virtual void ItemBegin(std::size_t /*index*/) {}
    // The outcome of one file, in the order of the items. Converted files are
    // put in place a few at a time (with one flush of the disk for all of
    // them), so a result may come a moment after its file's conversion; a
    // file is reported converted only once it is in place.
    virtual void FileResult(const BatchFileResult& result) = 0;
    // Around the conversion of one file (the desktop program pauses its
    // folder-following timer meanwhile).
    virtual void ConvertBegin() {}
    virtual void ConvertEnd() {}
    // Another run is putting its files into `folder` and this one has waited
    // a second for it; it goes on waiting. Shown as a status by default.
    virtual void WaitingForFolder(const std::filesystem::path& folder) { Status(WaitingStatusText(folder)); }
    // Asked before each file: true stops the run there (the files left are
    // not touched and not counted; those already converted are still put in
    // place and reported).
    virtual bool StopRequested() { return false; }
};

struct BatchContainers {
    TJwwData& jww;
    TJwsData& jws;
};

struct BatchJob {
    // The listed folder (may be empty when every item names its own folder).
    std::filesystem::path referenceFolder;
    std::filesystem::path outputFolder;
    // The selected files, in display order.
    std::vector<BatchItem> items;
    TConvertOptions options;
    // Reads and converts every file in memory but writes nothing at all; the
    // results say what a real run would do (the backup it would make).
    bool dryRun = false;
    // How many files are converted side by side (0: as many as the machine
    // has processors for, up to four; 1: one after the other).
    unsigned converters = 0;
};

// The user texts of a run.
inline constexpr char16_t kTextNoOutputFolder[] = u"保存先フォルダを指示して下さい。";
inline constexpr char16_t kTextOutputFolderMissing[] = u"保存先フォルダが存在しません。";
inline constexpr char16_t kTextSameFolder[] = u"保存先フォルダは参照フォルダと同じにしないで下さい。";
// Followed by a line with the system's reason.
inline constexpr char16_t kTextOutputFolderUnusable[] = u"保存先フォルダを使用できません。";

// The message for a file whose extension is not converted.
std::u16string UnsupportedExtensionMessage(const std::u16string& name, const std::u16string& ext);
// The status text while one file is converted.
std::u16string ConvertingStatusText(const std::filesystem::path& source, const std::filesystem::path& target);
// The final status text: how many files were converted and, when there were
// any, how many were not.
std::u16string SummaryText(std::int32_t converted, std::int32_t notConverted);
// A short English description of a reason, for logs and the command line.
std::string ReasonText(NotConvertedReason reason);
// The same in Japanese, for the desktop program and Japanese runs.
std::u16string JapaneseReasonText(NotConvertedReason reason);
// The final status after a stop: that the run was stopped, then the counts.
std::u16string StoppedSummaryText(std::int32_t converted, std::int32_t notConverted);

// True when both paths name the same directory: the same directory once
// separators, "." and "..", and links are resolved, or the same text once
// normalised and case folded. Names that differ in letter case only are
// taken for one folder even where the file system keeps them apart, since
// on a case-insensitive file system they are one (and some of those give
// each spelling its own identity).
bool SameFolder(const std::filesystem::path& a, const std::filesystem::path& b);

// The items of selected names of one folder.
std::vector<BatchItem> ItemsOfFolder(const std::filesystem::path& folder, const std::vector<std::u16string>& names);

// The output-folder checks alone; the message is given to the reporter.
// `detail`, when given, receives the system's reason for OutputFolderUnusable.
BatchCheck CheckOutputFolder(const BatchJob& job, BatchReporter& reporter, std::string* detail = nullptr);

// Runs the whole conversion. When a folder check fails nothing is touched,
// the status is not changed, and the summary holds the check's outcome.
// Per file: the source is checked and read and the converted file is built
// in memory and written beside its target; only then is an existing target
// copied to its backup, and the new file put in place. Files of one output
// folder go in groups: their new files and backup copies are flushed to the
// disk together, then the backups are put in place and flushed, then the
// targets. A file that fails on the way leaves the output folder as it was
// and fails alone. No exception leaves the run: a file that fails in any way
// is reported and the run goes on.
BatchSummary RunBatch(const BatchJob& job, BatchContainers containers, BatchReporter& reporter);

}  // namespace tervalo
