#pragma once

// What a run of a scenario tells: one line per step for the terminal, and the reports a CI
// server keeps (JUnit XML: one testsuite, one testcase per step; JSON).

#include "ScenarioRunner.h"

#include <string>
#include <vector>

// "ok 3 addSessionLine" or "FAIL 4 completeSession: Content-Type: ..." (every unmet expectation).
std::string StepLine(const StepOutcome& outcome);
// "N passed, N failed"
std::string RunSummary(const std::vector<StepOutcome>& outcomes);
std::string JUnitReport(const std::string& scenarioName, const std::vector<StepOutcome>& outcomes);
std::string JsonReport(const std::string& scenarioName, const std::vector<StepOutcome>& outcomes);
