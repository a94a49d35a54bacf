// The file list's rows and columns: what each cell reads, the file-type
// filter, the scan order and the sort of a header click.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/drawing_info.h"

namespace tervalo {
struct TFileField;
}

namespace tervalo::gui {

// The columns: name, kind, memo, time, size and version (their widths are
// kept in the settings file), then the counts of temporary points, real
// points and point markers of each drawing, filled in after the listing.
enum Column : int {
    kNameColumn,
    kKindColumn,
    kMemoColumn,
    kTimeColumn,
    kSizeColumn,
    kVersionColumn,
    kTemporaryColumn,
    kRealColumn,
    kMarkerColumn,
    kColumnCount
};
inline constexpr int kStoredColumns = 6;  // the settings file's columns
// The order in which the columns are shown, left to right: the memo after
// the version, so that name, kind, time, size and version fit a narrow
// window. A column keeps its number (in the settings file and the sort).
inline constexpr std::array<int, kColumnCount> kShownColumnOrder = {
    kNameColumn,    kKindColumn, kTimeColumn,      kSizeColumn, kVersionColumn,
    kMemoColumn,    kTemporaryColumn, kRealColumn, kMarkerColumn};
inline constexpr int kFirstCountColumn = kTemporaryColumn;
inline constexpr int kCountColumns = 3;

struct ColumnInfo {
    const char16_t* caption;
    bool rightAligned;
    // The longest text the column usually shows: a front end sizes the
    // column to the wider of this and the caption in its own font.
    const char16_t* sample;
};
const ColumnInfo& ColumnOf(int column);

// The file-type selector: item texts and the mask each one lists.
struct FileType {
    const char16_t* text;
    const char16_t* mask;
};
inline constexpr int kFileTypeCount = 6;
const FileType& FileTypeOf(int index);  // index 0 .. 5
// The mask of a selector index; any other index lists every file ("*").
std::u16string MaskOfFileType(int index);

// The memo cell of a file whose name on disk is not valid text.
inline constexpr char16_t kNameNotTextMemo[] = u"（ファイル名の文字コードが正しくないため変換できません）";

struct FileRow {
    std::u16string name;
    std::u16string kind;     // lower-cased extension with its dot
    std::u16string memo;
    std::u16string time;     // "yyyy/mm/dd hh:nn:ss"
    std::uint64_t size = 0;
    std::u16string version;  // "700", "DOS" or empty
    bool nameNotText = false;  // cannot be opened or converted by its name
    bool countsKnown = false;
    PointCounts counts;
    std::size_t id = 0;  // its place in the scan order

    // A JWW drawing or JWS figure whose header was read: its points are counted.
    bool Countable() const { return !version.empty() && version != u"DOS"; }
};

// The text of one cell: the size and the counts with thousands separators
// ("1,234"), the counts empty until known.
std::u16string CellText(const FileRow& row, int column);
// "1,234,567"
std::u16string WithThousands(std::uint64_t value);

// The number columns (size and counts) compare right-aligned, so by value.
bool IsNumberColumn(int column);
// Compares two cell texts of one column: ordinal by UTF-16 code unit, with
// the ASCII letters a-z compared as A-Z; in the number columns the shorter
// text is first padded on the left with spaces. Negative, zero or positive.
int CompareCellTexts(const std::u16string& a, const std::u16string& b, int column);

// Puts scanned files into the list's first order, the same on every system:
// names in ordinal order with ASCII letters compared without case (as
// Windows' own file systems list them), ties by exact code units.
void SortScanOrder(std::vector<TFileField>& files);

// The order a header click gives: the rows sorted by `column` (stable), in
// descending order when `descending`. Returns oldOfNew: the row now at i was
// at oldOfNew[i] before.
std::vector<std::size_t> SortRows(std::vector<FileRow>& rows, int column, bool descending);

}  // namespace tervalo::gui
