// One press of startSession on the headless window, from the click until the exchange is on
// screen, against the sample consumer on loopback; compared, in the same run, with a bare
// libcurl POST of the same request (same bytes, same headers, a fresh handle and connection
// each time; the window's client, too, has a connection of its own).
//
// Usage: bench_send_press [path-of-orvel-sample-consumer] [presses]
// The consumer is also found through ORVEL_SAMPLE_CONSUMER or next to this build's tools.

#include "BenchSupport.h"

#include <curl/curl.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace benchsupport;

namespace {

constexpr double kGoalRatio = 1.3;

} // namespace

int main(int argc, char** argv) {
    const int presses = argc > 2 ? std::atoi(argv[2]) : 300;
    const int warmUp = 20;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int rc = 0;
    try {
        WindowBench bench(FindConsumer(argc, argv));
        TForm1& form = bench.form;

        // The request of one press, byte for byte, for the bare POST.
        form.spdStartSessionClick();
        if (form.pnlHttpResponse.Caption().rfind("200", 0) != 0)
            throw std::runtime_error("the window's send failed: " + form.pnlHttpResponse.Caption());
        const SentRequest request = LastRequest(form);

        std::vector<double> window, bare;
        for (int i = 0; i < warmUp + presses; ++i) {
            const bool keep = i >= warmUp;
            auto t0 = Clock::now();
            form.spdStartSessionClick();
            const auto pressed = Clock::now();
            if (form.pnlHttpResponse.Caption().rfind("200", 0) != 0 || !form.mmMessages.Lines().empty())
                throw std::runtime_error("an exchange of the window failed during the run");
            if (keep)
                window.push_back(Microseconds(pressed - t0));
            // The counter's file is written after the press, off the window's thread: let that
            // write end before the bare POST is timed, so it does not slow the baseline down.
            form.FlushEventCounter();

            t0 = Clock::now();
            const long status = BarePost(request.url, request.headers, request.body);
            const auto t1 = Clock::now();
            if (status != 200)
                throw std::runtime_error("a bare POST failed during the run");
            if (keep)
                bare.push_back(Microseconds(t1 - t0));
        }

        const double figure = Median(window);
        const double baseline = Median(bare);
        const double ratio = figure / baseline;
        std::cout << "send press (startSession, 3 lines, " << request.body.size() << " byte request, "
                  << presses << " presses)\n";
        std::cout << "  window press, click to display complete: median " << figure << " us\n";
        std::cout << "  bare libcurl POST of the same request:   median " << baseline << " us\n";
        std::cout << "  ratio " << ratio << "x (goal: at most " << kGoalRatio << "x)\n";
        ReportGoal("startSession press, click to display (median)", Figure(figure, 1, "us"),
                   Figure(baseline, 1, "us"), ratio, "<= 1.3x", ratio <= kGoalRatio);
    } catch (const std::exception& error) {
        std::cerr << "bench_send_press: " << error.what() << "\n";
        rc = 1;
    }
    curl_global_cleanup();
    return rc;
}
