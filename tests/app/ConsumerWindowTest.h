#pragma once

// The headless window talking to the sample consumer on loopback, with the user's data folder
// in a temporary folder: the base of the tests that press event buttons.

#include "Exception.h"
#include "HeadlessToolkit.h"
#include "MainFormUnit.h"
#include "SampleConsumer.h"
#include "TestSupport.h"

#include <boost/optional/optional_io.hpp>
#include <gtest/gtest.h>
#include <json/json.h>

#include <memory>
#include <string>
#include <vector>

class ConsumerWindowTest : public ::testing::Test {
protected:
    // Base64 of "the consumer's shared secret".
    static constexpr const char* kSecret = "dGhlIGNvbnN1bWVyJ3Mgc2hhcmVkIHNlY3JldA==";

    void SetUp() override {
        testsupport::ConsumerOptions options;
        options.secret = kSecret;
        consumer = std::make_unique<testsupport::SampleConsumer>(options);
        form = std::make_unique<TForm1>(toolkit);
        form->FormShow();
        form->edtBaseURL.SetText(consumer->BaseUrl());
        form->edtSecret.SetText(kSecret);
        form->chkBlockingCall.SetChecked(true);
        form->btnStartSessionClick();
    }

    void TearDown() override {
        form.reset();
        consumer.reset();
    }

    // The consumer's answers, e.g. Answers("startSession", R"([{"status": 200, "body": {}}])").
    void Answers(const std::string& event, const std::string& answers) {
        consumer->SetScenario(R"({"events": {")" + event + R"(": )" + answers + "}}");
    }
    void Scenario(const std::string& scenarioJson) { consumer->SetScenario(scenarioJson); }

    // Presses a button the way the window does: an exception that leaves the handler is shown in
    // a message box. Returns that message, empty when the handler went through.
    std::string Press(void (TForm1::*handler)()) {
        try {
            (form.get()->*handler)();
        } catch (const Exception& error) {
            return error.Message();
        }
        return {};
    }
    std::string Send(bool withDialog, const std::string& name) {
        try {
            form->SendEvent(withDialog, name);
        } catch (const Exception& error) {
            return error.Message();
        }
        return {};
    }

    // The requests the consumer received, oldest first.
    std::vector<Json::Value> Log() const { return consumer->Log(); }
    // The body of the nth request the consumer received (its JSON; the text when it was none).
    Json::Value Body(std::size_t n) const {
        const std::vector<Json::Value> log = Log();
        return n < log.size() ? log[n]["body"] : Json::Value();
    }
    Json::Value LastBody() const { return Body(Log().size() - 1); }

    // Grid helpers: the column with the caption, and data line i's grid row.
    int Column(const std::string& caption) const {
        const auto& columns = form->gridSession.Columns();
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (columns[c].caption == caption)
                return static_cast<int>(c);
        }
        ADD_FAILURE() << "no grid column " << caption;
        return -1;
    }
    static int Row(int line) { return line + 1; }
    std::string Cell(const std::string& caption, int line) const {
        return form->gridSession.Cell(Column(caption), Row(line));
    }
    void Type(const std::string& caption, int line, const std::string& text) {
        form->gridSession.EditCell(Column(caption), Row(line), text);
    }
    // "+" and the typed cells of the new line; returns its index.
    int AddLine(const std::string& article, const std::string& text, const std::string& quantity,
                const std::string& price) {
        form->spdRegelToevoegenClick();
        const int line = static_cast<int>(form->session.lines.size()) - 1;
        Type("articleNumber", line, article);
        Type("text", line, text);
        Type("quantity", line, quantity);
        Type("priceIncl", line, price);
        return line;
    }
    void SelectLine(int line) { form->gridSession.SelectRow(Row(line)); }
    int DataRows() const { return form->gridSession.RowCount() - form->gridSession.FixedRows(); }

    testsupport::TempDir data;
    testsupport::ScopedEnv dataHome{"XDG_DATA_HOME", data.Path()};
    HeadlessToolkit toolkit;
    std::unique_ptr<testsupport::SampleConsumer> consumer;
    std::unique_ptr<TForm1> form;
};
