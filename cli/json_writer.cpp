#include "json_writer.h"

namespace tervalo::cli {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendEscape(std::string& out, unsigned code) {
    static const char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(code >> shift) & 0xF]);
}

}  // namespace

void AppendJsonString(std::string& out, std::u16string_view text) {
    out.push_back('"');
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
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
        if (c < 0x20) {
            AppendEscape(out, c);
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] <= 0xDFFF) {
            char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            AppendUtf8(out, cp);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendEscape(out, c);  // a lone surrogate has no UTF-8 form
        } else {
            AppendUtf8(out, c);
        }
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
