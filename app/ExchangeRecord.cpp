#include "ExchangeRecord.h"

const char* const kVerdictPass = "pass";
const char* const kVerdictNoAnswer = "no answer";
const char* const kVerdictNotChecked = "not checked";

const char* CheckResultText(CheckResult result) {
    switch (result) {
    case CheckResult::Pass:
        return "pass";
    case CheckResult::Fail:
        return "FAIL";
    case CheckResult::NotChecked:
        return "not checked";
    case CheckResult::Info:
        break;
    }
    return "";
}

bool ExchangeRecord::Accepted() const {
    return verdict == kVerdictPass;
}

const ExchangeCheck* ExchangeRecord::FirstFailure() const {
    for (const ExchangeCheck& check : checks)
        if (check.result == CheckResult::Fail)
            return &check;
    return nullptr;
}
