// Request bodies of the events: what buildJson writes, the name each event travels under, and the
// compact text that goes over the wire.
#include "WireFormat.h"

#include "OrvLib.h"
#include "ToJSON.h"

#include <cstddef>
#include <typeinfo>
#include <utility>
#include <vector>

namespace Tarn {
namespace Webhooks {

namespace {

// Each body is described once, by the Write functions below, into a Json::Value; RequestBody is
// its compact text. Members are listed in the order jsoncpp keeps object keys (ascending bytes),
// which is the order they have always been sent in.

class ValueOut {
public:
    explicit ValueOut(Json::Value& root) : root_(root) {}

    void BeginObject(const char* key) { Open(key, Json::objectValue); }
    void BeginArray(const char* key) { Open(key, Json::arrayValue); }
    void EndObject() { stack_.pop_back(); }
    void EndArray() { stack_.pop_back(); }

    void Put(const char* key, int32_t value) { Slot(key) = Json::Value(static_cast<Json::Int>(value)); }
    void Put(const char* key, int64_t value) { Slot(key) = Json::Value(static_cast<Json::Int64>(value)); }
    void Put(const char* key, double value) { Slot(key) = Json::Value(value); }
    void Put(const char* key, bool value) { Slot(key) = Json::Value(value); }
    void Put(const char* key, const std::string& value) { Slot(key) = Json::Value(value); }
    void Put(const char* key, const char* value) = delete; // would be taken for a bool

    // The failed event inside an error report: its own buildJson, {} when there is none.
    void PutEvent(const char* key, const WebhookEvent* event) {
        Json::Value body(Json::objectValue);
        if (event)
            event->buildJson(body);
        Slot(key) = std::move(body);
    }

private:
    // Keys are literals: jsoncpp keeps a pointer to each instead of a copy of its own. The
    // values live in std::map nodes, so the pointers on the stack stay valid.
    Json::Value& Slot(const char* key) {
        if (stack_.empty())
            return root_;
        Json::Value& parent = *stack_.back();
        return key ? parent[Json::StaticString(key)] : parent.append(Json::Value());
    }

    void Open(const char* key, Json::ValueType type) {
        Json::Value& value = Slot(key);
        value = Json::Value(type);
        stack_.push_back(&value);
    }

