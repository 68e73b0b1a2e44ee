#include "ScenarioRecorder.h"

#include "Application.h"
#include "Exception.h"

#include <algorithm>

ScenarioRecorder::ScenarioRecorder(TForm1& form)
    : form_(form), self_(std::make_shared<ScenarioRecorder*>(this)) {
    form_.pressListeners.push_back(this);
    const std::weak_ptr<ScenarioRecorder*> self = self_;
    form_.exchangeListeners.push_back([self](const ExchangeRecord& record) {
        if (const auto recorder = self.lock())
            (*recorder)->TakeExchange(record);
    });
    form_.toolkit.messageListeners.push_back([self](const std::string& text) {
        if (const auto recorder = self.lock())
            (*recorder)->TakeMessage(text);
    });
    form_.chkRecordScenario.Changed.Connect([self] {
        if (const auto recorder = self.lock())
            (*recorder)->RecordingSwitched();
    });
}

ScenarioRecorder::~ScenarioRecorder() {
    auto& listeners = form_.pressListeners;
    listeners.erase(std::remove(listeners.begin(), listeners.end(), this), listeners.end());
}

ScenarioRecorder::Edits ScenarioRecorder::Current() const {
    Edits edits;
    const TGridControl& grid = form_.gridSession;
    for (int row = grid.FixedRows(); row < grid.RowCount(); ++row) {
        LineFields fields;
        for (int column = 0; column < grid.ColumnCount(); ++column) {
            const TGridControl::Column& c = grid.Columns()[static_cast<std::size_t>(column)];
            const std::string_view text = grid.CellText(column, row);
            if (c.editable && !text.empty())
                fields[c.caption] = std::string(text);
        }
        edits.lines.push_back(std::move(fields));
    }
    edits.selectedRow = grid.SelectedRow();
    edits.code = form_.edtCode.Text();
    edits.codeType = form_.cmbCodeType.ItemIndex();
    edits.paymentMethod = form_.edtPaymentMethod.Text();
    return edits;
}

std::string ScenarioRecorder::ActionOf(const TControl& control) const {
    if (&control == &form_.btnGenerate)
        return "generateSessionId";
    if (&control == &form_.spdRegelToevoegen)
        return "addLine";
    if (&control == &form_.spdRegelVerwijderen)
        return "removeLine";
    if (&control == &form_.spdConfirmDialog)
        return "confirmDialog";
    if (&control == &form_.spdSkipDialog)
        return "skipDialog";
    for (const TSpeedButton* option :
         {&form_.spdButton1, &form_.spdButton2, &form_.spdButton3, &form_.spdButton4, &form_.spdButton5})
        if (&control == option)
            return "chooseOption";
    // An event's button is named after it: spdAddSessionLine for addSessionLine.
    const std::string& name = control.Name();
    if (name.compare(0, 3, "spd") != 0 || name.size() < 4)
        return "";
    std::string event = name.substr(3);
    event[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(event[0])));
    return std::find(kScenarioEvents.begin(), kScenarioEvents.end(), event) != kScenarioEvents.end() ? event
                                                                                                     : "";
}

void ScenarioRecorder::RecordingSwitched() {
    if (recording_ == form_.chkRecordScenario.Checked())
        return;
    recording_ = form_.chkRecordScenario.Checked();
    if (!recording_)
        return;
    scenario_ = Scenario();
    scenario_.name = "Recorded sale";
    ScenarioSettings& settings = scenario_.settings;
    settings.baseUrl = form_.edtBaseURL.Text();
    settings.subscriptionId = form_.edtSubscriptionId.Text();
    settings.blockingCall = form_.chkBlockingCall.Checked();
    settings.selfSigned = form_.chkSelfSigned.Checked();
    settings.branch = form_.edtBranchNumber.Text();
    settings.workplace = form_.edtWorkplaceNumber.Text();
    settings.decimalSeparator = std::string(1, form_.toolkit.DecimalSeparator());
    edits_ = Current();
    scenario_.startingLines = edits_.lines;
    pollWitness_ = StepWitness();
}

