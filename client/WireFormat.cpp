// Request bodies of the events: what buildJson writes, the name each event travels under, and the
// compact text that goes over the wire.
#include "WireFormat.h"

#include "OrvLib.h"

#include <json/writer.h>

#include <memory>
#include <sstream>

namespace Tarn {
namespace Webhooks {

namespace {

// A null Uuid is never sent.
void PutUuid(Json::Value& object, const char* key, const Uuid& id) {
    if (!id.IsNull())
        object[key] = id.ToString();
}

void PutUuid(Json::Value& object, const char* key, const boost::optional<Uuid>& id) {
    if (id)
        PutUuid(object, key, *id);
}

Json::Value ToValue(int32_t value) {
    return Json::Value(static_cast<Json::Int>(value));
}
Json::Value ToValue(int64_t value) {
    return Json::Value(static_cast<Json::Int64>(value));
}
Json::Value ToValue(double value) {
    return Json::Value(value);
}
Json::Value ToValue(const UTF8String& value) {
    return Json::Value(value);
}

// Absent optionals are omitted, never written as null.
template <typename T>
void PutOptional(Json::Value& object, const char* key, const boost::optional<T>& value) {
    if (value)
        object[key] = ToValue(*value);
}

Json::Value DiscountJson(const ExternalDiscount& discount) {
    Json::Value json(Json::objectValue);
    PutUuid(json, "discountId", discount.discountId);
    PutOptional(json, "discountPercentage", discount.discountPercentage);
    PutOptional(json, "discountAmount", discount.discountAmount);
    json["discountDescription"] = discount.discountDescription;
    PutUuid(json, "discountSetId", discount.discountSetId);
    return json;
}

// reservedText stays at home: the tester never sends reserved fields.
Json::Value LineJson(const SessionLine& line) {
    Json::Value json(Json::objectValue);
    PutUuid(json, "lineId", line.lineId);
    PutUuid(json, "lineSetId", line.lineSetId);
    PutOptional(json, "articleNumber", line.articleNumber);
    PutOptional(json, "quantity", line.quantity);
    PutOptional(json, "priceIncl", line.priceIncl);
    PutOptional(json, "vatCode", line.vatCode);
    PutOptional(json, "vatPercentage", line.vatPercentage);
    PutOptional(json, "discountPercentage", line.discountPercentage);
    PutOptional(json, "discountAmount", line.discountAmount);
    PutOptional(json, "supplierArticleNumber", line.supplierArticleNumber);
    PutOptional(json, "pluNumber", line.pluNumber);
    PutOptional(json, "extArticleId", line.extArticleId);
    if (line.externalDiscount)
        json["externalDiscount"] = DiscountJson(*line.externalDiscount);
    PutOptional(json, "totalAmount", line.totalAmount);
    json["text"] = line.text;
    return json;
}

Json::Value HeaderJson(const Event& header) {
    Json::Value json(Json::objectValue);
    json["eventCounter"] = ToValue(header.eventCounter);
    json["timestamp"] = orvlib::FormatIso8601(header.timestamp);
    json["blockingCall"] = header.blockingCall;
    return json;
}

Json::Value SenderJson(const Sender& sender) {
    Json::Value json(Json::objectValue);
    json["branchNumber"] = ToValue(sender.branchNumber);
    json["workplaceNumber"] = ToValue(sender.workplaceNumber);
    PutUuid(json, "senderId", sender.senderId);
    return json;
}

// relation, table, order, invoice and cafeteriaOrder are never filled by the tester and not sent.
Json::Value SessionJson(const Session& session) {
    Json::Value json(Json::objectValue);
    PutUuid(json, "sessionId", session.sessionId);
    PutOptional(json, "totalAmount", session.totalAmount);
    Json::Value& lines = json["lines"] = Json::Value(Json::arrayValue);
    for (const SessionLine& line : session.lines)
        lines.append(LineJson(line));
    return json;
}

Json::Value PaymentsJson(const std::vector<Payment>& payments) {
    Json::Value json(Json::arrayValue);
    for (const Payment& payment : payments) {
        Json::Value item(Json::objectValue);
        item["paymentMethod"] = payment.paymentMethod;
        item["description"] = payment.description;
        item["amount"] = payment.amount;
        item["paymentKind"] = ToValue(payment.paymentKind);
        json.append(item);
    }
    return json;
}

Json::Value LineRequestJson(const SessionLine& line) {
    Json::Value json(Json::objectValue);
    json["line"] = LineJson(line);
    return json;
}

Json::Value PaymentsRequestJson(const std::vector<Payment>& payments) {
    Json::Value json(Json::objectValue);
    json["payments"] = PaymentsJson(payments);
    return json;
}

template <typename E> bool Is(const WebhookEvent& event) {
    return dynamic_cast<const E*>(&event) != nullptr;
}

struct EventName {
    bool (*matches)(const WebhookEvent&);
    const char* name;
};

// Only concrete event kinds have a name; the intermediate classes share the name of no event.
const EventName kEventNames[] = {
    {Is<StartSessionEvent>, "startSession"},
    {Is<ScanCodeEvent>, "scanCode"},
    {Is<AddSessionLineEvent>, "addSessionLine"},
    {Is<UpdateSessionLineEvent>, "updateSessionLine"},
    {Is<RemoveSessionLineEvent>, "removeSessionLine"},
    {Is<PauseSessionEvent>, "pauseSession"},
    {Is<ResumeSessionEvent>, "resumeSession"},
    {Is<StartPaymentEvent>, "startPayment"},
    {Is<CancelPaymentEvent>, "cancelPayment"},
    {Is<MergeSessionEvent>, "mergeSession"},
    {Is<CancelSessionEvent>, "cancelSession"},
    {Is<CompleteSessionEvent>, "completeSession"},
    {Is<CreditSessionEvent>, "creditSession"},
    {Is<StartExternalPaymentEvent>, "startExternalPayment"},
    {Is<PollExternalPaymentEvent>, "pollExternalPayment"},
    {Is<RequestCancelExternalPaymentEvent>, "requestCancelExternalPayment"},
    {Is<CancelExternalPaymentEvent>, "cancelExternalPayment"},
    {Is<ErrorEvent>, "error"},
};

} // namespace

void DefaultEvent::buildJson(Json::Value& json) const {
    json = Json::Value(Json::objectValue);
    json["header"] = HeaderJson(header);
    json["sender"] = SenderJson(sender);
    json["session"] = SessionJson(session);
    if (dialog) {
        Json::Value& optionIds = json["dialog"]["optionIds"] = Json::Value(Json::arrayValue);
        for (int32_t id : dialog->optionIds)
            optionIds.append(ToValue(id));
    }
}

void ScanCodeEvent::buildJson(Json::Value& json) const {
    DefaultEvent::buildJson(json);
    Json::Value& body = json["request"] = Json::Value(Json::objectValue);
    body["codeType"] = request.codeType;
    body["code"] = request.code;
}

void AddSessionLineEvent::buildJson(Json::Value& json) const {
    DefaultEvent::buildJson(json);
    json["request"] = LineRequestJson(request.line);
}

void UpdateSessionLineEvent::buildJson(Json::Value& json) const {
    DefaultEvent::buildJson(json);
    json["request"] = LineRequestJson(request.line);
}

void RemoveSessionLineEvent::buildJson(Json::Value& json) const {
    DefaultEvent::buildJson(json);
    json["request"] = LineRequestJson(request.line);
}

void MergeSessionEvent::buildJson(Json::Value& json) const {
    DefaultEvent::buildJson(json);
    Json::Value& body = json["request"] = Json::Value(Json::objectValue);
    PutUuid(body, "mergedSessionId", request.mergedSessionId);
}

void CompleteSessionEvent::buildJson(Json::Value& json) const {
    DefaultEvent::buildJson(json);
    json["request"] = PaymentsRequestJson(request.payments);
}

void CreditSessionEvent::buildJson(Json::Value& json) const {
    DefaultEvent::buildJson(json);
    json["request"] = PaymentsRequestJson(request.payments);
}

void ExternalPaymentEvent::buildJson(Json::Value& json) const {
    DefaultEvent::buildJson(json);
    Json::Value& body = json["externalPayment"] = Json::Value(Json::objectValue);
    PutUuid(body, "externalPaymentId", externalPayment.externalPaymentId);
    PutOptional(body, "method", externalPayment.method);
    PutOptional(body, "description", externalPayment.description);
    PutOptional(body, "amount", externalPayment.amount);
}

void ErrorEvent::buildJson(Json::Value& json) const {
    json = Json::Value(Json::objectValue);
    json["eventName"] = event ? EventNameOf(*event) : std::string();
    Json::Value& body = json["error"] = Json::Value(Json::objectValue);
    body["errorCode"] = error.errorCode;
    body["message"] = error.message;
    Json::Value failed(Json::objectValue);
    if (event)
        event->buildJson(failed);
    json["event"] = failed;
}

std::string EventNameOf(const WebhookEvent& event) {
    for (const EventName& entry : kEventNames) {
        if (entry.matches(event))
            return entry.name;
    }
    return std::string();
}

namespace {

// Built once: setting up a builder costs about as much as writing a whole event.
const Json::StreamWriterBuilder& RequestWriterBuilder() {
    static const Json::StreamWriterBuilder builder = [] {
        Json::StreamWriterBuilder b;
        b["indentation"] = "";
        b["emitUTF8"] = true;
        b["precision"] = 15;
        b["precisionType"] = "significant";
        return b;
    }();
    return builder;
}

} // namespace

std::string RequestBody(const WebhookEvent& event) {
    Json::Value json;
    event.buildJson(json);
    const std::unique_ptr<Json::StreamWriter> writer(RequestWriterBuilder().newStreamWriter());
    std::ostringstream text;
    writer->write(json, &text);
    return text.str();
}

} // namespace Webhooks
} // namespace Tarn
