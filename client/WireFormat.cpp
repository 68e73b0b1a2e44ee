// Request bodies of the events: what buildJson writes, the name each event travels under, and the
// compact text that goes over the wire.
#include "WireFormat.h"

#include "OrvLib.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <typeinfo>
#include <utility>
#include <vector>

namespace Tarn {
namespace Webhooks {

namespace {

void AppendQuoted(std::string& out, const char* text, std::size_t size) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    const char* run = text;
    const char* const end = text + size;
    for (const char* p = text; p != end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(run, static_cast<std::size_t>(p - run));
        run = p + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default: {
            const char escape[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
            out.append(escape, sizeof escape);
            break;
        }
        }
    }
    out.append(run, static_cast<std::size_t>(end - run));
    out += '"';
}

template <typename Integer> void AppendInteger(std::string& out, Integer value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendReal(std::string& out, double value) {
    // No JSON number stands for these; jsoncpp writes them so, and the consumer has always seen
    // them this way.
    if (std::isnan(value)) {
        out += "null";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-1e+9999" : "1e+9999";
        return;
    }
    // As printf's "%.15g" in the C locale, whatever the process's locale; FormatDouble drops the
    // sign of a zero, which jsoncpp keeps.
    char buffer[orvlib::kMaxFormattedDouble];
    char* const end = value == 0.0
                          ? std::copy_n(std::signbit(value) ? "-0" : "0", std::signbit(value) ? 2 : 1, buffer)
                          : buffer + orvlib::FormatDouble(value, '.', buffer);
    out.append(buffer, end);
    // A real stays recognisable as one: 21 goes out as "21.0".
    if (std::find_if(buffer, end, [](char c) { return c == '.' || c == 'e'; }) == end)
        out += ".0";
}

} // namespace

void AppendCompactJson(const Json::Value& value, std::string& out) {
    switch (value.type()) {
    case Json::nullValue:
        out += "null";
        break;
    case Json::intValue:
        AppendInteger(out, value.asLargestInt());
        break;
    case Json::uintValue:
        AppendInteger(out, value.asLargestUInt());
        break;
    case Json::realValue:
        AppendReal(out, value.asDouble());
        break;
    case Json::stringValue: {
        const char* begin = nullptr;
        const char* end = nullptr;
        // A string value without storage cannot be built through the API; jsoncpp writes
        // nothing for it, and so does this.
        if (value.getString(&begin, &end))
            AppendQuoted(out, begin, static_cast<std::size_t>(end - begin));
        break;
    }
    case Json::booleanValue:
        out += value.asBool() ? "true" : "false";
        break;
    case Json::arrayValue: {
        out += '[';
        const Json::ArrayIndex size = value.size();
        for (Json::ArrayIndex index = 0; index < size; ++index) {
            if (index > 0)
                out += ',';
            AppendCompactJson(value[index], out);
        }
        out += ']';
        break;
    }
    case Json::objectValue: {
        out += '{';
        bool first = true;
        const auto end = value.end();
        for (auto it = value.begin(); it != end; ++it) {
            if (!first)
                out += ',';
            first = false;
            const char* nameEnd = nullptr;
            const char* name = it.memberName(&nameEnd);
            AppendQuoted(out, name, static_cast<std::size_t>(nameEnd - name));
            out += ':';
            AppendCompactJson(*it, out);
        }
        out += '}';
        break;
    }
    }
}

namespace {

// Each body is described once, by the Write functions below, and written either into a
// Json::Value (buildJson) or straight into the text that goes over the wire (RequestBody): the
// tree and its separate writing cost a press more than everything else the client adds to the
// exchange. Members are listed in the order jsoncpp keeps object keys (ascending bytes), which
// is the order they have always been sent in; the text writer has no map to sort them.

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

class TextOut {
public:
    explicit TextOut(std::string& text) : text_(text) {}

    void BeginObject(const char* key) { Open(key, '{'); }
    void BeginArray(const char* key) { Open(key, '['); }
    void EndObject() { Close('}'); }
    void EndArray() { Close(']'); }

