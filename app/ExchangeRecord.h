#pragma once

// One exchange with the consumer as the window saw it: what was sent, what came back, each
// check's verdict and the timing. The send path fills it once; the Checks tab, the history and
// the scenario runner all read this same record.

#include "WebhookConsumerClient.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum class CheckResult { Pass, Fail, NotChecked, Info };

// "pass", "FAIL", "not checked"; empty for a line that only informs.
const char* CheckResultText(CheckResult result);

struct ExchangeCheck {
    std::string check; // what was checked or done, e.g. "Signature equal"
    CheckResult result = CheckResult::Info;
    std::string detail;
};

enum class ExchangeKind {
    Event,       // an event the window sent (a poll included)
    ErrorReport, // the error event that told the consumer its answer was wrong
    Resend,      // a request of the history sent again as it was; its answer is never applied
};

struct ExchangeRecord {
    ExchangeKind kind = ExchangeKind::Event;
    std::string time;      // local ISO 8601 time with milliseconds, when the answer was in
    std::string eventName; // the event's name; for an error report the name of the event it reports on
    int64_t eventCounter = 0;
    std::string url;
    bool selfSigned = false;
    std::map<std::string, std::string> requestHeaders; // as sent, the signature included
    std::string requestBody;
    int httpStatus = -1; // negative without an HTTP answer
    std::string reasonPhrase;
    short curlCode = 0;
    std::string transportError; // the transport's or the client's own reason when curlCode != 0
    std::map<std::string, std::string> responseHeaders;
    std::string responseBody;
    // In the order they were made: the answer checks, then what was read and applied.
    std::vector<ExchangeCheck> checks;
    // kVerdictPass when every check passed; otherwise the error code reported for the first failed
    // check (e.g. "INVALID_SIGNATURE"), kVerdictNoAnswer after a transport error, or
    // kVerdictNotChecked for an error report, whose answer is never checked.
    std::string verdict;
    Tarn::Webhooks::WebhookTiming timing;

    bool Accepted() const;
    // The first check that failed, nullptr when none did.
    const ExchangeCheck* FirstFailure() const;
};

extern const char* const kVerdictPass;
extern const char* const kVerdictNoAnswer;
extern const char* const kVerdictNotChecked;
