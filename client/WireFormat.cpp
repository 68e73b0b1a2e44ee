// Request bodies of the events: what buildJson writes, the name each event travels under, and the
// compact text that goes over the wire.
#include "WireFormat.h"

#include "OrvLib.h"
#include "ToJSON.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <typeinfo>
#include <utility>
#include <vector>

namespace Tarn {
namespace Webhooks {

namespace {

// Each body is described once, by the Write functions below, for two outputs: a Json::Value
// (buildJson) and the compact text that goes over the wire (RequestBody), written straight: a
// tree built only to be written out cost each poll more than anything else the client adds to
// its exchange. Members are listed in the order jsoncpp keeps object keys (ascending bytes),
// which is the order they have always been sent in; the text has no map to sort them.

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

void AppendEventText(const WebhookEvent& event, std::string& text);

// As jsoncpp writes a double with 15 significant digits: FormatDouble's "%.15g" in the C locale,
// the sign of a zero kept (FormatDouble drops it), a real kept recognisable as one (21 goes out
// as "21.0"), and jsoncpp's words for what no JSON number stands for.
void AppendReal(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "null";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-1e+9999" : "1e+9999";
        return;
    }
    const std::string shown = value == 0.0 && std::signbit(value) ? "-0" : orvlib::FormatDouble(value, '.');
    out += shown;
    if (shown.find_first_of(".e") == std::string::npos)
        out += ".0";
}

class TextOut {
public:
    explicit TextOut(std::string& text) : text_(text) {}

    void BeginObject(const char* key) { Open(key, '{'); }
    void BeginArray(const char* key) { Open(key, '['); }
    void EndObject() { Close('}'); }
    void EndArray() { Close(']'); }

    void Put(const char* key, int32_t value) { PutInteger(key, value); }
    void Put(const char* key, int64_t value) { PutInteger(key, value); }
    void Put(const char* key, double value) {
        Next(key);
        AppendReal(text_, value);
    }
    void Put(const char* key, bool value) {
        Next(key);
        text_ += value ? "true" : "false";
    }
    void Put(const char* key, const std::string& value) {
        Next(key);
        AppendJsonString(text_, value);
    }
    void Put(const char* key, const char* value) = delete; // would be taken for a bool

    void PutEvent(const char* key, const WebhookEvent* event) {
        Next(key);
        if (event)
            AppendEventText(*event, text_);
        else
            text_ += "{}";
    }

private:
    template <typename Integer> void PutInteger(const char* key, Integer value) {
        Next(key);
        char buffer[24];
        text_.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
    }

    // The separator before a member or an item, and a member's key: a literal that needs no
    // escaping.
    void Next(const char* key) {
        if (!firstInside_.empty()) {
            if (!firstInside_.back())
                text_ += ',';
            firstInside_.back() = false;
        }
        if (key) {
            text_ += '"';
            text_ += key;
            text_ += "\":";
        }
    }

    void Open(const char* key, char bracket) {
        Next(key);
        text_ += bracket;
        firstInside_.push_back(true);
    }

    void Close(char bracket) {
        text_ += bracket;
        firstInside_.pop_back();
    }

