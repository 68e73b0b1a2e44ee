// Feeds arbitrary bytes to the strict JSON reader; whatever it accepts must write back to text
// that reads to the same value, and whatever it refuses must have a fault within the text.
#include "AnswerDiagnosis.h"
#include "ToJSON.h"

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Json::Value json(Json::objectValue);
    json["untouched"] = true;
    if (!Tarn::ToJSON(text, json)) {
        // A refused text leaves the target as it was.
        if (!json.isObject() || json.size() != 1 || !json["untouched"].asBool())
            std::abort();
        const Tarn::JsonTextFault fault = Tarn::FindJsonFault(text);
        if (fault.message.empty() || fault.offset > text.size() || Tarn::Webhooks::DescribeJsonFault(text).empty())
            std::abort();
        return 0;
    }
    if (!Tarn::FindJsonFault(text).message.empty())
        std::abort();
    const std::string written = Tarn::ToJSONString(json);
    Json::Value again;
    if (!Tarn::ToJSON(written, again)) {
        // The one known exception: a double within 15 digits of the largest one rounds up past
        // it in writing (1.79769313486232e+308), which no reader takes back.
        if (written.find("e+308") == std::string::npos)
            std::abort();
        return 0;
    }
    // Doubles print with 15 significant digits and need not round-trip exactly; the text of
    // the second writing must then be stable.
    if (Tarn::ToJSONString(again) != written)
        std::abort();
    return 0;
}
