#include "ScenarioRunner.h"

#include "Application.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace {

const char* const kSecretShown = "(secret)";

// The button of an event: its caption is the event's name.
std::string EventButtonName(const std::string& event) {
    std::string name = "spd" + event;
    name[3] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[3])));
    return name;
}

bool PaymentSettled(const TForm1& form) {
    return !form.edtExternalPaymentConfirmed.Text().empty() ||
           !form.edtExternalPaymentCancelled.Text().empty();
}

} // namespace

ScenarioRunner::ScenarioRunner(Scenario scenario, RunOptions options)
    : scenario_(std::move(scenario)), options_(std::move(options)), form_(toolkit_) {
    for (TControl* control : form_.AllControls())
        for (const std::string& event : kScenarioEvents)
            if (control->Name() == EventButtonName(event))
                eventButtons_[event] = control;

    form_.exchangeListeners.push_back(
        [this](const ExchangeRecord& record) { witness_.exchanges.push_back(record); });
    toolkit_.messageListeners.push_back(
        [this](const std::string& text) { witness_.messageBoxes.push_back(text); });

    const ScenarioSettings& settings = scenario_.settings;
    toolkit_.SetDecimalSeparator(settings.decimalSeparator[0]);
    const long seconds = std::max(1L, (static_cast<long>(options_.timeoutMs) + 999) / 1000);
    form_.clientFactory = [seconds] {
        return boost::make_shared<Tarn::Webhooks::WebhookConsumerClient>(std::min(seconds, 5L), seconds);
    };
    form_.FormShow();
    form_.edtBaseURL.SetText(options_.baseUrl.value_or(settings.baseUrl));
    form_.edtSubscriptionId.SetText(options_.subscriptionId.value_or(settings.subscriptionId));
    form_.edtSecret.SetText(options_.secret);
    form_.chkBlockingCall.SetChecked(settings.blockingCall);
    form_.chkSelfSigned.SetChecked(settings.selfSigned);
    form_.edtBranchNumber.SetText(settings.branch);
    form_.edtWorkplaceNumber.SetText(settings.workplace);

    form_.Press(form_.btnGenerate);
    for (std::size_t i = 0; i < scenario_.startingLines.size(); ++i) {
        Json::Value fields(Json::objectValue);
        for (const auto& [column, text] : scenario_.startingLines[i])
            fields[column] = text;
        form_.Press(form_.spdRegelToevoegen);
        if (const auto failure = Type(static_cast<int>(i), fields))
            throw ScenarioError(scenario_.name + ": session.lines[" + std::to_string(i) + "]: " + *failure);
    }
    toolkit_.ProcessMessages();
    witness_ = StepWitness();
}

std::string ScenarioRunner::Redacted(std::string text) const {
    if (options_.secret.empty())
        return text;
    for (std::size_t at = text.find(options_.secret); at != std::string::npos;
         at = text.find(options_.secret, at + std::char_traits<char>::length(kSecretShown)))
        text.replace(at, options_.secret.size(), kSecretShown);
    return text;
}

std::optional<std::string> ScenarioRunner::Press(TControl& control) {
    if (!form_.Press(control))
        return "\"" + control.Caption() + "\" (" + control.Name() + ") is disabled";
    return std::nullopt;
}

std::optional<std::string> ScenarioRunner::Type(int line, const Json::Value& fields) {
    TGridControl& grid = form_.gridSession;
    const int row = line + grid.FixedRows();
    if (row >= grid.RowCount())
        return "line " + std::to_string(line) + ": the session has " +
               std::to_string(grid.RowCount() - grid.FixedRows()) + " lines";
    for (const std::string& caption : fields.getMemberNames()) {
        const auto& columns = grid.Columns();
        const auto column = std::find_if(columns.begin(), columns.end(),
                                         [&](const TGridControl::Column& c) { return c.caption == caption; });
        const int index = static_cast<int>(column - columns.begin());
        if (column == columns.end() || !grid.CanEdit(index, row))
            return "line " + std::to_string(line) + ": " + caption + " cannot be typed into now";
        // As the window takes a typed cell: a handler's exception goes to the exception display.
        Application::Run(toolkit_, [&] { grid.EditCell(index, row, fields[caption].asString()); });
    }
    return std::nullopt;
}