    Json::Value& root_;
    std::vector<Json::Value*> stack_;
};

// A null Uuid is never sent.
void PutUuid(ValueOut& out, const char* key, const Uuid& id) {
    if (!id.IsNull())
        out.Put(key, id.ToString());
}

void PutUuid(ValueOut& out, const char* key, const boost::optional<Uuid>& id) {
    if (id)
        PutUuid(out, key, *id);
}

// Absent optionals are omitted, never written as null.
template <typename T> void PutOptional(ValueOut& out, const char* key, const boost::optional<T>& value) {
    if (value)
        out.Put(key, *value);
}

void WriteDiscount(ValueOut& out, const char* key, const ExternalDiscount& discount) {
    out.BeginObject(key);
    PutOptional(out, "discountAmount", discount.discountAmount);
    out.Put("discountDescription", discount.discountDescription);
    PutUuid(out, "discountId", discount.discountId);
    PutOptional(out, "discountPercentage", discount.discountPercentage);
    PutUuid(out, "discountSetId", discount.discountSetId);
    out.EndObject();
}

// reservedText stays at home: the tester never sends reserved fields.
void WriteLine(ValueOut& out, const char* key, const SessionLine& line) {
    out.BeginObject(key);
    PutOptional(out, "articleNumber", line.articleNumber);
    PutOptional(out, "discountAmount", line.discountAmount);
    PutOptional(out, "discountPercentage", line.discountPercentage);
    PutOptional(out, "extArticleId", line.extArticleId);
    if (line.externalDiscount)
        WriteDiscount(out, "externalDiscount", *line.externalDiscount);
    PutUuid(out, "lineId", line.lineId);
    PutUuid(out, "lineSetId", line.lineSetId);
    PutOptional(out, "pluNumber", line.pluNumber);
    PutOptional(out, "priceIncl", line.priceIncl);
    PutOptional(out, "quantity", line.quantity);
    PutOptional(out, "supplierArticleNumber", line.supplierArticleNumber);
    out.Put("text", line.text);
    PutOptional(out, "totalAmount", line.totalAmount);
    PutOptional(out, "vatCode", line.vatCode);
    PutOptional(out, "vatPercentage", line.vatPercentage);
    out.EndObject();
}

void WriteHeader(ValueOut& out, const Event& header) {
    out.BeginObject("header");
    out.Put("blockingCall", header.blockingCall);
    out.Put("eventCounter", header.eventCounter);
    out.Put("timestamp", orvlib::FormatIso8601(header.timestamp));
    out.EndObject();
}

void WriteSender(ValueOut& out, const Sender& sender) {
    out.BeginObject("sender");
    out.Put("branchNumber", sender.branchNumber);
    PutUuid(out, "senderId", sender.senderId);
    out.Put("workplaceNumber", sender.workplaceNumber);
    out.EndObject();
}

// relation, table, order, invoice and cafeteriaOrder are never filled by the tester and not sent.
void WriteSession(ValueOut& out, const Session& session) {
    out.BeginObject("session");
    out.BeginArray("lines");
    for (const SessionLine& line : session.lines)
        WriteLine(out, nullptr, line);
    out.EndArray();
    PutUuid(out, "sessionId", session.sessionId);
    PutOptional(out, "totalAmount", session.totalAmount);
    out.EndObject();
}

void WritePayments(ValueOut& out, const std::vector<Payment>& payments) {
    out.BeginObject("request");
    out.BeginArray("payments");
    for (const Payment& payment : payments) {
        out.BeginObject(nullptr);
        out.Put("amount", payment.amount);
        out.Put("description", payment.description);
        out.Put("paymentKind", payment.paymentKind);
        out.Put("paymentMethod", payment.paymentMethod);
        out.EndObject();
    }
    out.EndArray();
    out.EndObject();
}

void WriteLineRequest(ValueOut& out, const SessionLine& line) {
    out.BeginObject("request");
    WriteLine(out, "line", line);
    out.EndObject();
}

// An event's own part goes under "externalPayment" or under "request".
enum class OwnPart { None, ExternalPayment, Request };

struct NoOwnPart {
    void operator()(ValueOut&) const {}
};

// The members every event has, in key order, with the event's own part in its place.
template <typename WriteOwn>
void WriteEvent(ValueOut& out, const DefaultEvent& event, OwnPart own, const WriteOwn& writeOwn) {
    out.BeginObject(nullptr);
    if (event.dialog) {
        out.BeginObject("dialog");
        out.BeginArray("optionIds");
        for (int32_t id : event.dialog->optionIds)
            out.Put(nullptr, id);
        out.EndArray();
        out.EndObject();
    }
    if (own == OwnPart::ExternalPayment)
        writeOwn(out);
    WriteHeader(out, event.header);
    if (own == OwnPart::Request)
        writeOwn(out);
    WriteSender(out, event.sender);
    WriteSession(out, event.session);
    out.EndObject();
}

void Write(ValueOut& out, const DefaultEvent& event) {
    WriteEvent(out, event, OwnPart::None, NoOwnPart());
}

void Write(ValueOut& out, const ScanCodeEvent& event) {
    WriteEvent(out, event, OwnPart::Request, [&event](ValueOut& o) {
        o.BeginObject("request");
        o.Put("code", event.request.code);
        o.Put("codeType", event.request.codeType);
        o.EndObject();
    });
}

template <typename E> void WriteLineEvent(ValueOut& out, const E& event) {
    WriteEvent(out, event, OwnPart::Request,
               [&event](ValueOut& o) { WriteLineRequest(o, event.request.line); });
}
void Write(ValueOut& out, const AddSessionLineEvent& event) {
    WriteLineEvent(out, event);
}
void Write(ValueOut& out, const UpdateSessionLineEvent& event) {
    WriteLineEvent(out, event);
}
void Write(ValueOut& out, const RemoveSessionLineEvent& event) {
    WriteLineEvent(out, event);
}

void Write(ValueOut& out, const MergeSessionEvent& event) {
    WriteEvent(out, event, OwnPart::Request, [&event](ValueOut& o) {
        o.BeginObject("request");
        PutUuid(o, "mergedSessionId", event.request.mergedSessionId);
        o.EndObject();
    });
}

template <typename E> void WritePaymentsEvent(ValueOut& out, const E& event) {
    WriteEvent(out, event, OwnPart::Request,
               [&event](ValueOut& o) { WritePayments(o, event.request.payments); });
}
void Write(ValueOut& out, const CompleteSessionEvent& event) {
    WritePaymentsEvent(out, event);
}
void Write(ValueOut& out, const CreditSessionEvent& event) {
    WritePaymentsEvent(out, event);
}

void Write(ValueOut& out, const ExternalPaymentEvent& event) {
    WriteEvent(out, event, OwnPart::ExternalPayment, [&event](ValueOut& o) {
        const ExternalPayment& payment = event.externalPayment;
        o.BeginObject("externalPayment");
        PutOptional(o, "amount", payment.amount);
        PutOptional(o, "description", payment.description);
        PutUuid(o, "externalPaymentId", payment.externalPaymentId);
        PutOptional(o, "method", payment.method);
        o.EndObject();
    });
}

void Write(ValueOut& out, const ErrorEvent& event) {
    out.BeginObject(nullptr);
    out.BeginObject("error");
    out.Put("errorCode", event.error.errorCode);
    out.Put("message", event.error.message);
    out.EndObject();
    out.PutEvent("event", event.event.get());
    out.Put("eventName", event.event ? EventNameOf(*event.event) : std::string());
    out.EndObject();
}

template <typename E> void Build(const E& event, Json::Value& json) {
    ValueOut out(json);
    Write(out, event);
}

template <typename E> bool Is(const WebhookEvent& event) {
    return dynamic_cast<const E*>(&event) != nullptr;
}

template <typename E> const std::type_info& TypeOf() {
    return typeid(E);
}

struct EventName {
    bool (*matches)(const WebhookEvent&);
    const std::type_info& (*type)();
    const char* name;
};

// Only concrete event kinds have a name; the intermediate classes share the name of no event.
const EventName kEventNames[] = {
    {Is<StartSessionEvent>, TypeOf<StartSessionEvent>, "startSession"},
    {Is<ScanCodeEvent>, TypeOf<ScanCodeEvent>, "scanCode"},
    {Is<AddSessionLineEvent>, TypeOf<AddSessionLineEvent>, "addSessionLine"},
    {Is<UpdateSessionLineEvent>, TypeOf<UpdateSessionLineEvent>, "updateSessionLine"},
    {Is<RemoveSessionLineEvent>, TypeOf<RemoveSessionLineEvent>, "removeSessionLine"},
    {Is<PauseSessionEvent>, TypeOf<PauseSessionEvent>, "pauseSession"},
    {Is<ResumeSessionEvent>, TypeOf<ResumeSessionEvent>, "resumeSession"},
    {Is<StartPaymentEvent>, TypeOf<StartPaymentEvent>, "startPayment"},
    {Is<CancelPaymentEvent>, TypeOf<CancelPaymentEvent>, "cancelPayment"},
    {Is<MergeSessionEvent>, TypeOf<MergeSessionEvent>, "mergeSession"},
    {Is<CancelSessionEvent>, TypeOf<CancelSessionEvent>, "cancelSession"},
    {Is<CompleteSessionEvent>, TypeOf<CompleteSessionEvent>, "completeSession"},
    {Is<CreditSessionEvent>, TypeOf<CreditSessionEvent>, "creditSession"},
    {Is<StartExternalPaymentEvent>, TypeOf<StartExternalPaymentEvent>, "startExternalPayment"},
    {Is<PollExternalPaymentEvent>, TypeOf<PollExternalPaymentEvent>, "pollExternalPayment"},
    {Is<RequestCancelExternalPaymentEvent>, TypeOf<RequestCancelExternalPaymentEvent>,
     "requestCancelExternalPayment"},
    {Is<CancelExternalPaymentEvent>, TypeOf<CancelExternalPaymentEvent>, "cancelExternalPayment"},
    {Is<ErrorEvent>, TypeOf<ErrorEvent>, "error"},
};

} // namespace

void DefaultEvent::buildJson(Json::Value& json) const {
    Build(*this, json);
}

void ScanCodeEvent::buildJson(Json::Value& json) const {
    Build(*this, json);
}

void AddSessionLineEvent::buildJson(Json::Value& json) const {
    Build(*this, json);
}

void UpdateSessionLineEvent::buildJson(Json::Value& json) const {
    Build(*this, json);
}

void RemoveSessionLineEvent::buildJson(Json::Value& json) const {
    Build(*this, json);
}

void MergeSessionEvent::buildJson(Json::Value& json) const {
    Build(*this, json);
}

void CompleteSessionEvent::buildJson(Json::Value& json) const {
    Build(*this, json);
}

void CreditSessionEvent::buildJson(Json::Value& json) const {
    Build(*this, json);
}

void ExternalPaymentEvent::buildJson(Json::Value& json) const {
    Build(*this, json);
}

void ErrorEvent::buildJson(Json::Value& json) const {
    Build(*this, json);
}

std::string EventNameOf(const WebhookEvent& event) {
    // The kind itself first: a failed dynamic_cast walks the hierarchy, and every send asks.
    const std::type_info& type = typeid(event);
    for (const EventName& entry : kEventNames) {
        if (entry.type() == type)
            return entry.name;
    }
    for (const EventName& entry : kEventNames) {
        if (entry.matches(event))
            return entry.name;
    }
    return std::string();
}

std::string RequestBody(const WebhookEvent& event) {
    Json::Value json;
    event.buildJson(json);
    return ToJSONString(json);
}

} // namespace Webhooks
} // namespace Tarn