void ScenarioRecorder::RecordEdits() {
    const Edits now = Current();
    // The lines as they are now are expected after the last of the edits only: an earlier
    // edit's step did not yet see the later ones.
    std::vector<std::pair<int, Json::Value>> lineEdits;
    for (std::size_t i = 0; i < std::min(now.lines.size(), edits_.lines.size()); ++i) {
        Json::Value fields(Json::objectValue);
        for (const auto& [column, text] : now.lines[i]) {
            const auto before = edits_.lines[i].find(column);
            if (before == edits_.lines[i].end() || before->second != text)
                fields[column] = text;
        }
        for (const auto& [column, text] : edits_.lines[i])
            if (!now.lines[i].count(column))
                fields[column] = "";
        if (!fields.empty())
            lineEdits.emplace_back(static_cast<int>(i), fields);
    }
    for (std::size_t k = 0; k < lineEdits.size(); ++k) {
        Json::Value args(Json::objectValue);
        args["line"] = lineEdits[k].first;
        args["fields"] = lineEdits[k].second;
        if (k + 1 == lineEdits.size())
            Add("editLine", args, StepWitness());
        else
            scenario_.steps.push_back({"editLine", args, Json::Value(Json::objectValue)});
    }
    if (now.code != edits_.code || now.codeType != edits_.codeType) {
        Json::Value args(Json::objectValue);
        args["code"] = now.code;
        if (now.codeType >= 0)
            args["type"] = form_.cmbCodeType.Items()[static_cast<std::size_t>(now.codeType)];
        scenario_.steps.push_back({"setScanCode", args, Json::Value(Json::objectValue)});
    }
    if (now.paymentMethod != edits_.paymentMethod) {
        Json::Value args(Json::objectValue);
        args["method"] = now.paymentMethod;
        scenario_.steps.push_back({"setPaymentMethod", args, Json::Value(Json::objectValue)});
    }
    if (now.selectedRow != edits_.selectedRow && now.selectedRow >= form_.gridSession.FixedRows()) {
        Json::Value args(Json::objectValue);
        args["line"] = now.selectedRow - form_.gridSession.FixedRows();
        scenario_.steps.push_back({"selectLine", args, Json::Value(Json::objectValue)});
    }
    edits_ = now;
}

void ScenarioRecorder::Add(const std::string& action, Json::Value args, const StepWitness& witness) {
    scenario_.steps.push_back({action, std::move(args), RecordedExpectations(form_, witness, action)});
    edits_ = Current();
}

void ScenarioRecorder::BeforePress(const TControl& control) {
    pressing_ = true;
    pressWitness_ = StepWitness();
    if (recording_ && !ActionOf(control).empty())
        RecordEdits();
}

void ScenarioRecorder::AfterPress(const TControl& control) {
    // Still inside the press: a message box of saving belongs to no step.
    if (&control == &form_.btnSaveScenario)
        Application::Run(form_.toolkit, [this] { Save(); });
    pressing_ = false;
    const std::string action = ActionOf(control);
    if (!recording_ || action.empty())
        return;
    Json::Value args(Json::objectValue);
    if (action == "chooseOption")
        args["option"] = control.Name().back() - '0';
    Add(action, std::move(args), pressWitness_);
}

void ScenarioRecorder::TakeExchange(const ExchangeRecord& record) {
    if (pressing_) {
        pressWitness_.exchanges.push_back(record);
        return;
    }
    if (!recording_)
        return;
    pollWitness_.exchanges.push_back(record);
    const bool settled = !form_.edtExternalPaymentConfirmed.Text().empty() ||
                         !form_.edtExternalPaymentCancelled.Text().empty();
    if (record.eventName == "pollExternalPayment" && settled) {
        Add("awaitExternalPayment", Json::Value(Json::objectValue), pollWitness_);
        pollWitness_ = StepWitness();
    }
}

void ScenarioRecorder::TakeMessage(const std::string& text) {
    (pressing_ ? pressWitness_ : pollWitness_).messageBoxes.push_back(text);
}

void ScenarioRecorder::Save() {
    if (scenario_.steps.empty())
        throw Exception("Nothing has been recorded: tick \"Record\" and press through a sale first.");
    const auto path = form_.toolkit.AskSaveFileName("Save scenario", "scenario.json");
    if (path)
        WriteScenarioFile(scenario_, *path);
}