std::optional<std::string> ScenarioRunner::Apply(const ScenarioStep& step) {
    const std::string& action = step.action;
    const Json::Value& args = step.args;
    if (action == "generateSessionId")
        return Press(form_.btnGenerate);
    if (action == "addLine") {
        if (auto failure = Press(form_.spdRegelToevoegen))
            return failure;
        return Type(form_.gridSession.RowCount() - form_.gridSession.FixedRows() - 1,
                    args.get("fields", Json::Value(Json::objectValue)));
    }
    if (action == "editLine")
        return Type(args["line"].asInt(), args["fields"]);
    if (action == "selectLine") {
        const int line = args["line"].asInt();
        if (line + form_.gridSession.FixedRows() >= form_.gridSession.RowCount())
            return "line " + std::to_string(line) + ": the session has " +
                   std::to_string(form_.gridSession.RowCount() - form_.gridSession.FixedRows()) + " lines";
        form_.gridSession.SelectRow(line + form_.gridSession.FixedRows());
        return std::nullopt;
    }
    if (action == "removeLine")
        return Press(form_.spdRegelVerwijderen);
    if (action == "chooseOption") {
        TSpeedButton* const options[] = {&form_.spdButton1, &form_.spdButton2, &form_.spdButton3,
                                         &form_.spdButton4, &form_.spdButton5};
        TSpeedButton& option = *options[args["option"].asInt() - 1];
        if (!option.Visible())
            return "option " + std::to_string(args["option"].asInt()) + " is not shown";
        return Press(option);
    }
    if (action == "confirmDialog")
        return Press(form_.spdConfirmDialog);
    if (action == "skipDialog")
        return Press(form_.spdSkipDialog);
    if (action == "setScanCode") {
        form_.edtCode.SetText(args["code"].asString());
        if (args.isMember("type")) {
            const auto& items = form_.cmbCodeType.Items();
            form_.cmbCodeType.SetItemIndex(static_cast<int>(
                std::find(items.begin(), items.end(), args["type"].asString()) - items.begin()));
        }
        return std::nullopt;
    }
    if (action == "setPaymentMethod") {
        form_.edtPaymentMethod.SetText(args["method"].asString());
        return std::nullopt;
    }
    if (action == "awaitExternalPayment") {
        const int limit = args.get("timeoutMs", options_.timeoutMs).asInt();
        if (!toolkit_.PumpUntil([this] { return PaymentSettled(form_); }, std::chrono::milliseconds(limit)))
            return "the external payment was neither confirmed nor cancelled within " +
                   std::to_string(limit) + " ms";
        return std::nullopt;
    }
    return Press(*eventButtons_.at(action));
}

StepOutcome ScenarioRunner::RunStep(std::size_t index) {
    const ScenarioStep& step = scenario_.steps.at(index);
    StepOutcome outcome;
    outcome.number = static_cast<int>(index) + 1;
    outcome.name = step.action;
    witness_ = StepWitness();
    const auto start = std::chrono::steady_clock::now();
    if (const auto failure = Apply(step)) {
        outcome.unmet.push_back(*failure);
    } else {
        // What the window's message loop does before the next input: the work queued by the step.
        toolkit_.ProcessMessages();
        outcome.unmet = UnmetExpectations(form_, witness_, step.expect);
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (std::string& text : outcome.unmet)
        text = Redacted(std::move(text));
    return outcome;
}

std::vector<StepOutcome> ScenarioRunner::Run(const std::function<void(const StepOutcome&)>& onStep) {
    std::vector<StepOutcome> outcomes;
    outcomes.reserve(scenario_.steps.size());
    for (std::size_t i = 0; i < scenario_.steps.size(); ++i) {
        outcomes.push_back(RunStep(i));
        if (onStep)
            onStep(outcomes.back());
    }
    return outcomes;
}
