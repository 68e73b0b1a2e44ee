// The result readers: one generic reader per answer shape, the sixteen parse functions being
// thin wrappers around it.
#include "WireFormat.h"

#include <boost/optional.hpp>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace Tarn {
namespace Webhooks {

namespace {

using Messages = std::vector<UTF8String>;

// Abandons the answer; caught once by the reader at the top.
struct ReadFailure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& path, const char* what) {
    throw ReadFailure{path + ": " + what};
}

std::string Child(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}

std::string Element(const std::string& path, Json::ArrayIndex index) {
    return path + "[" + std::to_string(index) + "]";
}

// The member's value, or nullptr when the key is missing or null (null counts as absent).
const Json::Value* Find(const Json::Value& object, const char* key) {
    const Json::Value* value = object.find(key, key + std::strlen(key));
    return value != nullptr && !value->isNull() ? value : nullptr;
}

bool IsNumber(const Json::Value& value) {
    const Json::ValueType type = value.type();
    return type == Json::intValue || type == Json::uintValue || type == Json::realValue;
}

// The all-zero UUID is a well-formed UUID string; the Uuid class reads it as null.
bool IsNilUuidText(const std::string& text) {
    std::string bare = text;
    if (bare.size() == 38 && bare.front() == '{' && bare.back() == '}')
        bare = bare.substr(1, 36);
    if (bare.size() != 36)
        return false;
    for (std::size_t i = 0; i < bare.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (bare[i] != (dash ? '-' : '0'))
            return false;
    }
    return true;
}

int64_t ReadInteger(const Json::Value& value, const std::string& path, int64_t min, int64_t max) {
    switch (value.type()) {
    case Json::intValue: {
        const int64_t n = value.asInt64();
        if (n < min || n > max)
            Fail(path, "integer out of range");
        return n;
    }
    case Json::uintValue: {
        const uint64_t n = value.asUInt64();
        if (n > static_cast<uint64_t>(max))
            Fail(path, "integer out of range");
        return static_cast<int64_t>(n);
    }
    case Json::realValue: {
        // A zero fraction (2.0) is still an integer.
        const double d = value.asDouble();
        if (std::isnan(d) || (std::isfinite(d) && d != std::trunc(d)))
            Fail(path, "expected an integer");
        // -2^63 and 2^63 are exact doubles; the int64 range lies between them.
        if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
            Fail(path, "integer out of range");
        const int64_t n = static_cast<int64_t>(d);
        if (n < min || n > max)
            Fail(path, "integer out of range");
        return n;
    }
    default:
        Fail(path, "expected an integer");
    }
}

// Scalar fields.

void ReadValue(Messages&, const Json::Value& value, const std::string& path, UTF8String& out) {
    if (!value.isString())
        Fail(path, "expected a string");
    out = value.asString();
}

void ReadValue(Messages&, const Json::Value& value, const std::string& path, bool& out) {
    if (!value.isBool())
        Fail(path, "expected a boolean");
    out = value.asBool();
}

void ReadValue(Messages&, const Json::Value& value, const std::string& path, int32_t& out) {
    out = static_cast<int32_t>(
        ReadInteger(value, path, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

void ReadValue(Messages&, const Json::Value& value, const std::string& path, int64_t& out) {
    out = ReadInteger(value, path, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
}

void ReadValue(Messages&, const Json::Value& value, const std::string& path, double& out) {
    if (!IsNumber(value))
        Fail(path, "expected a number");
    out = value.asDouble();
}

void ReadValue(Messages&, const Json::Value& value, const std::string& path, Uuid& out) {
    if (value.isString()) {
        const std::string text = value.asString();
        const Uuid id(text);
        if (!id.IsNull() || IsNilUuidText(text)) {
            out = id;
            return;
        }
    }
    Fail(path, "expected a UUID string");
}

// An optional id given as the all-zero UUID names nothing: it stays absent.
void ReadValue(Messages& messages, const Json::Value& value, const std::string& path,
               boost::optional<Uuid>& out) {
    Uuid id;
    ReadValue(messages, value, path, id);
    if (id.IsNull())
        out = boost::none;
    else
        out = id;
}

// Records, defined below; declared here so that the list and optional readers find them.
void ReadValue(Messages&, const Json::Value&, const std::string&, ExternalDiscountResp&);
void ReadValue(Messages&, const Json::Value&, const std::string&, LineChangeResp&);
void ReadValue(Messages&, const Json::Value&, const std::string&, LineAdditionResp&);
void ReadValue(Messages&, const Json::Value&, const std::string&, LineDeletionResp&);
void ReadValue(Messages&, const Json::Value&, const std::string&, LockSessionResp&);
void ReadValue(Messages&, const Json::Value&, const std::string&, BarcodeResp&);
void ReadValue(Messages&, const Json::Value&, const std::string&, ReceiptFooterResp&);
void ReadValue(Messages&, const Json::Value&, const std::string&, DialogOption&);
void ReadValue(Messages&, const Json::Value&, const std::string&, DialogResp&);
void ReadValue(Messages&, const Json::Value&, const std::string&, ErrorResp&);

template <typename T>
void ReadValue(Messages& messages, const Json::Value& value, const std::string& path,
               boost::optional<T>& out) {
    T item{};
    ReadValue(messages, value, path, item);
    out = std::move(item);
}

template <typename T>
void ReadValue(Messages& messages, const Json::Value& value, const std::string& path, std::vector<T>& out) {
    if (!value.isArray())
        Fail(path, "expected an array");
    out.clear();
    out.reserve(value.size());
    for (Json::ArrayIndex i = 0; i < value.size(); ++i) {
        T item{};
        ReadValue(messages, value[i], Element(path, i), item);
        out.push_back(std::move(item));
    }
}

// Reads the fields of one JSON object. The keys it may read are named up front, so that the
// unknown ones are reported before any field can fail.
class ObjectReader {
public:
    ObjectReader(Messages& messages, const Json::Value& object, std::string path,
                 std::vector<const char*> known)
        : messages_(messages), object_(object), path_(std::move(path)), known_(std::move(known)) {
        if (!object_.isObject())
            Fail(path_, "expected an object");
        for (const std::string& key : object_.getMemberNames()) {
            if (!IsKnown(key) && !object_[key].isNull())
                messages_.push_back("Unknown field \"" + Child(path_, key) + "\" ignored");
        }
    }

    // Leaves out as it is when the key is absent.
    template <typename T> void Optional(const char* key, T& out) {
        if (const Json::Value* value = Get(key))
            ReadValue(messages_, *value, Child(path_, key), out);
    }

    template <typename T> void Required(const char* key, T& out) {
        const Json::Value* value = Get(key);
        if (value == nullptr)
            Fail(Child(path_, key), "is required");
        ReadValue(messages_, *value, Child(path_, key), out);
    }

private:
    bool IsKnown(const std::string& key) const {
        return std::any_of(known_.begin(), known_.end(), [&](const char* name) { return key == name; });
    }

    const Json::Value* Get(const char* key) const {
        assert(IsKnown(key) && "every key read must be listed as known");
        return Find(object_, key);
    }

    Messages& messages_;
    const Json::Value& object_;
    std::string path_;
    std::vector<const char*> known_;
};

void ReadValue(Messages& messages, const Json::Value& value, const std::string& path,
               ExternalDiscountResp& out) {
    ObjectReader object(messages, value, path,
                        {"discountId", "quantity", "discountPercentage", "discountAmount",
                         "discountDescription", "removeDiscount"});
    object.Optional("discountId", out.discountId);
    object.Optional("quantity", out.quantity);
    object.Optional("discountPercentage", out.discountPercentage);
    object.Optional("discountAmount", out.discountAmount);
    object.Optional("discountDescription", out.discountDescription);
    object.Optional("removeDiscount", out.removeDiscount);
}

void ReadValue(Messages& messages, const Json::Value& value, const std::string& path, LineChangeResp& out) {
    ObjectReader object(messages, value, path, {"id", "lineId", "externalDiscount"});
    object.Optional("id", out.id);
    object.Required("lineId", out.lineId);
    object.Optional("externalDiscount", out.externalDiscount);
}

void ReadValue(Messages& messages, const Json::Value& value, const std::string& path, LineAdditionResp& out) {
    ObjectReader object(messages, value, path,
                        {"id", "lineId", "articleNumber", "text", "priceIncl", "reservedAmount", "vatCode",
                         "vatPercentage", "reservedText", "supplierArticleNumber", "pluNumber",
                         "extArticleId", "externalDiscount"});
    object.Optional("id", out.id);
    object.Optional("lineId", out.lineId);
    object.Optional("articleNumber", out.articleNumber);
    object.Optional("text", out.text);
    object.Optional("priceIncl", out.priceIncl);
    object.Optional("reservedAmount", out.reservedAmount);
    object.Optional("vatCode", out.vatCode);
    object.Optional("vatPercentage", out.vatPercentage);
    object.Optional("reservedText", out.reservedText);
    object.Optional("supplierArticleNumber", out.supplierArticleNumber);
    object.Optional("pluNumber", out.pluNumber);
    object.Optional("extArticleId", out.extArticleId);
    object.Optional("externalDiscount", out.externalDiscount);
}

void ReadValue(Messages& messages, const Json::Value& value, const std::string& path, LineDeletionResp& out) {
    ObjectReader object(messages, value, path, {"id", "lineId"});
    object.Optional("id", out.id);
    object.Required("lineId", out.lineId);
}

void ReadValue(Messages& messages, const Json::Value& value, const std::string& path, LockSessionResp& out) {
    ObjectReader object(messages, value, path, {"id", "reservedNumber"});
    object.Optional("id", out.id);
    object.Optional("reservedNumber", out.reservedNumber);
}

void ReadValue(Messages& messages, const Json::Value& value, const std::string& path, BarcodeResp& out) {
    ObjectReader object(messages, value, path, {"barcodeType", "barcodeValue"});
    object.Optional("barcodeType", out.barcodeType);
    object.Optional("barcodeValue", out.barcodeValue);
}

void ReadValue(Messages& messages, const Json::Value& value, const std::string& path,
               ReceiptFooterResp& out) {
    ObjectReader object(messages, value, path, {"id", "text", "barcode"});
    object.Optional("id", out.id);
    object.Optional("text", out.text);
    object.Optional("barcode", out.barcode);
}

void ReadValue(Messages& messages, const Json::Value& value, const std::string& path, DialogOption& out) {
    ObjectReader object(messages, value, path, {"id", "text"});
    object.Required("id", out.id);
    object.Optional("text", out.text);
}

void ReadValue(Messages& messages, const Json::Value& value, const std::string& path, DialogResp& out) {
    ObjectReader object(messages, value, path,
                        {"dialogTitle", "required", "allowMultipleOptions", "reservedNumber", "options"});
    object.Optional("dialogTitle", out.dialogTitle);
    object.Optional("required", out.required);
    object.Optional("allowMultipleOptions", out.allowMultipleOptions);
    object.Optional("reservedNumber", out.reservedNumber);
    object.Optional("options", out.options);
}

void ReadValue(Messages& messages, const Json::Value& value, const std::string& path, ErrorResp& out) {
    ObjectReader object(messages, value, path, {"errorCode", "message"});
    object.Required("errorCode", out.errorCode);
    object.Optional("message", out.message);
}

// The answer kinds at the top level.

const std::vector<const char*> kDefaultKeys = {"lineChanges", "lineAdditions", "lineDeletions",
                                               "lockSession"};

void ReadDefaultFields(ObjectReader& object, DefaultResp& out) {
    object.Optional("lineChanges", out.lineChanges);
    object.Optional("lineAdditions", out.lineAdditions);
    object.Optional("lineDeletions", out.lineDeletions);
    object.Optional("lockSession", out.lockSession);
}

// The typed answer an event may get besides the default one: the key that names it, its own
// keys, and how its own fields are read.
struct NoTypedAnswer {};

struct ScanCodeAnswer {
    using Resp = ScanCodeResp;
    static constexpr const char* kindKey = "recognized";
    static std::vector<const char*> Keys() {
        return {"recognized", "customerMessage", "message", "relationNumber"};
    }
    static void Read(ObjectReader& object, ScanCodeResp& out) {
        object.Required("recognized", out.recognized);
        object.Optional("customerMessage", out.customerMessage);
        object.Optional("message", out.message);
        object.Optional("relationNumber", out.relationNumber);
    }
};

struct CompleteSessionAnswer {
    using Resp = CompleteSessionResp;
    static constexpr const char* kindKey = "receiptFooters";
    static std::vector<const char*> Keys() { return {"receiptFooters"}; }
    static void Read(ObjectReader& object, CompleteSessionResp& out) {
        object.Optional("receiptFooters", out.receiptFooters);
    }
};

struct ExternalPaymentAnswer {
    using Resp = ExternalPaymentResp;
    static constexpr const char* kindKey = "externalPaymentId";
    static std::vector<const char*> Keys() {
        return {"externalPaymentId", "started", "confirmed", "cancelled", "message", "customerMessage"};
    }
    static void Read(ObjectReader& object, ExternalPaymentResp& out) {
        object.Optional("externalPaymentId", out.externalPaymentId);
        object.Optional("started", out.started);
        object.Optional("confirmed", out.confirmed);
        object.Optional("cancelled", out.cancelled);
        object.Optional("message", out.message);
        object.Optional("customerMessage", out.customerMessage);
    }
};

template <typename Result, typename Typed> Result ReadKind(Messages& messages, const Json::Value& json) {
    if (!json.isObject())
        throw ReadFailure{"the answer is not a JSON object"};
    const bool isError = Find(json, "error") != nullptr;
    const bool isDialog = Find(json, "dialog") != nullptr;
    if (isError && isDialog)
        throw ReadFailure{"an answer cannot hold both \"error\" and \"dialog\""};
    if (isError) {
        ObjectReader object(messages, json, "", {"error"});
        ErrorResp answer;
        object.Required("error", answer);
        return Result(answer);
    }
    if (isDialog) {
        ObjectReader object(messages, json, "", {"dialog"});
        DialogResp answer;
        object.Required("dialog", answer);
        return Result(answer);
    }
    if constexpr (!std::is_same<Typed, NoTypedAnswer>::value) {
        if (Find(json, Typed::kindKey) != nullptr) {
            std::vector<const char*> keys = Typed::Keys();
            keys.insert(keys.end(), kDefaultKeys.begin(), kDefaultKeys.end());
            ObjectReader object(messages, json, "", std::move(keys));
            typename Typed::Resp answer;
            Typed::Read(object, answer);
            ReadDefaultFields(object, answer);
            return Result(answer);
        }
    }
    ObjectReader object(messages, json, "", kDefaultKeys);
    DefaultResp answer;
    ReadDefaultFields(object, answer);
    return Result(answer);
}

template <typename Result, typename Typed = NoTypedAnswer>
JsonParseResult<Result> ReadAnswer(const Json::Value& json) {
    JsonParseResult<Result> parsed;
    try {
        parsed.result = ReadKind<Result, Typed>(parsed.messages, json);
    } catch (const ReadFailure& failure) {
        parsed.parseError = ParseError{failure.message};
    }
    return parsed;
}

} // namespace

JsonParseResult<StartSessionResult> parseStartSessionResult(const Json::Value& json) {
    return ReadAnswer<StartSessionResult>(json);
}

JsonParseResult<PauseSessionResult> parsePauseSessionResult(const Json::Value& json) {
    return ReadAnswer<PauseSessionResult>(json);
}

JsonParseResult<ResumeSessionResult> parseResumeSessionResult(const Json::Value& json) {
    return ReadAnswer<ResumeSessionResult>(json);
}

JsonParseResult<StartPaymentResult> parseStartPaymentResult(const Json::Value& json) {
    return ReadAnswer<StartPaymentResult>(json);
}

JsonParseResult<CancelPaymentResult> parseCancelPaymentResult(const Json::Value& json) {
    return ReadAnswer<CancelPaymentResult>(json);
}

JsonParseResult<CancelSessionResult> parseCancelSessionResult(const Json::Value& json) {
    return ReadAnswer<CancelSessionResult>(json);
}

JsonParseResult<MergeSessionResult> parseMergeSessionResult(const Json::Value& json) {
    return ReadAnswer<MergeSessionResult>(json);
}

JsonParseResult<AddSessionLineResult> parseAddSessionLineResult(const Json::Value& json) {
    return ReadAnswer<AddSessionLineResult>(json);
}

JsonParseResult<UpdateSessionLineResult> parseUpdateSessionLineResult(const Json::Value& json) {
    return ReadAnswer<UpdateSessionLineResult>(json);
}

JsonParseResult<RemoveSessionLineResult> parseRemoveSessionLineResult(const Json::Value& json) {
    return ReadAnswer<RemoveSessionLineResult>(json);
}

JsonParseResult<ScanCodeResult> parseScanCodeResult(const Json::Value& json) {
    return ReadAnswer<ScanCodeResult, ScanCodeAnswer>(json);
}

JsonParseResult<CompleteSessionResult> parseCompleteSessionResult(const Json::Value& json) {
    return ReadAnswer<CompleteSessionResult, CompleteSessionAnswer>(json);
}

JsonParseResult<ExternalPaymentResult> parseStartExternalPaymentResult(const Json::Value& json) {
    return ReadAnswer<ExternalPaymentResult, ExternalPaymentAnswer>(json);
}

JsonParseResult<ExternalPaymentResult> parsePollExternalPaymentResult(const Json::Value& json) {
    return ReadAnswer<ExternalPaymentResult, ExternalPaymentAnswer>(json);
}

JsonParseResult<ExternalPaymentResult> parseRequestCancelExternalPaymentResult(const Json::Value& json) {
    return ReadAnswer<ExternalPaymentResult, ExternalPaymentAnswer>(json);
}

JsonParseResult<ExternalPaymentResult> parseCancelExternalPaymentResult(const Json::Value& json) {
    return ReadAnswer<ExternalPaymentResult, ExternalPaymentAnswer>(json);
}

} // namespace Webhooks
} // namespace Tarn
