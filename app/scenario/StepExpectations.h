#pragma once

// What the window showed after a step, under the names a scenario's expectations use. A
// recording writes these values down; a run reads them the same way and compares.

#include "ExchangeRecord.h"

#include <json/value.h>

#include <string>
#include <vector>

class TForm1;

// What a step did besides what stays on screen: the exchanges it made, the message boxes shown.
struct StepWitness {
    std::vector<ExchangeRecord> exchanges;
    std::vector<std::string> messageBoxes;
};

// The window's value for one expectation ("httpStatus", "lines", ...); null when it shows
// nothing of the kind (no exchange was made, no dialog is open).
Json::Value Observe(TForm1& form, const StepWitness& witness, const std::string& key);

// Each expectation the window does not meet, in words, e.g. "httpStatus: expected 200, the
// window showed 500". Without "checks", every check of the step's exchanges is to pass.
std::vector<std::string> UnmetExpectations(TForm1& form, const StepWitness& witness,
                                           const Json::Value& expect);

// What a recording expects after a step of this action: what the window showed after it.
Json::Value RecordedExpectations(TForm1& form, const StepWitness& witness, const std::string& action);
