#include "json_writer.h"

#include "text/encoding.h"

namespace tervalo::cli {

namespace {

void AppendEscape(std::string& out, unsigned code) {
    static const char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(code >> shift) & 0xF]);
}

}  // namespace

void AppendJsonString(std::string& out, std::u16string_view text) {
    out.push_back('"');
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = NextCodePoint(text, i);
        switch (c) {
            case u'"': out += "\\\""; continue;
            case u'\\': out += "\\\\"; continue;
            case u'\n': out += "\\n"; continue;
            case u'\r': out += "\\r"; continue;
            case u'\t': out += "\\t"; continue;
            case u'\b': out += "\\b"; continue;
            case u'\f': out += "\\f"; continue;
            default: break;
        }
        // A control character, or a lone surrogate (it has no UTF-8 form).
        if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) AppendEscape(out, static_cast<unsigned>(c));
        else AppendUtf8(out, c);
    }
    out.push_back('"');
}

JsonObject& JsonObject::Key(std::string_view key) {
    if (!first_) out_.push_back(',');
    first_ = false;
    std::u16string wide(key.begin(), key.end());  // keys are ASCII
    AppendJsonString(out_, wide);
    out_.push_back(':');
    return *this;
}

JsonObject& JsonObject::String(std::string_view key, std::u16string_view value) {
    Key(key);
    AppendJsonString(out_, value);
    return *this;
}

JsonObject& JsonObject::Number(std::string_view key, std::int64_t value) {
    Key(key);
    out_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Bool(std::string_view key, bool value) {
    Key(key);
    out_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::Raw(std::string_view key, std::string_view json) {
    Key(key);
    out_ += json;
    return *this;
}

}  // namespace tervalo::cli
