#include "list_compare.h"

#include <algorithm>

namespace tervalo {

namespace {

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

}  // namespace

bool IsNumberColumn(int column) { return column == kSizeColumn || (column >= 6 && column <= 8); }

int CompareListTexts(const QString& a, const QString& b, int column) {
    QString x = a;
    QString y = b;
    if (IsNumberColumn(column)) {
        const qsizetype width = std::max(x.size(), y.size());
        x = x.rightJustified(width, u' ');
        y = y.rightJustified(width, u' ');
    }
    const qsizetype n = std::min(x.size(), y.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t cx = FoldAscii(x[i].unicode());
        const char16_t cy = FoldAscii(y[i].unicode());
        if (cx != cy) return cx < cy ? -1 : 1;
    }
    if (x.size() == y.size()) return 0;
    return x.size() < y.size() ? -1 : 1;
}

}  // namespace tervalo
