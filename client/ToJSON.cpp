#include "ToJSON.h"

#include <json/reader.h>
#include <json/writer.h>

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

} // namespace

bool ToJSON(const std::string& text, Json::Value& json) {
    if (HasForbiddenControlCharacter(text))
        return false;
    std::unique_ptr<Json::CharReader> reader(StrictReaderBuilder().newCharReader());
    Json::Value parsed;
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &parsed, nullptr))
            return false;
    } catch (const std::exception&) {
        // The reader throws when the nesting limit is exceeded.
        return false;
    }
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
