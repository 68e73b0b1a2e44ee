// Scenarios as a developer uses them: a sale pressed through the window with Record ticked and
// saved, then run by orvel-webhook-tester-run against the sample consumer's demo, once as
// recorded and once against a consumer that answers one event wrongly; every kind of step and
// expectation; scenario files that cannot be used.

#include "Scenario.h"
#include "DemoScenario.h"
#include "HeadlessToolkit.h"
#include "MainFormUnit.h"
#include "SampleConsumer.h"
#include "ScenarioRecorder.h"
#include "ScenarioRunner.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

// Base64 of "the consumer's shared secret".
const char* const kSecret = "dGhlIGNvbnN1bWVyJ3Mgc2hhcmVkIHNlY3JldA==";

// An element of an XML document, read strictly enough to refuse what is not well-formed.
struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string text;
    std::vector<XmlElement> children;
};

std::string Unescaped(std::string text) {
    for (const auto& [entity, c] : std::vector<std::pair<std::string, std::string>>{
             {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#10;", "\n"}, {"&#9;", "\t"}, {"&amp;", "&"}})
        for (std::size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
            text.replace(at, entity.size(), c);
    return text;
}

// Parses the element at xml[at]; fails the test (and gives an empty element) on a fault.
XmlElement ParseElement(const std::string& xml, std::size_t& at) {
    XmlElement element;
    if (xml.compare(at, 1, "<") != 0) {
        ADD_FAILURE() << "expected an element at " << at;
        return element;
    }
    std::size_t end = xml.find_first_of(" />", ++at);
    element.name = xml.substr(at, end - at);
    at = end;
    for (;;) {
        at = xml.find_first_not_of(' ', at);
        if (xml.compare(at, 2, "/>") == 0) {
            at += 2;
            return element;
        }
        if (xml[at] == '>')
            break;
        const std::size_t eq = xml.find("=\"", at);
        const std::size_t close = xml.find('"', eq + 2);
        EXPECT_NE(std::string::npos, close) << "an attribute without its closing quote";
        if (close == std::string::npos)
            return element;
        EXPECT_EQ(std::string::npos, xml.substr(eq + 2, close - eq - 2).find_first_of("<>"))
            << "markup in a value";
        element.attributes[xml.substr(at, eq - at)] = Unescaped(xml.substr(eq + 2, close - eq - 2));
        at = close + 1;
    }
    ++at;
    for (;;) {
        const std::size_t next = xml.find('<', at);
        if (next == std::string::npos) {
            ADD_FAILURE() << "<" << element.name << "> is never closed";
            return element;
        }
        element.text += Unescaped(xml.substr(at, next - at));
        at = next;
        if (xml.compare(at, 2, "</") == 0) {
            const std::size_t close = xml.find('>', at);
            EXPECT_EQ(element.name, xml.substr(at + 2, close - at - 2)) << "closing tag of another element";
            at = close + 1;
            return element;
        }
        element.children.push_back(ParseElement(xml, at));
    }
}

XmlElement ParseXml(const std::string& xml) {
    std::size_t at = 0;
    if (xml.compare(0, 5, "<?xml") == 0)
        at = xml.find("?>") + 2;
    at = xml.find('<', at);
    XmlElement root = ParseElement(xml, at);
    EXPECT_EQ(std::string::npos, xml.find_first_not_of(" \n", at)) << "text after the root element";
    return root;
}

struct RunnerRun {
    int status = -1;
    std::string out, err;
};

class ScenarioTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ConsumerOptions options;
        options.secret = kSecret;
        options.demo = true;
        consumer = std::make_unique<testsupport::SampleConsumer>(options);
        testsupport::WriteFile(data.File("secret"), std::string(kSecret) + "\n");
    }

    // The demo's answers with one changed: completeSession answers with a text Content-Type.
    void CompleteSessionAnswersWrongly() {
        Json::Value demo = testsupport::ParseJson(orvelconsumer::DemoScenario::Text());
        demo["events"]["completeSession"][0]["faults"]["contentType"] = "text/plain";
        consumer->SetScenario(Json::FastWriter().write(demo));
    }

    // orvel-webhook-tester-run with these arguments after the scenario and the secret's file.
    RunnerRun Runner(const std::string& scenario, const std::string& more = "") const {
        const std::string command = std::string(ORVEL_WEBHOOK_TESTER_RUN) + " " + scenario +
                                    " --secret-file " + data.File("secret") + " --base-url " +
                                    consumer->BaseUrl() + " " + more + " > " + data.File("out") + " 2> " +
                                    data.File("err");
        RunnerRun run;
        const int status = std::system(command.c_str());
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = testsupport::ReadFile(data.File("out"));
        run.err = testsupport::ReadFile(data.File("err"));
        return run;
    }

    testsupport::TempDir data;
    testsupport::ScopedEnv dataHome{"XDG_DATA_HOME", data.Path()};
    std::unique_ptr<testsupport::SampleConsumer> consumer;
};

int ColumnOf(const TGridControl& grid, const std::string& caption) {
    for (int c = 0; c < grid.ColumnCount(); ++c)
        if (grid.Columns()[static_cast<std::size_t>(c)].caption == caption)
            return c;
    ADD_FAILURE() << "no column " << caption;
    return -1;
}

} // namespace

TEST_F(ScenarioTest, RecordedSaleReplaysAndFailsAtTheEventAnsweredWrongly) {
    const std::string file = data.File("sale.json");
    {
        HeadlessToolkit toolkit;
        TForm1 form(toolkit);
        ScenarioRecorder recorder(form);
        form.FormShow();
        form.edtBaseURL.SetText(consumer->BaseUrl());
        form.edtSecret.SetText(kSecret);
        form.chkBlockingCall.SetChecked(true);
        form.Press(form.btnGenerate);
        form.chkRecordScenario.SetChecked(true);

        TGridControl& grid = form.gridSession;
        form.Press(form.spdStartSession);
        form.Press(form.spdRegelToevoegen);
        for (const auto& [column, text] : std::vector<std::pair<std::string, std::string>>{
                 {"articleNumber", "1001"}, {"text", "Coffee"}, {"quantity", "2"}, {"priceIncl", "2.50"}})
            grid.EditCell(ColumnOf(grid, column), 1, text);
        form.Press(form.spdAddSessionLine);
        form.edtCode.SetText("CARD-7");
        form.cmbCodeType.SetItemIndex(1);
        form.Press(form.spdScanCode);
        form.Press(form.spdStartPayment);
        form.Press(form.spdButton1);
        form.Press(form.spdConfirmDialog);
        form.Press(form.spdPauseSession); // the demo signs this answer wrongly
        form.Press(form.spdStartExternalPayment);
        ASSERT_TRUE(toolkit.PumpUntil([&] { return !form.edtExternalPaymentConfirmed.Text().empty(); }));
        form.Press(form.spdCompleteSession);
        EXPECT_TRUE(recorder.Recording());

        toolkit.saveFileNameAnswer = file;
        form.Press(form.btnSaveScenario);
    }
    // The runs below keep to data folders of their own: the user's stays as it is (here, absent).
    std::filesystem::remove_all(data.File("OrvelWebhookTester"));
    const std::string saved = testsupport::ReadFile(file);
    EXPECT_EQ(std::string::npos, saved.find(kSecret));
    const Scenario recorded = ReadScenarioFile(file);
    std::vector<std::string> actions;
    for (const ScenarioStep& step : recorded.steps)
        actions.push_back(step.action);
    EXPECT_EQ(
        (std::vector<std::string>{"startSession", "addLine", "editLine", "addSessionLine", "setScanCode",
                                  "scanCode", "startPayment", "chooseOption", "confirmDialog", "pauseSession",
                                  "startExternalPayment", "awaitExternalPayment", "completeSession"}),
        actions);
    EXPECT_EQ("rfid", recorded.steps[4].args["type"].asString());
    EXPECT_EQ("Signature equal", recorded.steps[9].expect["checks"]["fails"].asString());
    EXPECT_EQ("true", recorded.steps[11].expect["payment"]["confirmed"].asString());
    EXPECT_NE(std::string::npos, recorded.steps[12].expect["messageBoxes"][0].asString().find("Thank you"));

    const RunnerRun green = Runner(file);
    EXPECT_EQ(0, green.status) << green.out << green.err;
    EXPECT_NE(std::string::npos, green.out.find("ok 4 addSessionLine\n")) << green.out;
    EXPECT_NE(std::string::npos, green.out.find("13 passed, 0 failed\n")) << green.out;

    CompleteSessionAnswersWrongly();
    const RunnerRun red =
        Runner(file, "--junit " + data.File("junit.xml") + " --json " + data.File("report.json"));
    EXPECT_EQ(1, red.status) << red.out << red.err;
    EXPECT_NE(std::string::npos, red.out.find("ok 12 awaitExternalPayment\n")) << red.out;
    EXPECT_NE(std::string::npos, red.out.find("FAIL 13 completeSession: Content-Type: "));
    EXPECT_NE(std::string::npos, red.out.find("Received \"text/plain\""));
    EXPECT_NE(std::string::npos, red.out.find("12 passed, 1 failed\n"));

    const std::string junit = testsupport::ReadFile(data.File("junit.xml"));
    const XmlElement suites = ParseXml(junit);
    EXPECT_EQ("testsuites", suites.name);
    ASSERT_EQ(1u, suites.children.size());
    const XmlElement& suite = suites.children[0];
    EXPECT_EQ("testsuite", suite.name);
    EXPECT_EQ("13", suite.attributes.at("tests"));
    EXPECT_EQ("1", suite.attributes.at("failures"));
    ASSERT_EQ(13u, suite.children.size());
    for (std::size_t i = 0; i < suite.children.size(); ++i) {
        const XmlElement& testcase = suite.children[i];
        EXPECT_EQ("testcase", testcase.name);
        EXPECT_EQ(std::to_string(i + 1) + " " + actions[i], testcase.attributes.at("name"));
        EXPECT_GE(std::stod(testcase.attributes.at("time")), 0.0);
        EXPECT_EQ(i == 12 ? 1u : 0u, testcase.children.size()) << testcase.attributes.at("name");
    }
    const XmlElement& failure = suite.children[12].children.at(0);
    EXPECT_EQ("failure", failure.name);
    EXPECT_EQ(0u, failure.attributes.at("message").find("Content-Type: "));
    EXPECT_NE(std::string::npos, failure.text.find("Received \"text/plain\""));

    EXPECT_FALSE(testsupport::FileExists(data.File("OrvelWebhookTester")));

    const Json::Value report = testsupport::ParseJson(testsupport::ReadFile(data.File("report.json")));
    EXPECT_EQ(1, report["failed"].asInt());
    EXPECT_FALSE(report["steps"][12]["passed"].asBool());

    // The secret reaches the consumer, and nothing the runner hands out.
    for (const std::string& output :
         {green.out, green.err, red.out, red.err, junit, testsupport::ReadFile(data.File("report.json"))})
        EXPECT_EQ(std::string::npos, output.find(kSecret)) << output;
}

// Every kind of step and of expectation once, against the demo, with a step that is not met or
// cannot be made here and there: the runner says why, in the words of the expectation.
TEST_F(ScenarioTest, EveryStepAndExpectation) {
    struct Row {
        const char* step;
        const char* unmet; // "" when the step is to pass
    };
    const Row rows[] = {
        {R"({"do": "startSession", "expect": {"checks": "pass", "httpStatus": 200, "messages": []}})", ""},
        {R"({"do": "addLine", "fields": {"articleNumber": "7", "text": "Tea", "quantity": "2", "priceIncl": "1.50"},
             "expect": {"lineCount": 2, "lines": [{"text": "Bread"}, {"text": "Tea", "Total": "3"}], "total": "5"}})",
         ""},
        {R"({"do": "editLine", "line": 1, "fields": {"quantity": "3"}, "expect": {"total": "6.5"}})", ""},
        {R"({"do": "selectLine", "line": 1})", ""},
        {R"({"do": "addSessionLine", "expect": {"lines": [{}, {"quantity": "2"},
             {"quantity": "1", "externalDiscount.discountPercentage": "50", "Total": "0.75"}]}})",
         ""},
        {R"({"do": "selectLine", "line": 0})", ""},
        {R"({"do": "removeSessionLine", "expect": {"lineCount": 2}})", ""},
        {R"({"do": "addLine"})", ""},
        {R"({"do": "selectLine", "line": 1})", ""},
        {R"({"do": "removeLine", "expect": {"lineCount": 2}})", ""},
        {R"({"do": "selectLine", "line": 4})", "line 4: the session has 2 lines"},
        {R"({"do": "setScanCode", "code": "CARD-7", "type": "qrcode"})", ""},
        {R"({"do": "scanCode", "expect": {"scanResult": {"recognized": "true", "relationNumber": "100234"},
             "messagesContain": ["nothing like this"]}})",
         "messagesContain: no line contains \"nothing like this\""},
        {R"({"do": "startPayment", "expect": {"dialog": {"title": "Round up the amount for charity?",
             "options": ["[1] Round up", "[2] Add 1.00", "[3] No, thank you"]}}})",
         ""},
        {R"({"do": "chooseOption", "option": 2})", ""},
        {R"({"do": "chooseOption", "option": 5})", "option 5 is not shown"},
        {R"({"do": "confirmDialog", "expect": {"httpStatus": 500}})",
         "httpStatus: expected 500, the window showed 200"},
        {R"({"do": "startSession"})", ""},
        {R"({"do": "startPayment"})", ""},
        {R"({"do": "skipDialog", "expect": {"errorReport": false}})", ""},
        {R"({"do": "pauseSession", "expect": {"checks": {"fails": "Signature equal"}, "errorReport": true}})",
         ""},
        {R"({"do": "pauseSession"})", "Signature equal: "},
        {R"({"do": "resumeSession", "expect": {"checks": {"fails": "JSON"}}})",
         "checks: expected \"JSON\" to fail, every check passed"},
        {R"({"do": "setPaymentMethod", "method": "K_PIN"})", ""},
        {R"({"do": "startExternalPayment", "expect": {"payment": {"started": "true"}}})", ""},
        {R"({"do": "awaitExternalPayment", "timeoutMs": 20000,
             "expect": {"payment": {"confirmed": "true", "message": "Payment confirmed."}}})",
         ""},
        {R"({"do": "pollExternalPayment"})", "\"pollExternalPayment\" (spdPollExternalPayment) is disabled"},
        {R"({"do": "completeSession", "expect": {"receiptContains": "[EAN13] 5901234123457",
             "messageBoxes": ["wrong"]}})",
         "messageBoxes: expected [\"wrong\"], the window showed [\"KASSABON"},
        {R"({"do": "generateSessionId", "expect": {"lineCount": 2}})", ""},
        {R"({"do": "cancelSession"})", ""},
    };
    std::string text = R"({"name": "table", "session": {"lines": [{"articleNumber": "3", "text": "Bread",
        "quantity": "1", "priceIncl": "2"}]}, "steps": [)";
    for (const Row& row : rows)
        text += std::string(&row == rows ? "" : ",") + row.step;
    RunOptions options;
    options.secret = kSecret;
    options.baseUrl = consumer->BaseUrl();
    ScenarioRunner runner(ReadScenario(text + "]}", "table.json"), options);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const StepOutcome outcome = runner.RunStep(i);
        std::string unmet;
        for (const std::string& why : outcome.unmet)
            unmet += why + "\n";
        if (*rows[i].unmet == '\0')
            EXPECT_TRUE(outcome.Passed()) << "step " << i + 1 << " " << rows[i].step << "\n" << unmet;
        else
            EXPECT_NE(std::string::npos, unmet.find(rows[i].unmet)) << "step " << i + 1 << "\n" << unmet;
    }
}

