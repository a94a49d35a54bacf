// Conversions between the core's UTF-16 strings and QString (both hold
// UTF-16 code units, so nothing is lost either way).
#pragma once

#include <QString>
#include <string>

namespace tervalo {

inline QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }
inline std::u16string U(const QString& text) { return text.toStdU16String(); }

}  // namespace tervalo
