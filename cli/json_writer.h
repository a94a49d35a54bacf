// A small writer of one-line JSON objects (JSON Lines).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tervalo::cli {

// Appends `text` (UTF-16) as a JSON string literal in UTF-8: quotes,
// backslashes and control characters are escaped, surrogate pairs become one
// character and a lone surrogate becomes a \uXXXX escape.
void AppendJsonString(std::string& out, std::u16string_view text);

class JsonObject {
public:
    JsonObject& Key(std::string_view key);
    JsonObject& String(std::string_view key, std::u16string_view value);
    JsonObject& Number(std::string_view key, std::int64_t value);
    JsonObject& Bool(std::string_view key, bool value);
    // A value already in JSON form (a nested object or an array).
    JsonObject& Raw(std::string_view key, std::string_view json);
    std::string Done() const { return out_ + "}"; }

private:
    std::string out_ = "{";
    bool first_ = true;
};

}  // namespace tervalo::cli