// A scenario that cannot be used is refused with the file, the step and the key.
TEST_F(ScenarioTest, MalformedScenariosAreRefusedWithTheirPlace) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"steps": [{"do": "startSession"}, {"do": "startSession", "expct": {}}]})",
         "bad.json: steps[1] (step 2).expct: unknown key"},
        {R"({"steps": [{"do": "flyAway"}]})", "bad.json: steps[0] (step 1).do: unknown step \"flyAway\""},
        {R"({"steps": [{"do": "editLine", "fields": {}}]})", "steps[0] (step 1): missing key \"line\""},
        {R"({"steps": [{"do": "addLine", "fields": {"colour": "red"}}]})",
         "steps[0] (step 1).fields.colour: unknown grid column"},
        {R"({"steps": [{"do": "addLine", "fields": {"Total": "9"}}]})",
         "not a column the user may type into"},
        {R"({"steps": [{"do": "chooseOption", "option": 7}]})",
         "option: expected an option button from 1 to 5"},
        {R"({"steps": [{"do": "scanCode", "expect": {"httpStatus": "200"}}]})",
         "steps[0] (step 1).expect.httpStatus: expected a whole number from 0"},
        {R"({"steps": [{"do": "startSession", "expect": {"dialog": {"titel": ""}}}]})",
         "expect.dialog.titel: unknown key"},
        {R"({"settings": {"secret": "x"}, "steps": []})", "bad.json: settings.secret: unknown key"},
        {R"({"steps": [], "extra": 1})", "bad.json: extra: unknown key"},
        {R"({"steps": [)", "bad.json: not JSON"},
    };
    for (const auto& [text, place] : cases) {
        try {
            ReadScenario(text, "bad.json");
            ADD_FAILURE() << "accepted: " << text;
        } catch (const ScenarioError& error) {
            EXPECT_NE(std::string::npos, std::string(error.what()).find(place)) << error.what();
        }
    }
    testsupport::WriteFile(data.File("bad.json"), cases[0].first);
    const RunnerRun run = Runner(data.File("bad.json"));
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find("bad.json: steps[1] (step 2).expct: unknown key")) << run.err;
    EXPECT_EQ("", run.out);
}
