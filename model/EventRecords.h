#pragma once

#include "OrvLib.h"
#include "SessionRecords.h"

#include <boost/optional.hpp>

#include <cstdint>
#include <vector>

namespace Json {
class Value;
}

namespace Tarn {
namespace Webhooks {

// The event header.
struct Event {
    int64_t eventCounter = 0;
    double timestamp = orvlib::Now(); // taken when the record is constructed
    bool blockingCall = false;
    bool reservedFlag = false;
};

// Who sends the event.
struct Sender {
    int32_t branchNumber = 0;
    int32_t workplaceNumber = 0;
    Uuid senderId;
};

// The till's answer to a dialog: the chosen option ids in button order.
struct DialogReq {
    std::vector<int32_t> optionIds;
};

struct ScanCodeReq {
    UTF8String codeType;
    UTF8String code;
};

struct AddSessionLineReq {
    SessionLine line;
};

struct UpdateSessionLineReq {
    SessionLine line;
};

struct RemoveSessionLineReq {
    SessionLine line;
};

struct MergeSessionReq {
    Uuid mergedSessionId;
};

struct CompleteSessionReq {
    std::vector<Payment> payments;
};

struct CreditSessionReq {
    std::vector<Payment> payments;
};

// The polymorphic root of every event; buildJson writes the event's request body.
// Events are owned through shared pointers made from their concrete type.
class WebhookEvent {
public:
    WebhookEvent() = default;
    WebhookEvent(const WebhookEvent&) = default;
    WebhookEvent& operator=(const WebhookEvent&) = default;
    virtual ~WebhookEvent() = default;

    virtual void buildJson(Json::Value& json) const = 0;
};

class DefaultEvent : public WebhookEvent {
public:
    Event header;
    Sender sender;
    Session session;
    boost::optional<DialogReq> dialog;

    void buildJson(Json::Value& json) const override;
};

class StartSessionEvent : public DefaultEvent {};
class PauseSessionEvent : public DefaultEvent {};
class ResumeSessionEvent : public DefaultEvent {};
class StartPaymentEvent : public DefaultEvent {};
class CancelPaymentEvent : public DefaultEvent {};
class CancelSessionEvent : public DefaultEvent {};

class ScanCodeEvent : public DefaultEvent {
public:
    ScanCodeReq request;
    void buildJson(Json::Value& json) const override;
};

class AddSessionLineEvent : public DefaultEvent {
public:
    AddSessionLineReq request;
    void buildJson(Json::Value& json) const override;
};

class UpdateSessionLineEvent : public DefaultEvent {
public:
    UpdateSessionLineReq request;
    void buildJson(Json::Value& json) const override;
};

class RemoveSessionLineEvent : public DefaultEvent {
public:
    RemoveSessionLineReq request;
    void buildJson(Json::Value& json) const override;
};

class MergeSessionEvent : public DefaultEvent {
public:
    MergeSessionReq request;
    void buildJson(Json::Value& json) const override;
};

class CompleteSessionEvent : public DefaultEvent {
public:
    CompleteSessionReq request;
    void buildJson(Json::Value& json) const override;
};

class CreditSessionEvent : public DefaultEvent {
public:
    CreditSessionReq request;
    void buildJson(Json::Value& json) const override;
};

class ExternalPaymentEvent : public DefaultEvent {
public:
    ExternalPayment externalPayment;
    void buildJson(Json::Value& json) const override;
};

class StartExternalPaymentEvent : public ExternalPaymentEvent {};
class PollExternalPaymentEvent : public ExternalPaymentEvent {};
class RequestCancelExternalPaymentEvent : public ExternalPaymentEvent {};
class CancelExternalPaymentEvent : public ExternalPaymentEvent {};

} // namespace Webhooks
} // namespace Tarn
