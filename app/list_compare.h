// The order of the file list when a column header is clicked.
#pragma once

#include <QString>

namespace tervalo {

// The size column and the point-count columns: their texts are numbers and
// compare right-aligned, so by value.
inline constexpr int kSizeColumn = 4;
bool IsNumberColumn(int column);

// Compares two cell texts of one column: ordinal by UTF-16 code unit, with
// the ASCII letters a-z compared as A-Z. In the number columns the shorter text
// is first padded on the left with spaces to the length of the longer one,
// so that sizes compare by value. Negative, zero or positive.
int CompareListTexts(const QString& a, const QString& b, int column);

}  // namespace tervalo
