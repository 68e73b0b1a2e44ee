#pragma once

#include <json/value.h>

#include <string>

namespace orvelconsumer {

// Reading and writing JSON text the way the consumer puts it on the wire: compact, raw UTF-8,
// numbers with up to 15 significant digits (0.1 stays 0.1).
class JsonText {
public:
    static std::string Write(const Json::Value& value);
    // The same, laid out on lines indented by two blanks.
    static std::string WritePretty(const Json::Value& value);
    // Compact, with every object's keys in reverse order (jsoncpp itself writes them sorted).
    static std::string WriteKeysReversed(const Json::Value& value);

    // Parses one JSON value filling the whole text (trailing blanks allowed, nothing else).
    // strict: also refuses comments and duplicate keys and needs an object or array at the top,
    // for files a person wrote. On failure returns false and puts the reader's message in error.
    static bool Parse(const std::string& text, Json::Value& value, std::string& error, bool strict = false);
};

} // namespace orvelconsumer
