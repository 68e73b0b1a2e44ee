#include "JsonText.h"

#include <json/reader.h>
#include <json/writer.h>

#include <memory>

namespace orvelconsumer {

std::string JsonText::Write(const Json::Value& value) {
    static const Json::StreamWriterBuilder builder = [] {
        Json::StreamWriterBuilder b;
        b["indentation"] = "";
        b["emitUTF8"] = true;
        b["precision"] = 15;
        b["precisionType"] = "significant";
        return b;
    }();
    return Json::writeString(builder, value);
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
