#include "ToJSON.h"

#include <json/reader.h>
#include <json/writer.h>

#include <cstddef>
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
// control characters through inside strings; both are invalid JSON.
bool HasForbiddenControlCharacter(const std::string& text) {
    bool inString = false;
    bool escaped = false;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == 0)
            return true;
        if (!inString) {
            if (c == '"')
                inString = true;
            continue;
        }
        if (c < 0x20)
            return true;
        if (escaped)
            escaped = false;
        else if (c == '\\')
            escaped = true;
        else if (c == '"')
            inString = false;
    }
    return false;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(const char* begin, const char* end) {
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
            return false;
        }
        if (static_cast<std::size_t>(stop - p) < length || p[1] < low || p[1] > high)
            return false;
        for (std::size_t i = 2; i < length; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF)
                return false;
        }
        p += length;
    }
    return true;
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
    if (HasForbiddenControlCharacter(text))
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

std::string ToJSONString(const Json::Value& json) {
    std::unique_ptr<Json::StreamWriter> writer(CompactWriterBuilder().newStreamWriter());
    std::ostringstream out;
    writer->write(json, &out);
    return out.str();
}

} // namespace Tarn
