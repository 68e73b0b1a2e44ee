#pragma once

#include "UTF8String.h"
#include "Uuid.h"

#include <boost/optional.hpp>

#include <cstdint>
#include <vector>

namespace Tarn {
namespace Webhooks {

using OrvelUtility::Uuid;

// Parts of a session that the till carries but the tester never fills.
struct Relation {
    int64_t relationNumber = 0;
    int32_t relationKind = 0;
    UTF8String name;
    boost::optional<UTF8String> email;
    boost::optional<UTF8String> phone;
    boost::optional<UTF8String> externalReference;
};

struct Table {
    int32_t tableNumber = 0;
    int32_t guestCount = 0;
    boost::optional<int32_t> sectionNumber;
    boost::optional<UTF8String> tableName;
    boost::optional<int32_t> courseNumber;
};

struct Order {
    int64_t orderNumber = 0;
    double orderAmount = 0.0;
    bool delivered = false;
};

struct Invoice {
    int64_t invoiceNumber = 0;
    double invoiceAmount = 0.0;
    bool paid = false;
};

struct CafeteriaOrder {
    int64_t cafeteriaOrderNumber = 0;
    int32_t pickupMinutes = 0;
    bool takeAway = false;
};

// One payment of a completed or credited session.
struct Payment {
    UTF8String paymentMethod;
    UTF8String description;
    double amount = 0.0;
    int32_t paymentKind = 0;
};

// A discount granted by the consumer, attached to a line.
struct ExternalDiscount {
    Uuid discountId;
    boost::optional<double> discountPercentage;
    boost::optional<double> discountAmount;
    UTF8String discountDescription;
    Uuid discountSetId;
};

// One sale line. Every field but text is optional.
struct SessionLine {
    boost::optional<Uuid> lineId;
    boost::optional<Uuid> lineSetId;
    boost::optional<int64_t> articleNumber;
    boost::optional<double> quantity;
    boost::optional<double> priceIncl;
    boost::optional<int32_t> vatCode;
    boost::optional<double> vatPercentage;
    boost::optional<double> discountPercentage;
    boost::optional<double> discountAmount;
    boost::optional<UTF8String> reservedText;
    boost::optional<UTF8String> supplierArticleNumber;
    boost::optional<UTF8String> pluNumber;
    boost::optional<UTF8String> extArticleId;
    boost::optional<ExternalDiscount> externalDiscount;
    boost::optional<double> totalAmount;
    UTF8String text;
};

// Two lines are equal when they describe the same article sold on the same terms, so that the
// two halves of a split line compare equal once the external discount is off the split part.
// Compared: lineSetId, articleNumber, priceIncl, vatCode, vatPercentage, discountPercentage,
// discountAmount, reservedText, supplierArticleNumber, pluNumber, extArticleId,
// externalDiscount (discountId, percentage, amount, description, discountSetId) and text.
// Not compared: lineId (each half has its own), quantity (split between the halves) and
// totalAmount (follows from the quantity).
inline bool operator==(const ExternalDiscount& a, const ExternalDiscount& b) {
    return a.discountId == b.discountId && a.discountPercentage == b.discountPercentage &&
           a.discountAmount == b.discountAmount && a.discountDescription == b.discountDescription &&
           a.discountSetId == b.discountSetId;
}
inline bool operator!=(const ExternalDiscount& a, const ExternalDiscount& b) { return !(a == b); }

inline bool operator==(const SessionLine& a, const SessionLine& b) {
    return a.lineSetId == b.lineSetId && a.articleNumber == b.articleNumber && a.priceIncl == b.priceIncl &&
           a.vatCode == b.vatCode && a.vatPercentage == b.vatPercentage &&
           a.discountPercentage == b.discountPercentage && a.discountAmount == b.discountAmount &&
           a.reservedText == b.reservedText && a.supplierArticleNumber == b.supplierArticleNumber &&
           a.pluNumber == b.pluNumber && a.extArticleId == b.extArticleId &&
           a.externalDiscount == b.externalDiscount && a.text == b.text;
}
inline bool operator!=(const SessionLine& a, const SessionLine& b) { return !(a == b); }

struct Session {
    Uuid sessionId;
    boost::optional<Relation> relation;
    boost::optional<double> totalAmount;
    boost::optional<Table> table;
    boost::optional<Order> order;
    boost::optional<Invoice> invoice;
    boost::optional<CafeteriaOrder> cafeteriaOrder;
    std::vector<SessionLine> lines;
};

// The external payment that an external-payment event is about.
struct ExternalPayment {
    Uuid externalPaymentId;
    boost::optional<UTF8String> method;
    boost::optional<UTF8String> description;
    boost::optional<double> amount;
};

} // namespace Webhooks
} // namespace Tarn
