#pragma once

#include <json/value.h>

#include <cstddef>
#include <string>

namespace Tarn {

// Strict JSON reading: the whole text must be one JSON value (blanks around it allowed);
// trailing garbage, comments, an empty text and text that is not UTF-8 are not JSON.
// Returns false and leaves json untouched when the text is not valid JSON.
bool ToJSON(const std::string& text, Json::Value& json);

// Where and why text is no valid JSON for ToJSON: the reader's message (a control character, a
// byte that is no UTF-8, or the JSON reader's own first error) and the byte offset of the fault.
// An empty message for valid JSON.
struct JsonTextFault {
    std::string message;
    std::size_t offset = 0;
};
JsonTextFault FindJsonFault(const std::string& text);

// Compact JSON text (no blanks outside strings, non-ASCII as raw UTF-8).
std::string ToJSONString(const Json::Value& json);

// text as a JSON string, quoted, appended to out, as ToJSONString writes one: '"' and '\'
// escaped, the short escapes, \u00XX for the other control characters, every other byte as it is
// (so bytes that are no UTF-8 come back as they were).
void AppendJsonString(std::string& out, const std::string& text);

} // namespace Tarn