    std::string& text_;
    std::vector<bool> firstInside_; // one per open object or array
};

// A null Uuid is never sent.
template <typename Out> void PutUuid(Out& out, const char* key, const Uuid& id) {
    if (!id.IsNull())
        out.Put(key, id.ToString());
}

template <typename Out> void PutUuid(Out& out, const char* key, const boost::optional<Uuid>& id) {
    if (id)
        PutUuid(out, key, *id);
}

// Absent optionals are omitted, never written as null.
template <typename Out, typename T>
void PutOptional(Out& out, const char* key, const boost::optional<T>& value) {
    if (value)
        out.Put(key, *value);
}

template <typename Out> void WriteDiscount(Out& out, const char* key, const ExternalDiscount& discount) {
    out.BeginObject(key);
    PutOptional(out, "discountAmount", discount.discountAmount);
    out.Put("discountDescription", discount.discountDescription);
    PutUuid(out, "discountId", discount.discountId);
    PutOptional(out, "discountPercentage", discount.discountPercentage);
    PutUuid(out, "discountSetId", discount.discountSetId);
    out.EndObject();
}

// reservedText stays at home: the tester never sends reserved fields.
template <typename Out> void WriteLine(Out& out, const char* key, const SessionLine& line) {
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

template <typename Out> void WriteHeader(Out& out, const Event& header) {
    out.BeginObject("header");
    out.Put("blockingCall", header.blockingCall);
    out.Put("eventCounter", header.eventCounter);
    out.Put("timestamp", orvlib::FormatIso8601(header.timestamp));
    out.EndObject();
}

template <typename Out> void WriteSender(Out& out, const Sender& sender) {
    out.BeginObject("sender");
    out.Put("branchNumber", sender.branchNumber);
    PutUuid(out, "senderId", sender.senderId);
    out.Put("workplaceNumber", sender.workplaceNumber);
    out.EndObject();
}

// relation, table, order, invoice and cafeteriaOrder are never filled by the tester and not sent.
template <typename Out> void WriteSession(Out& out, const Session& session) {
    out.BeginObject("session");
    out.BeginArray("lines");
    for (const SessionLine& line : session.lines)
        WriteLine(out, nullptr, line);
    out.EndArray();
    PutUuid(out, "sessionId", session.sessionId);
    PutOptional(out, "totalAmount", session.totalAmount);
    out.EndObject();
}

template <typename Out> void WritePayments(Out& out, const std::vector<Payment>& payments) {
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

template <typename Out> void WriteLineRequest(Out& out, const SessionLine& line) {
    out.BeginObject("request");
    WriteLine(out, "line", line);
    out.EndObject();
}

// An event's own part goes under "externalPayment" or under "request".
enum class OwnPart { None, ExternalPayment, Request };

struct NoOwnPart {
    template <typename Out> void operator()(Out&) const {}
};

// The members every event has, in key order, with the event's own part in its place.
template <typename Out, typename WriteOwn>
void WriteEvent(Out& out, const DefaultEvent& event, OwnPart own, const WriteOwn& writeOwn) {
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

template <typename Out> void Write(Out& out, const DefaultEvent& event) {
    WriteEvent(out, event, OwnPart::None, NoOwnPart());
}

template <typename Out> void Write(Out& out, const ScanCodeEvent& event) {
    WriteEvent(out, event, OwnPart::Request, [&event](auto& o) {
        o.BeginObject("request");
        o.Put("code", event.request.code);
        o.Put("codeType", event.request.codeType);
        o.EndObject();
    });
}

template <typename Out, typename E> void WriteLineEvent(Out& out, const E& event) {
    WriteEvent(out, event, OwnPart::Request, [&event](auto& o) { WriteLineRequest(o, event.request.line); });
}
template <typename Out> void Write(Out& out, const AddSessionLineEvent& event) {
    WriteLineEvent(out, event);
}
template <typename Out> void Write(Out& out, const UpdateSessionLineEvent& event) {
    WriteLineEvent(out, event);
}
template <typename Out> void Write(Out& out, const RemoveSessionLineEvent& event) {
    WriteLineEvent(out, event);
}

template <typename Out> void Write(Out& out, const MergeSessionEvent& event) {
    WriteEvent(out, event, OwnPart::Request, [&event](auto& o) {
        o.BeginObject("request");
        PutUuid(o, "mergedSessionId", event.request.mergedSessionId);
        o.EndObject();
    });
}

template <typename Out, typename E> void WritePaymentsEvent(Out& out, const E& event) {
    WriteEvent(out, event, OwnPart::Request, [&event](auto& o) { WritePayments(o, event.request.payments); });
}
template <typename Out> void Write(Out& out, const CompleteSessionEvent& event) {
    WritePaymentsEvent(out, event);
}
template <typename Out> void Write(Out& out, const CreditSessionEvent& event) {
    WritePaymentsEvent(out, event);
}

template <typename Out> void Write(Out& out, const ExternalPaymentEvent& event) {
    WriteEvent(out, event, OwnPart::ExternalPayment, [&event](auto& o) {
        const ExternalPayment& payment = event.externalPayment;
        o.BeginObject("externalPayment");
        PutOptional(o, "amount", payment.amount);
        PutOptional(o, "description", payment.description);
        PutUuid(o, "externalPaymentId", payment.externalPaymentId);
        PutOptional(o, "method", payment.method);
        o.EndObject();
    });
}

template <typename Out> void Write(Out& out, const ErrorEvent& event) {
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

template <typename E> void WriteText(const WebhookEvent& event, std::string& text) {
    TextOut out(text);
    Write(out, static_cast<const E&>(event));
}

struct EventKind {
    bool (*matches)(const WebhookEvent&);
    const std::type_info& (*type)();
    void (*writeText)(const WebhookEvent&, std::string&);
    const char* name;
};

template <typename E> constexpr EventKind Kind(const char* name) {
    return EventKind{Is<E>, TypeOf<E>, WriteText<E>, name};
}

// Only concrete event kinds have a name; the intermediate classes share the name of no event.
const EventKind kEventKinds[] = {
    Kind<StartSessionEvent>("startSession"),
    Kind<ScanCodeEvent>("scanCode"),
    Kind<AddSessionLineEvent>("addSessionLine"),
    Kind<UpdateSessionLineEvent>("updateSessionLine"),
    Kind<RemoveSessionLineEvent>("removeSessionLine"),
    Kind<PauseSessionEvent>("pauseSession"),
    Kind<ResumeSessionEvent>("resumeSession"),
    Kind<StartPaymentEvent>("startPayment"),
    Kind<CancelPaymentEvent>("cancelPayment"),
    Kind<MergeSessionEvent>("mergeSession"),
    Kind<CancelSessionEvent>("cancelSession"),
    Kind<CompleteSessionEvent>("completeSession"),
    Kind<CreditSessionEvent>("creditSession"),
    Kind<StartExternalPaymentEvent>("startExternalPayment"),
    Kind<PollExternalPaymentEvent>("pollExternalPayment"),
    Kind<RequestCancelExternalPaymentEvent>("requestCancelExternalPayment"),
    Kind<CancelExternalPaymentEvent>("cancelExternalPayment"),
    Kind<ErrorEvent>("error"),
};

// The entry of the event's own kind; none for an intermediate class or a kind from elsewhere.
const EventKind* ExactKind(const WebhookEvent& event) {
    const std::type_info& type = typeid(event);
    for (const EventKind& kind : kEventKinds) {
        if (kind.type() == type)
            return &kind;
    }
    return nullptr;
}

// A kind of this library's is written straight; any other kind through its own buildJson.
void AppendEventText(const WebhookEvent& event, std::string& text) {
    if (const EventKind* kind = ExactKind(event)) {
        kind->writeText(event, text);
        return;
    }
    Json::Value json;
    event.buildJson(json);
    text += ToJSONString(json);
}

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
    if (const EventKind* kind = ExactKind(event))
        return kind->name;
    for (const EventKind& kind : kEventKinds) {
        if (kind.matches(event))
            return kind.name;
    }
    return std::string();
}

std::string RequestBody(const WebhookEvent& event) {
    std::string text;
    text.reserve(1024); // an event with a few lines
    AppendEventText(event, text);
    return text;
}

} // namespace Webhooks
} // namespace Tarn
