// A scenario of 1,000 steps run by the scenario runner (each step a press of startSession on the
// headless window, its expectations compared afterwards) against the sample consumer on
// loopback; compared, in the same run and interleaved with it, with the press benchmark's press:
// the same button pressed directly on a window of the same session.
//
// Usage: bench_scenario [path-of-orvel-sample-consumer] [steps]
// The consumer is also found through ORVEL_SAMPLE_CONSUMER or next to this build's tools.

#include "BenchSupport.h"
#include "ScenarioRunner.h"

#include <curl/curl.h>

#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace benchsupport;

namespace {

constexpr double kGoalRatio = 0.8;

// The bench window's session as a scenario's starting lines, and steps that press startSession
// and expect what a recording of it would: the status, no message, the lines and the total.
Scenario PressScenario(TForm1& form, int steps) {
    Scenario scenario;
    scenario.name = "bench";
    const TGridControl& grid = form.gridSession;
    for (int row = grid.FixedRows(); row < grid.RowCount(); ++row) {
        LineFields fields;
        for (int c = 0; c < grid.ColumnCount(); ++c)
            if (grid.Columns()[static_cast<std::size_t>(c)].editable && !grid.Cell(c, row).empty())
                fields[grid.Columns()[static_cast<std::size_t>(c)].caption] = grid.Cell(c, row);
        scenario.startingLines.push_back(fields);
    }
    ScenarioStep step;
    step.action = "startSession";
    step.expect["httpStatus"] = 200;
    step.expect["messages"] = Json::Value(Json::arrayValue);
    step.expect["lineCount"] = static_cast<int>(scenario.startingLines.size());
    step.expect["errorReport"] = false;
    Json::Value& lines = step.expect["lines"];
    for (const LineFields& fields : scenario.startingLines) {
        Json::Value line(Json::objectValue);
        for (const auto& [column, text] : fields)
            line[column] = text;
        lines.append(line);
    }
    scenario.steps.assign(static_cast<std::size_t>(steps), step);
    return scenario;
}

} // namespace

int main(int argc, char** argv) {
    const int steps = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int warmUp = 20;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int rc = 0;
    try {
        WindowBench bench(FindConsumer(argc, argv));
        TForm1& form = bench.form;
        RunOptions options;
        options.secret = kSecret;
        options.baseUrl = bench.consumer.BaseUrl();
        ScenarioRunner runner(PressScenario(form, warmUp + steps), options);

        std::vector<double> pressed, stepped;
        for (int i = 0; i < warmUp + steps; ++i) {
            const bool keep = i >= warmUp;
            auto t0 = Clock::now();
            form.spdStartSessionClick();
            const auto t1 = Clock::now();
            if (form.pnlHttpResponse.Caption().rfind("200", 0) != 0 || !form.mmMessages.Lines().empty())
                throw std::runtime_error("a press of the window failed during the run");
            form.FlushEventCounter();
            runner.Form().FlushEventCounter();

            const auto t2 = Clock::now();
            const StepOutcome outcome = runner.RunStep(static_cast<std::size_t>(i));
            const auto t3 = Clock::now();
            if (!outcome.Passed())
                throw std::runtime_error("step " + std::to_string(outcome.number) +
                                         " failed: " + outcome.unmet[0]);
            if (keep) {
                pressed.push_back(Microseconds(t1 - t0));
                stepped.push_back(Microseconds(t3 - t2));
            }
        }

        const double press = Median(pressed);
        const double step = Median(stepped);
        const double ratio = press / step; // the step's rate as a share of the press's
        std::cout << "scenario run (" << steps << " startSession steps, 3 lines, 5 expectations each)\n";
        std::cout << "  scenario step, press and expectations: median " << step << " us\n";
        std::cout << "  press of the press benchmark:          median " << press << " us\n";
        std::cout << "  rate " << ratio << " of the press's (goal: at least " << kGoalRatio << ")\n";
        ReportGoal("scenario step rate, share of the press rate (median)", Figure(step, 1, "us"),
                   Figure(press, 1, "us"), ratio, ">= 0.8", ratio >= kGoalRatio);
    } catch (const std::exception& error) {
        std::cerr << "bench_scenario: " << error.what() << "\n";
        rc = 1;
    }
    curl_global_cleanup();
    return rc;
}
