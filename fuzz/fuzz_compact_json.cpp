// The request writer must give jsoncpp's text byte for byte. Any document jsoncpp reads (also
// NaN and the infinities), and the input's bytes taken as doubles, are written both ways.
#include "ToJSON.h"
#include "WireFormat.h"

#include <json/reader.h>
#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

void Compare(const Json::Value& value) {
    std::string ours;
    Tarn::Webhooks::AppendCompactJson(value, ours);
    // ToJSONString is jsoncpp's own writer with the same settings.
    if (ours != Tarn::ToJSONString(value))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (size_t at = 0; at + sizeof(double) <= size; at += sizeof(double)) {
        double number = 0;
        std::memcpy(&number, data + at, sizeof number);
        Compare(Json::Value(number));
    }
    Json::CharReaderBuilder builder;
    builder["allowSpecialFloats"] = true;
    builder["stackLimit"] = 64;
    // Request values never carry comments, and the compact writer leaves them out.
    builder["collectComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    const char* text = reinterpret_cast<const char*>(data);
    Json::Value json;
    try {
        if (reader->parse(text, text + size, &json, nullptr))
            Compare(json);
    } catch (const std::exception&) {
        // Too deep for the reader.
    }
    return 0;
}
