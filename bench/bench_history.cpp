// The history as a user feels it: start-up with a full history.jsonl (5,000 entries of real
// presses), the filter answering a keystroke over those 5,000 entries, and what keeping the
// history adds to a press of startSession against the sample consumer on loopback.
//
// Usage: bench_history [path-of-orvel-sample-consumer] [presses]

#include "BenchSupport.h"

#include "History.h"

#include <curl/curl.h>
#include <json/json.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace benchsupport;

namespace {

constexpr double kLoadGoalMs = 100;
constexpr double kFilterGoalMs = 20;
constexpr double kPressGoalRatio = 1.05;

void CheckPress(const TForm1& form) {
    if (form.pnlHttpResponse.Caption().rfind("200", 0) != 0 || !form.mmMessages.Lines().empty())
        throw std::runtime_error("an exchange of the window failed during the run: " +
                                 form.pnlHttpResponse.Caption());
}

} // namespace

int main(int argc, char** argv) {
    const int presses = argc > 2 ? std::atoi(argv[2]) : 400;
    const int warmUp = 20;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int rc = 0;
    try {
        WindowBench bench(FindConsumer(argc, argv));
        TForm1& form = bench.form;
        if (form.exchangeListeners.size() != 2)
            throw std::runtime_error("expected the Checks tab's and the history's listeners");

        // --- 5,000 entries of a real press in history.jsonl, every seventh a pauseSession.
        form.spdStartSessionClick();
        CheckPress(form);
        form.FlushHistory();
        ExchangeRecord record = *form.HistoryEntries().Entries().back()->Record();
        const std::string path = form.HistoryFilePath();
        auto writeHistory = [&] {
            std::ofstream file(path, std::ios::binary | std::ios::trunc);
            for (std::size_t i = 0; i < kHistoryMaxEntries; ++i) {
                record.eventCounter = static_cast<int64_t>(i);
                record.eventName = i % 7 == 0 ? "pauseSession" : "startSession";
                file << HistoryLine(record) << '\n';
            }
        };
        writeHistory();
        std::ifstream sized(path, std::ios::binary | std::ios::ate);
        const double fileMb = static_cast<double>(sized.tellg()) / (1024.0 * 1024.0);

        // --- A press with and without keeping it, interleaved so both see the same machine,
        // with a full history: the list is at its longest and the oldest entry goes each time.
        form.LoadHistory();
        if (form.lvHistory.Items().size() != kHistoryMaxEntries)
            throw std::runtime_error("the history did not load whole");
        const auto historyListener = form.exchangeListeners.back();
        std::vector<double> with, without;
        for (int i = 0; i < warmUp + 2 * presses; ++i) {
            const bool keeping = i % 2 == 0;
            if (keeping && form.exchangeListeners.size() == 1)
                form.exchangeListeners.push_back(historyListener);
            else if (!keeping && form.exchangeListeners.size() == 2)
                form.exchangeListeners.pop_back();
            const auto t0 = Clock::now();
            form.spdStartSessionClick();
            const auto t1 = Clock::now();
            CheckPress(form);
            if (i >= warmUp)
                (keeping ? with : without).push_back(Microseconds(t1 - t0));
            // The files are written after the press, off the window's thread: let those writes
            // end before the next press is timed, so neither side pays for the other's.
            form.FlushEventCounter();
            form.FlushHistory();
        }
        const double pressWith = Median(with);
        const double pressWithout = Median(without);
        const double pressRatio = pressWith / pressWithout;

        writeHistory();
        // For comparison: the same file read line by line with jsoncpp, as a general reader would.
        std::vector<double> jsoncppReads;
        {
            std::ifstream in(path, std::ios::binary);
            std::vector<std::string> lines;
            for (std::string line; std::getline(in, line);)
                lines.push_back(line);
            const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
            for (int run = 0; run < 5; ++run) {
                const auto j0 = Clock::now();
                for (const std::string& line : lines) {
                    Json::Value value;
                    std::string errors;
                    if (!reader->parse(line.data(), line.data() + line.size(), &value, &errors))
                        throw std::runtime_error("jsoncpp refused a line: " + errors);
                }
                jsoncppReads.push_back(Milliseconds(Clock::now() - j0));
            }
        }

        std::vector<double> loads, wholeReads, filters;
        for (int run = 0; run < 15; ++run) {
            HeadlessToolkit toolkit;
            TForm1 fresh(toolkit);
            const auto t0 = Clock::now();
            fresh.LoadHistory();
            const auto t1 = Clock::now();
            if (fresh.lvHistory.Items().size() != kHistoryMaxEntries)
                throw std::runtime_error("the history did not load whole");
            loads.push_back(Milliseconds(t1 - t0));

            // For comparison: every entry read whole, as an eager start-up would.
            const auto r0 = Clock::now();
            std::size_t bytes = 0;
            for (const History::EntryPtr& entry : fresh.HistoryEntries().Entries())
                bytes += entry->Record()->requestBody.size();
            wholeReads.push_back(Milliseconds(Clock::now() - r0));
            if (bytes == 0)
                throw std::runtime_error("entries without a request body");

            // Keystrokes: a word found in some entries, one found nowhere, one found in all, none.
            for (const char* text : {"pause", "pauseX", "startsession", ""}) {
                const auto f0 = Clock::now();
                fresh.edtHistoryFilter.SetText(text);
                filters.push_back(Milliseconds(Clock::now() - f0));
            }
            fresh.edtHistoryFilter.SetText("pausesession");
            const std::size_t expected = (kHistoryMaxEntries + 6) / 7;
            if (fresh.lvHistory.Items().size() != expected)
                throw std::runtime_error("the filter found " +
                                         std::to_string(fresh.lvHistory.Items().size()) + " entries, not " +
                                         std::to_string(expected));
        }
        const double load = Median(loads);
        const double filter = Percentile(filters, 0.95);

        std::printf("history (%zu entries, %.1f MB history.jsonl, %zu byte requests)\n", kHistoryMaxEntries,
                    fileMb, record.requestBody.size());
        std::printf("  start-up load into the list:       median %.1f ms (goal < %.0f ms)\n", load,
                    kLoadGoalMs);
        std::printf("  every entry read whole besides:    median %.1f ms (not paid at start-up)\n",
                    Median(wholeReads));
        std::printf(
            "  the file parsed with jsoncpp:      median %.1f ms (a general reader, for comparison)\n",
            Median(jsoncppReads));
        std::printf(
            "  filter keystroke over 5,000:       median %.2f ms, 95th percentile %.2f ms (goal < %.0f ms)\n",
            Median(filters), filter, kFilterGoalMs);
        std::printf("  press with history:                median %.1f us\n", pressWith);
        std::printf("  press without history:             median %.1f us\n", pressWithout);
        std::printf("  ratio %.3fx (goal: under %.2fx)\n", pressRatio, kPressGoalRatio);
        ReportGoal("history: 5,000 entries loaded at start-up (median)", Figure(load, 1, "ms"), "-",
                   std::nullopt, "< 100 ms", load < kLoadGoalMs);
        ReportGoal("history: filter over 5,000 entries (95th percentile)", Figure(filter, 2, "ms"), "-",
                   std::nullopt, "< 20 ms", filter < kFilterGoalMs);
        ReportGoal("history: startSession press with history kept (median)", Figure(pressWith, 1, "us"),
                   Figure(pressWithout, 1, "us"), pressRatio, "< 1.05x", pressRatio < kPressGoalRatio);
    } catch (const std::exception& error) {
        std::cerr << "bench_history: " << error.what() << "\n";
        rc = 1;
    }
    curl_global_cleanup();
    return rc;
}
