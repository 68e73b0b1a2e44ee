#pragma once

// A scenario: one sale as a user makes it in the window, kept in a JSON file so that it can be
// run again against a consumer. The settings (never the secret), the session to start with, and
// the steps, each with what the window is to show after it. docs/scenarios.md describes the file.

#include <json/value.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

// A scenario that cannot be used, with its place: "sale.json: steps[3] (step 4).expect.httpStatus:
// expected a whole number".
class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ScenarioSettings {
    std::string baseUrl;
    std::string subscriptionId;
    bool blockingCall = true;
    bool selfSigned = false;
    std::string branch = "1";
    std::string workplace = "1";
    // The separator the recording window showed numbers with, so the grid's texts compare.
    std::string decimalSeparator = ".";
};

// A line's cells by grid column caption ("articleNumber", "quantity", "Total", ...).
using LineFields = std::map<std::string, std::string>;

struct ScenarioStep {
    std::string action; // "addLine", "selectLine", an event such as "startSession", ...
    // The step's own keys besides "do" and "expect", e.g. {"line": 0, "fields": {...}}.
    Json::Value args = Json::Value(Json::objectValue);
    // What the window is to show after the step; without "checks", every check is to pass.
    Json::Value expect = Json::Value(Json::objectValue);
};

struct Scenario {
    std::string name;
    ScenarioSettings settings;
    std::vector<LineFields> startingLines;
    std::vector<ScenarioStep> steps;
};

// The seventeen events, each a step of its own that presses the event's button.
extern const std::vector<std::string> kScenarioEvents;

// Reads a scenario strictly: an unknown key, a value of the wrong kind or a step that cannot be
// made throws ScenarioError naming the file, the step and the key.
Scenario ReadScenario(const std::string& text, const std::string& fileName);
Scenario ReadScenarioFile(const std::string& path);

Json::Value ScenarioToJson(const Scenario& scenario);
// Indented JSON, as a user may read and edit it.
std::string ScenarioText(const Scenario& scenario);
// Throws ScenarioError when the file cannot be written.
void WriteScenarioFile(const Scenario& scenario, const std::string& path);
