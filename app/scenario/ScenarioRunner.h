#pragma once

// Runs a scenario on the window model without a window: the real handlers and the real client
// press through the steps, and after each the window is compared with the step's expectations.

#include "HeadlessToolkit.h"
#include "MainFormUnit.h"
#include "Scenario.h"
#include "StepExpectations.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct StepOutcome {
    int number = 0;   // from 1
    std::string name; // the step's action, e.g. "addSessionLine"
    // Why the step failed, each expectation not met; empty when it passed.
    std::vector<std::string> unmet;
    double seconds = 0;

    bool Passed() const { return unmet.empty(); }
};

struct RunOptions {
    std::string secret;
    std::optional<std::string> baseUrl;        // instead of the scenario's
    std::optional<std::string> subscriptionId; // instead of the scenario's
    // The longest an exchange, and a wait for an external payment without a limit of its own, may take.
    int timeoutMs = 30000;
};

class ScenarioRunner {
public:
    // The window as the user finds it after start-up, with the scenario's settings and its
    // starting session (a new session id, then its lines typed in). The user's data folder is
    // wherever XDG_DATA_HOME points: the caller chooses one of the run's own. Throws ScenarioError
    // when the starting session cannot be typed in.
    ScenarioRunner(Scenario scenario, RunOptions options);

    const Scenario& GetScenario() const { return scenario_; }
    TForm1& Form() { return form_; }

    // Makes step `index` (from 0) and compares the window with its expectations.
    StepOutcome RunStep(std::size_t index);
    // Every step in turn; onStep is told of each as it ends.
    std::vector<StepOutcome> Run(const std::function<void(const StepOutcome&)>& onStep = {});

    // The text with the secret blanked out: whatever the runner hands out has been through it.
    std::string Redacted(std::string text) const;

private:
    // Makes the step; a reason when it cannot be made in the window as it is.
    std::optional<std::string> Apply(const ScenarioStep& step);
    std::optional<std::string> Press(TControl& control);
    std::optional<std::string> Type(int line, const Json::Value& fields);

    Scenario scenario_;
    RunOptions options_;
    StepWitness witness_; // of the step under way; declared before the window that fills it
    HeadlessToolkit toolkit_;
    TForm1 form_;
    std::map<std::string, TControl*> eventButtons_;
};
