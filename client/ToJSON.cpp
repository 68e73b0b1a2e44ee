#include "ToJSON.h"

#include <json/reader.h>
#include <json/writer.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <memory>
#include <sstream>

namespace Tarn {

namespace {

// Nesting depth at which a document is refused. No answer of a consumer comes near it; it keeps
// a hostile body from exhausting the stack of the (recursive) reader, the destructor of the
// value and the writer.
constexpr int MaxNestingDepth = 256;

const Json::CharReaderBuilder& StrictReaderBuilder() {
    static const Json::CharReaderBuilder builder = [] {
        Json::CharReaderBuilder b;
        b["collectComments"] = false;
        b["allowComments"] = false;
        b["allowTrailingCommas"] = false;
        // Any value may be the root: a number or an array is valid JSON, only not a valid answer.
        b["strictRoot"] = false;
        b["allowDroppedNullPlaceholders"] = false;
        b["allowNumericKeys"] = false;
        b["allowSingleQuotes"] = false;
        b["stackLimit"] = MaxNestingDepth;
        b["failIfExtra"] = true;
        // A key given twice means different things to different readers; refuse it rather
        // than guess which one the consumer meant.
        b["rejectDupKeys"] = true;
        b["allowSpecialFloats"] = false;
        b["skipBom"] = false;
        return b;
    }();
    return builder;
}

const Json::StreamWriterBuilder& CompactWriterBuilder() {
    static const Json::StreamWriterBuilder builder = [] {
        Json::StreamWriterBuilder b;
        b["commentStyle"] = "None";
        b["indentation"] = "";
        b["emitUTF8"] = true;
        b["precision"] = 15;
        b["precisionType"] = "significant";
        return b;
    }();
    return builder;
}

// The reader takes a NUL byte for the end of the text (so "{}\0junk" would pass) and lets raw
// control characters through inside strings; both are invalid JSON. Returns the offset of the
// first such byte, npos when there is none.
std::size_t ForbiddenControlCharacter(const std::string& text) {
    bool inString = false;
    bool escaped = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0)
            return i;
        if (!inString) {
            if (c == '"')
                inString = true;
            continue;
        }
        if (c < 0x20)
            return i;
        if (escaped)
            escaped = false;
        else if (c == '\\')
            escaped = true;
        else if (c == '"')
            inString = false;
    }
    return std::string::npos;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. Returns where the
// first byte that breaks it starts, end when there is none.
const char* FirstNonUtf8(const char* begin, const char* end) {
    const auto* p = reinterpret_cast<const unsigned char*>(begin);
    const auto* const stop = reinterpret_cast<const unsigned char*>(end);
    while (p < stop) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return reinterpret_cast<const char*>(p);
        }
        if (static_cast<std::size_t>(stop - p) < length || p[1] < low || p[1] > high)
            return reinterpret_cast<const char*>(p);
        for (std::size_t i = 2; i < length; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF)
                return reinterpret_cast<const char*>(p);
        }
        p += length;
    }
    return end;
}

bool IsUtf8(const char* begin, const char* end) {
    return FirstNonUtf8(begin, end) == end;
}

// Every key and string of a parsed document. The reader passes any bytes through, and turns
// an escaped lone half of a surrogate pair into bytes that are no UTF-8 either.
bool AllTextIsUtf8(const Json::Value& value) {
    switch (value.type()) {
    case Json::stringValue: {
        const char* begin = nullptr;
        const char* end = nullptr;
        return !value.getString(&begin, &end) || IsUtf8(begin, end);
    }
    case Json::arrayValue:
        for (const Json::Value& item : value) {
            if (!AllTextIsUtf8(item))
                return false;
        }
        return true;
    case Json::objectValue:
        for (auto it = value.begin(); it != value.end(); ++it) {
            const char* end = nullptr;
            const char* begin = it.memberName(&end);
            if (!IsUtf8(begin, end) || !AllTextIsUtf8(*it))
                return false;
        }
        return true;
    default:
        return true;
    }
}

} // namespace

bool ToJSON(const std::string& text, Json::Value& json) {
    if (ForbiddenControlCharacter(text) != std::string::npos)
        return false;
    // Making a reader reads the builder's settings, which costs more than parsing a short answer;
    // a reader starts afresh with each document, so each thread keeps one.
    thread_local const std::unique_ptr<Json::CharReader> reader(StrictReaderBuilder().newCharReader());
    Json::Value parsed;
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &parsed, nullptr))
            return false;
    } catch (const std::exception&) {
        // The reader throws when the nesting limit is exceeded.
        return false;
    }
    // JSON travels as UTF-8; text in any other encoding is not a valid document.
    if (!AllTextIsUtf8(parsed))
        return false;
    json.swap(parsed);
    return true;
}

JsonTextFault FindJsonFault(const std::string& text) {
    const std::size_t control = ForbiddenControlCharacter(text);
    if (control != std::string::npos) {
        char code[8];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(static_cast<unsigned char>(text[control])));
        return {std::string("Control character ") + code + " (write it escaped, e.g. \\n or \\u0000)", control};
    }
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* const nonUtf8 = FirstNonUtf8(begin, end);
    if (nonUtf8 != end) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(static_cast<unsigned char>(*nonUtf8)));
        return {std::string("Byte ") + byte + " is no UTF-8 (JSON travels as UTF-8)",
                static_cast<std::size_t>(nonUtf8 - begin)};
    }
    Json::Value parsed;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(StrictReaderBuilder().newCharReader());
    bool valid = false;
    try {
        valid = reader->parse(begin, end, &parsed, &errors);
    } catch (const std::exception& error) {
        return {error.what(), 0};
    }
    if (valid)
        return AllTextIsUtf8(parsed) ? JsonTextFault{}
                                     : JsonTextFault{"A string holds an escaped lone surrogate (\\uD800 to \\uDFFF), "
                                                     "which is no UTF-8 text", 0};
    // The reader's first error reads "* Line L, Column C\n  message\n"; its place becomes an offset.
    int line = 1, column = 1;
    std::sscanf(errors.c_str(), "* Line %d, Column %d", &line, &column);
    const std::size_t messageStart = errors.find("\n  ");
    std::string message = messageStart == std::string::npos ? errors : errors.substr(messageStart + 3);
    message = message.substr(0, message.find('\n'));
    std::size_t offset = 0;
    for (int l = 1; l < line && offset < text.size(); ++offset)
        if (text[offset] == '\n')
            ++l;
    offset = std::min(text.size(), offset + static_cast<std::size_t>(std::max(column, 1) - 1));
    return {message.empty() ? std::string("Not valid JSON") : message, offset};
}

std::string ToJSONString(const Json::Value& json) {
    std::unique_ptr<Json::StreamWriter> writer(CompactWriterBuilder().newStreamWriter());
    std::ostringstream out;
    writer->write(json, &out);
    return out.str();
}

void AppendJsonString(std::string& out, const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text, run, i - run);
        run = i + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0xF];
            break;
        }
    }
    out.append(text, run, std::string::npos);
    out += '"';
}

} // namespace Tarn
