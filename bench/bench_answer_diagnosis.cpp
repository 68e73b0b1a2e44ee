// What naming a signing mistake costs the window: DiagnoseSignature on a refused answer of a
// usual size, for mistakes found early and late, and for a signature that fits no mistake (every
// candidate tried). It runs only after a failed signature check, never for an accepted answer.
//
// Usage: bench_answer_diagnosis [ignored consumer path] [rounds]

#include "AnswerDiagnosis.h"
#include "BenchSupport.h"
#include "OrvCrypt.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

using namespace benchsupport;
using namespace Tarn::Webhooks;

namespace {

constexpr double kGoalMs = 1.0;

// An answer with a line change, as the demo gives one, and an event of three lines.
const std::string kAnswer =
    R"({"lineChanges":[{"externalDiscount":{"discountDescription":"Demo: 50% off one item",)"
    R"("discountId":"2b9e7c14-8a3f-4d6e-b5c2-0f1e2d3c4b5a","discountPercentage":50,"quantity":1},)"
    R"("id":"6f0c1a52-3d7e-4b8a-9e21-5c4d3b2a1f00","lineId":"0a4e0c1e-1111-4222-8333-944455556666"}]})";

std::string EventBody() {
    std::string lines;
    for (int i = 0; i < 3; ++i)
        lines += std::string(i ? "," : "") +
                 R"({"articleNumber":"100)" + std::to_string(i) +
                 R"(","lineId":"0a4e0c1e-1111-4222-8333-94445555666)" + std::to_string(i) +
                 R"(","priceIncl":2.5,"quantity":2,"text":"Coffee","totalAmount":5,"vatCode":2,"vatPercentage":21})";
    return R"({"header":{"blockingCall":true,"eventCounter":42,"timestamp":"2026-12-09T02:45:00.000+01:00"},)"
           R"("sender":{"branchNumber":1,"senderId":"7d4e5e6c-43d5-4523-a543-b31e3df1db48","workplaceNumber":1},)"
           R"("session":{"lines":[)" + lines + R"(],"sessionId":"11046f28-034c-4d1a-a3e3-9b97a75b4335","totalAmount":15}})";
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 2000;
    const std::string key = OrvCrypt::Base64decode(kSecret);
    OrvCrypt::HmacSha256Key right(key);
    OrvCrypt::HmacSha256Key secretText(kSecret);
    const std::string right64 = right.SignBase64(kAnswer);

    struct Case {
        const char* what;
        std::string signature;
    };
    const std::vector<Case> cases = {
        {"missing signature", ""},
        {"letters' case changed", [&] {
             std::string s = right64;
             for (char& c : s)
                 c = static_cast<char>(std::islower(static_cast<unsigned char>(c)) ? std::toupper(c) : std::tolower(c));
             return s;
         }()},
        {"secret's text as the key", secretText.SignBase64(kAnswer)},
        {"previous answer signed", right.SignBase64("{}")},
        {"no mistake fits (all tried)", right.SignBase64("something else")},
    };

    const SignatureEvidence base{kSecret, EventBody(), kAnswer, "", "{}"};
    double worst = 0;
    for (const Case& c : cases) {
        SignatureEvidence evidence = base;
        evidence.receivedSignature = c.signature;
        std::vector<double> times;
        std::size_t findings = 0;
        for (int i = 0; i < rounds; ++i) {
            const auto t0 = Clock::now();
            findings += DiagnoseSignature(evidence).size();
            times.push_back(Milliseconds(Clock::now() - t0));
        }
        const double median = Median(times);
        const double p99 = Percentile(times, 0.99);
        worst = std::max(worst, median);
        std::cout << "  " << c.what << ": median " << Figure(median * 1000, 1, "us") << ", p99 "
                  << Figure(p99 * 1000, 1, "us") << " (" << findings / static_cast<std::size_t>(rounds)
                  << " finding)\n";
        if (findings == 0)
            return 1;
    }
    ReportGoal("signature diagnosis of a refused answer, slowest case (median)", Figure(worst, 3, "ms"), "-",
               std::nullopt, "< 1 ms", worst < kGoalMs);
    return 0;
}
