// The webhook records as plain values: defaults, copies, shared ownership of events, and the
// equality that lets the two halves of a split line merge again.
#include "EventRecords.h"
#include "OrvLib.h"
#include "ResponseRecords.h"

#include <boost/make_shared.hpp>
#include <boost/optional/optional_io.hpp>
#include <boost/weak_ptr.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace Tarn::Webhooks;

namespace {

SessionLine Line(const std::string& text) {
    SessionLine line;
    line.lineId = Uuid::Create();
    line.text = text;
    line.quantity = 1;
    return line;
}

} // namespace

TEST(Records, DefaultsAreEmpty) {
    const SessionLine line;
    EXPECT_FALSE(line.lineId || line.lineSetId || line.articleNumber || line.quantity || line.priceIncl ||
                 line.vatCode || line.vatPercentage || line.discountPercentage || line.discountAmount ||
                 line.reservedText || line.supplierArticleNumber || line.pluNumber || line.extArticleId ||
                 line.externalDiscount || line.totalAmount);
    EXPECT_EQ("", line.text);

    const DefaultEvent event;
    EXPECT_EQ(0, event.header.eventCounter);
    EXPECT_FALSE(event.header.blockingCall || event.header.reservedFlag);
    EXPECT_EQ(0, event.sender.branchNumber);
    EXPECT_EQ(0, event.sender.workplaceNumber);
    EXPECT_TRUE(event.sender.senderId.IsNull());
    EXPECT_TRUE(event.session.sessionId.IsNull());
    EXPECT_FALSE(event.session.relation || event.session.totalAmount || event.session.table ||
                 event.session.order || event.session.invoice || event.session.cafeteriaOrder);
    EXPECT_TRUE(event.session.lines.empty());
    EXPECT_FALSE(event.dialog);

    // The typed answers carry the default answer's lists through their virtual base.
    const ScanCodeResp scan;
    EXPECT_TRUE(scan.lineChanges.empty() && scan.lineAdditions.empty() && scan.lineDeletions.empty());
    EXPECT_FALSE(scan.recognized || scan.relationNumber || scan.lockSession);
}

TEST(Records, EventHeaderTakesTheConstructionTime) {
    const double before = orvlib::Now();
    const Event header;
    const double after = orvlib::Now();
    EXPECT_LE(before, header.timestamp);
    EXPECT_GE(after, header.timestamp);
}

TEST(Records, SessionCopiesAreIndependentAndKeepTheOrder) {
    Session original;
    original.sessionId = Uuid::Create();
    original.totalAmount = 7.5;
    original.lines = {Line("een"), Line("twee"), Line("drie")};

    Session copy(original);
    Session assigned;
    assigned.lines = {Line("oud")};
    assigned = original;
    for (const Session* s : {&copy, &assigned}) {
        EXPECT_EQ(original.sessionId, s->sessionId);
        EXPECT_EQ(original.totalAmount, s->totalAmount);
        ASSERT_EQ(3u, s->lines.size());
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(original.lines[i].lineId->ToString(), s->lines[i].lineId->ToString());
            EXPECT_EQ(original.lines[i].text, s->lines[i].text);
        }
    }

    copy.lines[0].text = "veranderd";
    copy.lines.pop_back();
    assigned.lines.clear();
    EXPECT_EQ(3u, original.lines.size());
    EXPECT_EQ("een", original.lines[0].text);
}

TEST(Records, DialogAnswerMayHoldNoOptions) {
    StartSessionEvent event;
    EXPECT_FALSE(event.dialog);
    event.dialog = DialogReq();
    ASSERT_TRUE(event.dialog);
    EXPECT_TRUE(event.dialog->optionIds.empty());
}

TEST(Records, SplitHalvesCompareEqualButDifferentTermsDoNot) {
    SessionLine whole = Line("Broodje");
    whole.lineSetId = Uuid::Create();
    whole.articleNumber = 1001;
    whole.quantity = 3;
    whole.priceIncl = 2.5;
    whole.vatCode = 1;
    whole.vatPercentage = 9;
    whole.totalAmount = 7.5;

    // The split-off half: its own id, its share of the quantity and of the total.
    SessionLine half = whole;
    half.lineId = Uuid::Create();
    half.quantity = 1;
    half.totalAmount = 2.5;
    EXPECT_TRUE(whole == half);
    EXPECT_FALSE(whole != half);

    const std::vector<std::pair<const char*, std::function<void(SessionLine&)>>> differences = {
        {"priceIncl", [](SessionLine& l) { l.priceIncl = 2.75; }},
        {"lineSetId", [](SessionLine& l) { l.lineSetId = Uuid::Create(); }},
        {"articleNumber", [](SessionLine& l) { l.articleNumber = 1002; }},
        {"vatCode", [](SessionLine& l) { l.vatCode = boost::none; }},
        {"discountAmount", [](SessionLine& l) { l.discountAmount = 0.5; }},
        {"text", [](SessionLine& l) { l.text = "Broodje kaas"; }},
        {"externalDiscount",
         [](SessionLine& l) {
             l.externalDiscount = ExternalDiscount{Uuid::Create(), 10.0, {}, "Actie", {}};
         }},
    };
    for (const auto& difference : differences) {
        SessionLine other = half;
        difference.second(other);
        EXPECT_FALSE(whole == other) << difference.first;
        EXPECT_TRUE(whole != other) << difference.first;
    }
}

TEST(Records, ErrorEventSharesTheFailedEvent) {
    boost::weak_ptr<WebhookEvent> watch;
    {
        auto failed = boost::make_shared<AddSessionLineEvent>();
        failed->request.line = Line("Soep");
        watch = failed;
        auto report = boost::make_shared<ErrorEvent>();
        report->event = failed;
        failed.reset();
        ASSERT_FALSE(watch.expired()); // the report keeps it alive
        EXPECT_EQ("Soep", static_cast<AddSessionLineEvent&>(*report->event).request.line.text);
    }
    EXPECT_TRUE(watch.expired());
}

TEST(Records, ResultCopiesTheAnswerItHolds) {
    ScanCodeResp scan;
    scan.recognized = true;
    scan.message = "ok";
    scan.lineDeletions.push_back(LineDeletionResp{Uuid::Create(), Uuid::Create()});
    const ScanCodeResult held(scan);

    ScanCodeResult copy(held);
    ScanCodeResult assigned = DefaultResp();
    assigned = held;
    for (const ScanCodeResult* r : {&copy, &assigned}) {
        const ScanCodeResp* got = boost::get<ScanCodeResp>(r);
        ASSERT_NE(nullptr, got);
        EXPECT_TRUE(got->recognized);
        EXPECT_EQ("ok", got->message);
        ASSERT_EQ(1u, got->lineDeletions.size());
        EXPECT_EQ(scan.lineDeletions[0].lineId, got->lineDeletions[0].lineId);
    }
}