    void Put(const char* key, int32_t value) {
        Next(key);
        AppendInteger(text_, value);
    }
    void Put(const char* key, int64_t value) {
        Next(key);
        AppendInteger(text_, value);
    }
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
        AppendQuoted(text_, value.data(), value.size());
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
    // Nesting deeper than this is not part of any body.
    static constexpr int MaxDepth = 16;

    // The separator before a member or item, and the key of a member.
    void Next(const char* key) {
        if (depth_ > 0) {
            if (!first_[depth_ - 1])
                text_ += ',';
            first_[depth_ - 1] = false;
        }
        if (key) {
            text_ += '"';
            text_ += key; // a literal that needs no escaping
            text_ += "\":";
        }
    }

    void Open(const char* key, char bracket) {
        Next(key);
        text_ += bracket;
        first_[depth_++] = true;
    }

    void Close(char bracket) {
        text_ += bracket;
        --depth_;
    }

    std::string& text_;
    bool first_[MaxDepth] = {};
    int depth_ = 0;
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
    WriteEvent(out, event, OwnPart::Request, [&event](Out& o) {
        o.BeginObject("request");
        o.Put("code", event.request.code);
        o.Put("codeType", event.request.codeType);
        o.EndObject();
    });
}

template <typename Out, typename E> void WriteLineEvent(Out& out, const E& event) {
    WriteEvent(out, event, OwnPart::Request, [&event](Out& o) { WriteLineRequest(o, event.request.line); });
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
    WriteEvent(out, event, OwnPart::Request, [&event](Out& o) {
        o.BeginObject("request");
        PutUuid(o, "mergedSessionId", event.request.mergedSessionId);
        o.EndObject();
    });
}

template <typename Out, typename E> void WritePaymentsEvent(Out& out, const E& event) {
    WriteEvent(out, event, OwnPart::Request, [&event](Out& o) { WritePayments(o, event.request.payments); });
}
template <typename Out> void Write(Out& out, const CompleteSessionEvent& event) {
    WritePaymentsEvent(out, event);
}
template <typename Out> void Write(Out& out, const CreditSessionEvent& event) {
    WritePaymentsEvent(out, event);
}

template <typename Out> void Write(Out& out, const ExternalPaymentEvent& event) {
    WriteEvent(out, event, OwnPart::ExternalPayment, [&event](Out& o) {
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

template <typename E> bool WriteAs(const WebhookEvent& event, std::string& text) {
    if (typeid(event) != typeid(E))
        return false;
    TextOut out(text);
    Write(out, static_cast<const E&>(event));
    return true;
}

// The known kinds are written directly; any other kind through its own buildJson.
void AppendEventText(const WebhookEvent& event, std::string& text) {
    const bool written =
        WriteAs<StartSessionEvent>(event, text) || WriteAs<ScanCodeEvent>(event, text) ||
        WriteAs<AddSessionLineEvent>(event, text) || WriteAs<UpdateSessionLineEvent>(event, text) ||
        WriteAs<RemoveSessionLineEvent>(event, text) || WriteAs<PauseSessionEvent>(event, text) ||
        WriteAs<ResumeSessionEvent>(event, text) || WriteAs<StartPaymentEvent>(event, text) ||
        WriteAs<CancelPaymentEvent>(event, text) || WriteAs<MergeSessionEvent>(event, text) ||
        WriteAs<CancelSessionEvent>(event, text) || WriteAs<CompleteSessionEvent>(event, text) ||
        WriteAs<CreditSessionEvent>(event, text) || WriteAs<StartExternalPaymentEvent>(event, text) ||
        WriteAs<PollExternalPaymentEvent>(event, text) ||
        WriteAs<RequestCancelExternalPaymentEvent>(event, text) ||
        WriteAs<CancelExternalPaymentEvent>(event, text) || WriteAs<ErrorEvent>(event, text);
    if (!written) {
        Json::Value json;
        event.buildJson(json);
        AppendCompactJson(json, text);
    }
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
    std::string text;
    text.reserve(1024); // a typical event with a few lines
    AppendEventText(event, text);
    return text;
}

} // namespace Webhooks
} // namespace Tarn
