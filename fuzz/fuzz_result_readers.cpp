// Feeds arbitrary answer bodies through the JSON reader and every result reader. A reader must
// give a result or a ParseError, never both and never neither, and must not crash.
#include "ToJSON.h"
#include "WireFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace Tarn::Webhooks;

namespace {

template <typename Result> void Check(const JsonParseResult<Result>& parsed) {
    if (static_cast<bool>(parsed.result) == static_cast<bool>(parsed.parseError))
        std::abort();
    if (parsed.parseError && parsed.parseError->message.empty())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Json::Value json;
    if (!Tarn::ToJSON(std::string(reinterpret_cast<const char*>(data), size), json))
        return 0;
    Check(parseStartSessionResult(json));
    Check(parsePauseSessionResult(json));
    Check(parseResumeSessionResult(json));
    Check(parseStartPaymentResult(json));
    Check(parseCancelPaymentResult(json));
    Check(parseCancelSessionResult(json));
    Check(parseMergeSessionResult(json));
    Check(parseAddSessionLineResult(json));
    Check(parseUpdateSessionLineResult(json));
    Check(parseRemoveSessionLineResult(json));
    Check(parseScanCodeResult(json));
    Check(parseCompleteSessionResult(json));
    Check(parseStartExternalPaymentResult(json));
    Check(parsePollExternalPaymentResult(json));
    Check(parseRequestCancelExternalPaymentResult(json));
    Check(parseCancelExternalPaymentResult(json));
    return 0;
}
