#include "StepExpectations.h"

#include "MainFormUnit.h"

#include <json/writer.h>

#include <algorithm>

namespace {

const char* const kPass = "pass";

// Columns whose texts are new on every run (the tester makes the ids): never recorded.
bool MadeAnew(const std::string& column) {
    return column == "#" || column == "lineId" || column == "lineSetId";
}

Json::Value Texts(const std::vector<std::string>& texts) {
    Json::Value list(Json::arrayValue);
    for (const std::string& text : texts)
        list.append(text);
    return list;
}

std::string Compact(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

// The first refused event of the step, nullptr when every answer was accepted.
const ExchangeRecord* FirstRefused(const StepWitness& witness) {
    for (const ExchangeRecord& record : witness.exchanges)
        if (record.kind == ExchangeKind::Event && !record.Accepted())
            return &record;
    return nullptr;
}

bool ErrorReportSent(const StepWitness& witness) {
    return std::any_of(witness.exchanges.begin(), witness.exchanges.end(),
                       [](const ExchangeRecord& record) { return record.kind == ExchangeKind::ErrorReport; });
}

// A refused answer in words: the check that failed, its detail and the explanations after it.
std::string Refusal(const ExchangeRecord& record) {
    const ExchangeCheck* failed = record.FirstFailure();
    if (!failed) {
        std::string text = "no answer";
        if (record.httpStatus >= 0)
            text = "answer refused: " + record.verdict;
        else if (!record.transportError.empty())
            text += " (" + record.transportError + ")";
        return record.eventName + ": " + text;
    }
    std::string text = failed->check + ": " + failed->detail;
    for (auto check = record.checks.begin() + (failed - record.checks.data()) + 1;
         check != record.checks.end(); ++check)
        if (check->result == CheckResult::Info && !check->detail.empty())
            text += " " + check->detail;
    return text;
}

Json::Value ObservedChecks(const StepWitness& witness) {
    const ExchangeRecord* refused = FirstRefused(witness);
    if (!refused)
        return kPass;
    const ExchangeCheck* failed = refused->FirstFailure();
    Json::Value fails(Json::objectValue);
    fails["fails"] = failed ? failed->check : std::string("Transport");
    return fails;
}

bool CheckFailed(const StepWitness& witness, const std::string& name) {
    for (const ExchangeRecord& record : witness.exchanges)
        for (const ExchangeCheck& check : record.checks)
            if (check.result == CheckResult::Fail && check.check == name)
                return true;
    return false;
}

Json::Value Lines(TForm1& form) {
    const TGridControl& grid = form.gridSession;
    Json::Value lines(Json::arrayValue);
    for (int row = grid.FixedRows(); row < grid.RowCount(); ++row) {
        Json::Value fields(Json::objectValue);
        for (int column = 0; column < grid.ColumnCount(); ++column) {
            const std::string_view text = grid.CellText(column, row);
            if (!text.empty())
                fields[grid.Columns()[static_cast<std::size_t>(column)].caption] = std::string(text);
        }
        lines.append(fields);
    }
    return lines;
}

// Whether the window's value has everything the expected one names: an object's named keys, a
// list's every element, a text or number as it is.
bool Meets(const Json::Value& expected, const Json::Value& observed) {
    if (expected.isObject()) {
        if (!observed.isObject())
            return false;
        for (const std::string& key : expected.getMemberNames())
            if (!Meets(expected[key], observed[key]))
                return false;
        return true;
    }
    if (expected.isArray()) {
        if (!observed.isArray() || observed.size() != expected.size())
            return false;
        for (Json::ArrayIndex i = 0; i < expected.size(); ++i)
            if (!Meets(expected[i], observed[i]))
                return false;
        return true;
    }
    return expected == observed;
}

bool AnyContains(const Json::Value& texts, const std::string& part) {
    for (const Json::Value& text : texts)
        if (text.asString().find(part) != std::string::npos)
            return true;
    return false;
}

} // namespace

Json::Value Observe(TForm1& form, const StepWitness& witness, const std::string& key) {
    if (key == "checks")
        return ObservedChecks(witness);
    if (key == "httpStatus") {
        for (auto record = witness.exchanges.rbegin(); record != witness.exchanges.rend(); ++record)
            if (record->kind == ExchangeKind::Event)
                return record->httpStatus;
        return Json::Value();
    }
    if (key == "messages" || key == "messagesContain")
        return Texts(form.mmMessages.Lines());
    if (key == "lineCount")
        return form.gridSession.RowCount() - form.gridSession.FixedRows();
    if (key == "lines")
        return Lines(form);
    if (key == "total") {
        double total = 0;
        for (const Tarn::Webhooks::SessionLine& line : form.session.lines)
            total += form.LineTotal(line).value_or(0.0);
        return form.FormatNumber(total);
    }
    if (key == "dialog") {
        std::vector<std::string> options;
        for (const TSpeedButton* button :
             {&form.spdButton1, &form.spdButton2, &form.spdButton3, &form.spdButton4, &form.spdButton5})
            if (button->Visible())
                options.push_back(button->Caption());
        if (options.empty())
            return Json::Value();
        Json::Value dialog(Json::objectValue);
        dialog["title"] = form.edtDialogTitle.Text();
        dialog["options"] = Texts(options);
        return dialog;
    }
    if (key == "messageBoxes" || key == "receiptContains")
        return Texts(witness.messageBoxes);
    if (key == "scanResult") {
        Json::Value result(Json::objectValue);
        result["recognized"] = form.edtScanCodeRecognized.Text();
        result["message"] = form.edtScanCodeMessage.Text();
        result["customerMessage"] = form.edtScanCodeCustomerMessage.Text();
        result["relationNumber"] = form.edtScanCodeRelationNumber.Text();
        return result;
    }
    if (key == "payment") {
        Json::Value payment(Json::objectValue);
        payment["started"] = form.edtExternalPaymentStarted.Text();
        payment["confirmed"] = form.edtExternalPaymentConfirmed.Text();
        payment["cancelled"] = form.edtExternalPaymentCancelled.Text();
        payment["message"] = form.edtExternalPaymentMessage.Text();
        payment["customerMessage"] = form.edtExternalPaymentCustomerMessage.Text();
        return payment;
    }
    if (key == "errorReport")
        return ErrorReportSent(witness);
    return Json::Value();
}

std::vector<std::string> UnmetExpectations(TForm1& form, const StepWitness& witness,
                                           const Json::Value& expect) {
    std::vector<std::string> unmet;
    const Json::Value checks = expect.get("checks", kPass);
    if (checks.isString()) {
        if (const ExchangeRecord* refused = FirstRefused(witness))
            unmet.push_back(Refusal(*refused));
        else if (!expect.isMember("errorReport") && ErrorReportSent(witness))
            unmet.push_back("errorReport: the tester reported a wrong answer to the consumer");
    } else {
        const std::string name = checks["fails"].asString();
        if (!CheckFailed(witness, name)) {
            const Json::Value observed = ObservedChecks(witness);
            unmet.push_back("checks: expected \"" + name + "\" to fail, " +
                            (observed.isString() ? std::string("every check passed")
                                                 : "\"" + observed["fails"].asString() + "\" failed"));
        }
    }
    for (const std::string& key : expect.getMemberNames()) {
        if (key == "checks")
            continue;
        const Json::Value& expected = expect[key];
        const Json::Value observed = Observe(form, witness, key);
        if (key == "messagesContain") {
            for (const Json::Value& part : expected)
                if (!AnyContains(observed, part.asString()))
                    unmet.push_back(key + ": no line contains " + Compact(part) + "; the window showed " +
                                    Compact(observed));
        } else if (key == "receiptContains") {
            if (!AnyContains(observed, expected.asString()))
                unmet.push_back(key + ": no message box contains " + Compact(expected) + "; shown were " +
                                Compact(observed));
        } else if (!Meets(expected, observed)) {
            unmet.push_back(key + ": expected " + Compact(expected) + ", the window showed " +
                            Compact(observed));
        }
    }
    return unmet;
}

Json::Value RecordedExpectations(TForm1& form, const StepWitness& witness, const std::string& action) {
    Json::Value expect(Json::objectValue);
    const bool exchanged = !witness.exchanges.empty();
    if (exchanged) {
        const Json::Value checks = ObservedChecks(witness);
        if (!checks.isString())
            expect["checks"] = checks;
        for (const char* key : {"httpStatus", "messages", "errorReport"}) {
            const Json::Value value = Observe(form, witness, key);
            if (!value.isNull())
                expect[key] = value;
        }
        if (action == "scanCode")
            expect["scanResult"] = Observe(form, witness, "scanResult");
        if (action.find("ExternalPayment") != std::string::npos)
            expect["payment"] = Observe(form, witness, "payment");
    }
    if (action != "setScanCode" && action != "setPaymentMethod" && action != "awaitExternalPayment") {
        expect["lineCount"] = Observe(form, witness, "lineCount");
        Json::Value lines = Lines(form);
        for (Json::Value& line : lines)
            for (const std::string& column : line.getMemberNames())
                if (MadeAnew(column))
                    line.removeMember(column);
        expect["lines"] = lines;
        expect["total"] = Observe(form, witness, "total");
    }
    const Json::Value dialog = Observe(form, witness, "dialog");
    if (!dialog.isNull())
        expect["dialog"] = dialog;
    if (!witness.messageBoxes.empty())
        expect["messageBoxes"] = Texts(witness.messageBoxes);
    return expect;
}
