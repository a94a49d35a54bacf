#include "file_rows.h"

#include <algorithm>
#include <iterator>
#include <numeric>

#include "fs/fsutil.h"

namespace tervalo::gui {

namespace {

const ColumnInfo kColumns[kColumnCount] = {
    {u"ファイル名", false, u"ABCDEFGH.jww"},
    {u"種類", false, u".jww"},
    {u"図面メモ", false, u"図面メモの初め"},
    {u"更新日時", false, u"2026/12/31 23:59:59"},
    {u"サイズ", true, u"9,999,999"},
    {u"Ver.", false, u"DOS"},
    {u"仮点", true, u"99,999"},
    {u"実点", true, u"99,999"},
    {u"点マーカー", true, u"99,999"},
};

const FileType kFileTypes[kFileTypeCount] = {
    {u"ALL Files (*.*)", u"*"},
    {u"Jw_cad ファイル (*.jw?)", u"*.jw?"},
    {u"Jw_cad 図面ファイル (*.jww)", u"*.jww"},
    {u"Jw_cad 図形ファイル (*.jws)", u"*.jws"},
    {u"JW_CAD 図面ファイル (*.jwc)", u"*.jwc"},
    {u"JW_CAD 図形ファイル (*.jwk)", u"*.jwk"},
};

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

int CompareFolded(const std::u16string& x, const std::u16string& y) {
    const std::size_t n = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t cx = FoldAscii(x[i]), cy = FoldAscii(y[i]);
        if (cx != cy) return cx < cy ? -1 : 1;
    }
    if (x.size() == y.size()) return 0;
    return x.size() < y.size() ? -1 : 1;
}

}  // namespace

const ColumnInfo& ColumnOf(int column) { return kColumns[std::clamp(column, 0, kColumnCount - 1)]; }

const FileType& FileTypeOf(int index) { return kFileTypes[std::clamp(index, 0, kFileTypeCount - 1)]; }

std::u16string MaskOfFileType(int index) {
    if (index < 0 || index >= kFileTypeCount) return u"*";
    return kFileTypes[index].mask;
}

std::u16string WithThousands(std::uint64_t value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    for (std::ptrdiff_t i = static_cast<std::ptrdiff_t>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(digits.begin() + i, u',');
    return digits;
}

std::u16string CellText(const FileRow& row, int column) {
    switch (column) {
        case kNameColumn: return row.name;
        case kKindColumn: return row.kind;
        case kMemoColumn: return row.memo;
        case kTimeColumn: return row.time;
        case kSizeColumn: return WithThousands(row.size);
        case kVersionColumn: return row.version;
        case kTemporaryColumn:
            return row.countsKnown ? WithThousands(static_cast<std::uint64_t>(row.counts.temporary)) : u"";
        case kRealColumn: return row.countsKnown ? WithThousands(static_cast<std::uint64_t>(row.counts.real)) : u"";
        case kMarkerColumn:
            return row.countsKnown ? WithThousands(static_cast<std::uint64_t>(row.counts.marker)) : u"";
        default: return {};
    }
}

bool IsNumberColumn(int column) { return column == kSizeColumn || (column >= kFirstCountColumn && column < kColumnCount); }

int CompareCellTexts(const std::u16string& a, const std::u16string& b, int column) {
    if (!IsNumberColumn(column) || a.size() == b.size()) return CompareFolded(a, b);
    const std::size_t width = std::max(a.size(), b.size());
    return CompareFolded(std::u16string(width - a.size(), u' ') + a, std::u16string(width - b.size(), u' ') + b);
}

void SortScanOrder(std::vector<TFileField>& files) {
    std::stable_sort(files.begin(), files.end(), [](const TFileField& a, const TFileField& b) {
        const int folded = CompareFolded(a.name, b.name);
        return folded != 0 ? folded < 0 : a.name < b.name;
    });
}

std::vector<std::size_t> SortRows(std::vector<FileRow>& rows, int column, bool descending) {
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (column < 0 || column >= kColumnCount) return order;
    std::vector<std::u16string> texts;
    texts.reserve(rows.size());
    for (const FileRow& r : rows) texts.push_back(CellText(r, column));
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int cmp = descending ? CompareCellTexts(texts[b], texts[a], column) : CompareCellTexts(texts[a], texts[b], column);
        return cmp < 0;
    });
    std::vector<FileRow> sorted;
    sorted.reserve(rows.size());
    for (std::size_t i : order) sorted.push_back(std::move(rows[i]));
    rows = std::move(sorted);
    return order;
}

}  // namespace tervalo::gui
