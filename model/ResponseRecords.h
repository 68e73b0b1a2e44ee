#pragma once

#include "EventRecords.h"
#include "SessionRecords.h"

#include <boost/optional.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/variant.hpp>

#include <cstdint>
#include <vector>

namespace Tarn {
namespace Webhooks {

// An external discount as the consumer sends it.
struct ExternalDiscountResp {
    Uuid discountId;
    boost::optional<double> quantity;
    boost::optional<double> discountPercentage;
    boost::optional<double> discountAmount;
    UTF8String discountDescription;
    bool removeDiscount = false;
};

struct LineChangeResp {
    Uuid id;
    Uuid lineId;
    boost::optional<ExternalDiscountResp> externalDiscount;
};

struct LineAdditionResp {
    Uuid id;
    boost::optional<Uuid> lineId;
    boost::optional<int64_t> articleNumber;
    boost::optional<UTF8String> text;
    boost::optional<double> priceIncl;
    boost::optional<double> reservedAmount;
    boost::optional<int32_t> vatCode;
    boost::optional<double> vatPercentage;
    boost::optional<UTF8String> reservedText;
    boost::optional<UTF8String> supplierArticleNumber;
    boost::optional<UTF8String> pluNumber;
    boost::optional<UTF8String> extArticleId;
    boost::optional<ExternalDiscountResp> externalDiscount;
};

struct LineDeletionResp {
    Uuid id;
    Uuid lineId;
};

struct LockSessionResp {
    Uuid id;
    int32_t reservedNumber = 0;
};

// Common virtual base of the answers that can change the session.
struct BaseResp {
    virtual ~BaseResp() = default;
};

// The ordinary answer of a consumer.
struct DefaultResp : virtual BaseResp {
    std::vector<LineChangeResp> lineChanges;
    std::vector<LineAdditionResp> lineAdditions;
    std::vector<LineDeletionResp> lineDeletions;
    boost::optional<LockSessionResp> lockSession;
};

struct ScanCodeResp : virtual DefaultResp {
    // Assignment copies: a defaulted move assignment would move the virtual base, which GCC
    // flags (-Wvirtual-move-assign) wherever a result holding this answer is move-assigned.
    ScanCodeResp() = default;
    ScanCodeResp(const ScanCodeResp&) = default;
    ScanCodeResp(ScanCodeResp&&) = default;
    ScanCodeResp& operator=(const ScanCodeResp&) = default;

    bool recognized = false;
    UTF8String customerMessage;
    UTF8String message;
    boost::optional<int64_t> relationNumber;
};

struct BarcodeResp {
    UTF8String barcodeType;
    UTF8String barcodeValue;
};

struct ReceiptFooterResp {
    Uuid id;
    boost::optional<UTF8String> text;
    boost::optional<BarcodeResp> barcode;
};

struct CompleteSessionResp : virtual DefaultResp {
    CompleteSessionResp() = default;
    CompleteSessionResp(const CompleteSessionResp&) = default;
    CompleteSessionResp(CompleteSessionResp&&) = default;
    CompleteSessionResp& operator=(const CompleteSessionResp&) = default;

    std::vector<ReceiptFooterResp> receiptFooters;
};

struct ExternalPaymentResp : virtual DefaultResp {
    ExternalPaymentResp() = default;
    ExternalPaymentResp(const ExternalPaymentResp&) = default;
    ExternalPaymentResp(ExternalPaymentResp&&) = default;
    ExternalPaymentResp& operator=(const ExternalPaymentResp&) = default;

    Uuid externalPaymentId;
    boost::optional<bool> started;
    boost::optional<bool> confirmed;
    boost::optional<bool> cancelled;
    boost::optional<UTF8String> message;
    boost::optional<UTF8String> customerMessage;
};

struct DialogOption {
    int32_t id = 0;
    UTF8String text;
};

// The consumer asks the till to show a dialog.
struct DialogResp {
    bool required = false;
    bool allowMultipleOptions = false;
    boost::optional<int32_t> reservedNumber;
    UTF8String dialogTitle;
    std::vector<DialogOption> options;
};

// The consumer reports an error.
struct ErrorResp {
    UTF8String errorCode;
    UTF8String message;
};

// One answer per event kind; the alternatives' order gives their index.
using StartSessionResult = boost::variant<DefaultResp, DialogResp, ErrorResp>;
using PauseSessionResult = boost::variant<DefaultResp, DialogResp, ErrorResp>;
using ResumeSessionResult = boost::variant<DefaultResp, DialogResp, ErrorResp>;
using StartPaymentResult = boost::variant<DefaultResp, DialogResp, ErrorResp>;
using CancelPaymentResult = boost::variant<DefaultResp, DialogResp, ErrorResp>;
using CancelSessionResult = boost::variant<DefaultResp, DialogResp, ErrorResp>;
using MergeSessionResult = boost::variant<DefaultResp, DialogResp, ErrorResp>;
using AddSessionLineResult = boost::variant<DefaultResp, DialogResp, ErrorResp>;
using UpdateSessionLineResult = boost::variant<DefaultResp, DialogResp, ErrorResp>;
using RemoveSessionLineResult = boost::variant<DefaultResp, DialogResp, ErrorResp>;
using ScanCodeResult = boost::variant<ScanCodeResp, DefaultResp, DialogResp, ErrorResp>;
using CompleteSessionResult = boost::variant<CompleteSessionResp, DefaultResp, DialogResp, ErrorResp>;
using ExternalPaymentResult = boost::variant<ExternalPaymentResp, DefaultResp, DialogResp, ErrorResp>;

struct ParseError {
    UTF8String message;
};

// What a result reader returns: the answer, or why it could not be read, plus the reader's
// remarks (unknown keys and the like), which the window shows in both cases.
template <typename T> struct JsonParseResult {
    bool reservedFlag = false;
    boost::optional<ParseError> parseError;
    boost::optional<T> result;
    std::vector<UTF8String> messages;
};

// An error that the till reports to the consumer.
struct Error {
    Error() = default;
    Error(UTF8String errorCode, UTF8String message) : errorCode(std::move(errorCode)), message(std::move(message)) {}

    UTF8String errorCode;
    UTF8String message;
};

class ErrorEvent : public WebhookEvent {
public:
    Error error;
    boost::shared_ptr<WebhookEvent> event;

    void buildJson(Json::Value& json) const override;
};

} // namespace Webhooks
} // namespace Tarn
