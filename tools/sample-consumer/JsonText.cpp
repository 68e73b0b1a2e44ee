#include "JsonText.h"

#include <json/reader.h>
#include <json/writer.h>

#include <memory>
#include <vector>

namespace orvelconsumer {

namespace {

Json::StreamWriterBuilder Writer(const char* indentation) {
    Json::StreamWriterBuilder b;
    b["indentation"] = indentation;
    b["emitUTF8"] = true;
    b["precision"] = 15;
    b["precisionType"] = "significant";
    return b;
}

} // namespace

std::string JsonText::Write(const Json::Value& value) {
    static const Json::StreamWriterBuilder builder = Writer("");
    return Json::writeString(builder, value);
}

std::string JsonText::WritePretty(const Json::Value& value) {
    static const Json::StreamWriterBuilder builder = Writer("  ");
    return Json::writeString(builder, value);
}

std::string JsonText::WriteKeysReversed(const Json::Value& value) {
    if (value.isObject()) {
        std::string text;
        const std::vector<std::string> names = value.getMemberNames();
        for (auto name = names.rbegin(); name != names.rend(); ++name)
            text += (text.empty() ? "" : ",") + Write(Json::Value(*name)) + ":" + WriteKeysReversed(value[*name]);
        return "{" + text + "}";
    }
    if (value.isArray()) {
        std::string text;
        for (const Json::Value& item : value)
            text += (text.empty() ? "" : ",") + WriteKeysReversed(item);
        return "[" + text + "]";
    }
    return Write(value);
}

bool JsonText::Parse(const std::string& text, Json::Value& value, std::string& error, bool strict) {
    Json::CharReaderBuilder builder;
    if (strict)
        Json::CharReaderBuilder::strictMode(&builder.settings_);
    else {
        builder["failIfExtra"] = true;
        builder["allowComments"] = false;
    }
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    std::string message;
    if (!reader->parse(text.data(), text.data() + text.size(), &parsed, &message)) {
        error = message.empty() ? "not valid JSON" : message;
        while (!error.empty() && (error.back() == '\n' || error.back() == ' '))
            error.pop_back();
        return false;
    }
    value = std::move(parsed);
    return true;
}

} // namespace orvelconsumer
