#pragma once

// Records what the user does in the window as a scenario: while chkRecordScenario is ticked,
// every press of a button and every edit becomes a step whose expectations are what the window
// showed after it; btnSaveScenario writes the scenario to a file the user chooses.

#include "MainFormUnit.h"
#include "Scenario.h"
#include "StepExpectations.h"

#include <memory>
#include <string>
#include <vector>

class ScenarioRecorder : public TForm1::PressListener {
public:
    explicit ScenarioRecorder(TForm1& form);
    ~ScenarioRecorder() override;
    ScenarioRecorder(const ScenarioRecorder&) = delete;
    ScenarioRecorder& operator=(const ScenarioRecorder&) = delete;

    bool Recording() const { return recording_; }
    // What has been recorded since Record was last ticked.
    const Scenario& Recorded() const { return scenario_; }

    void BeforePress(const TControl& control) override;
    void AfterPress(const TControl& control) override;

private:
    // What the user may change without a press: it becomes steps at the next press.
    struct Edits {
        std::vector<LineFields> lines; // the cells the user may type into, those with text
        int selectedRow = -1;
        std::string code;
        int codeType = 0;
        std::string paymentMethod;
    };
    Edits Current() const;
    // The action a press of the control is recorded as; empty for a press that is not recorded.
    std::string ActionOf(const TControl& control) const;
    void RecordingSwitched();
    void RecordEdits();
    void Add(const std::string& action, Json::Value args, const StepWitness& witness);
    // An exchange outside a press: the polls of an external payment, until it is settled.
    void TakeExchange(const ExchangeRecord& record);
    void TakeMessage(const std::string& text);
    void Save();

    TForm1& form_;
    // What the form's and toolkit's listeners reach this recorder through; cut when it goes.
    std::shared_ptr<ScenarioRecorder*> self_;
    bool recording_ = false;
    bool pressing_ = false;
    Scenario scenario_;
    Edits edits_;
    StepWitness pressWitness_;
    StepWitness pollWitness_;
};
