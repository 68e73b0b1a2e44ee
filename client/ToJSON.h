#pragma once

#include <json/value.h>

#include <string>

namespace Tarn {

// Strict JSON reading: the whole text must be one JSON value (blanks around it allowed);
// trailing garbage, comments, an empty text and text that is not UTF-8 are not JSON.
// Returns false and leaves json untouched when the text is not valid JSON.
bool ToJSON(const std::string& text, Json::Value& json);

// Compact JSON text (no blanks outside strings, non-ASCII as raw UTF-8).
std::string ToJSONString(const Json::Value& json);

} // namespace Tarn
