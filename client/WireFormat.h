#pragma once

#include "ResponseRecords.h"

#include <json/value.h>

#include <string>

namespace Tarn {
namespace Webhooks {

// The name an event travels under: the last segment of its URL and its X-Orvel-Event header
// ("startSession", ..., "cancelExternalPayment"; "error" for an ErrorEvent). The most-derived
// event kind decides. The intermediate classes (a bare DefaultEvent or ExternalPaymentEvent)
// are no event of their own and give "".
std::string EventNameOf(const WebhookEvent& event);

// The request body of an event as sent: compact JSON, keys in jsoncpp's order, non-ASCII as raw
// UTF-8, doubles with up to 15 significant digits. An ErrorEvent without a failed event gives
// "eventName": "" and "event": {}.
std::string RequestBody(const WebhookEvent& event);

// Result readers: the consumer's parsed answer body in, a typed result out. The kind of the
// answer follows from its keys: "error", then "dialog" (both at once is a ParseError), then the
// typed answer of the event, if it has one ("recognized", "receiptFooters",
// "externalPaymentId"), else the default answer.
//  - A value of the wrong JSON type, a missing required field, an integer out of its range or
//    with a fraction gives a ParseError whose message starts with the field's path, e.g.
//    `lineChanges[1].lineId: expected a UUID string`; a body that is no object gives
//    "the answer is not a JSON object".
//  - null counts as absent everywhere: a null key is neither read nor reported as unknown.
//  - UUIDs are accepted in any letter case, with or without braces; the all-zero UUID reads as
//    a null Uuid (an optional lineId then stays absent). Integers written 2.0 are accepted.
//  - Each unknown key (also the keys of a kind the reader did not choose) adds
//    `Unknown field "<path>" ignored` to messages. An object's unknown keys are reported before
//    its fields are read, so the remarks gathered before a ParseError stay in messages.
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
