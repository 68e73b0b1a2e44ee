#pragma once

#include "ResponseRecords.h"

#include <json/value.h>

#include <string>

namespace Tarn {
namespace Webhooks {

// The name an event travels under: the last segment of its URL and its X-Orvel-Event header
// ("startSession", ..., "cancelExternalPayment"; "error" for an ErrorEvent).
std::string EventNameOf(const WebhookEvent& event);

// The request body of an event as sent: compact JSON, keys in jsoncpp's order.
std::string RequestBody(const WebhookEvent& event);

// Result readers: the consumer's parsed answer body in, a typed result out. The kind of the
// answer follows from its keys; a body of the wrong shape gives a ParseError naming the field by
// its path, and every unknown key adds a remark to messages.
JsonParseResult<StartSessionResult> parseStartSessionResult(const Json::Value& json);
JsonParseResult<PauseSessionResult> parsePauseSessionResult(const Json::Value& json);
JsonParseResult<ResumeSessionResult> parseResumeSessionResult(const Json::Value& json);
JsonParseResult<StartPaymentResult> parseStartPaymentResult(const Json::Value& json);
JsonParseResult<CancelPaymentResult> parseCancelPaymentResult(const Json::Value& json);
JsonParseResult<CancelSessionResult> parseCancelSessionResult(const Json::Value& json);
JsonParseResult<MergeSessionResult> parseMergeSessionResult(const Json::Value& json);
JsonParseResult<AddSessionLineResult> parseAddSessionLineResult(const Json::Value& json);
JsonParseResult<UpdateSessionLineResult> parseUpdateSessionLineResult(const Json::Value& json);
JsonParseResult<RemoveSessionLineResult> parseRemoveSessionLineResult(const Json::Value& json);
JsonParseResult<ScanCodeResult> parseScanCodeResult(const Json::Value& json);
JsonParseResult<CompleteSessionResult> parseCompleteSessionResult(const Json::Value& json);
JsonParseResult<ExternalPaymentResult> parseStartExternalPaymentResult(const Json::Value& json);
JsonParseResult<ExternalPaymentResult> parsePollExternalPaymentResult(const Json::Value& json);
JsonParseResult<ExternalPaymentResult> parseRequestCancelExternalPaymentResult(const Json::Value& json);
JsonParseResult<ExternalPaymentResult> parseCancelExternalPaymentResult(const Json::Value& json);

} // namespace Webhooks
} // namespace Tarn
