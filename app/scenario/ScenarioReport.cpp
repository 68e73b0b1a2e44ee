#include "ScenarioReport.h"

#include <json/writer.h>

#include <algorithm>
#include <cstdio>

namespace {

std::string Joined(const std::vector<std::string>& texts) {
    std::string joined;
    for (const std::string& text : texts)
        joined += (joined.empty() ? "" : "; ") + text;
    return joined;
}

// Text for an XML attribute or element: markup escaped, and the control characters XML 1.0
// cannot hold left out.
std::string Xml(const std::string& text) {
    std::string xml;
    xml.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            xml += "&amp;";
            break;
        case '<':
            xml += "&lt;";
            break;
        case '>':
            xml += "&gt;";
            break;
        case '"':
            xml += "&quot;";
            break;
        case '\n':
            xml += "&#10;";
            break;
        case '\t':
            xml += "&#9;";
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\r')
                xml += c;
        }
    }
    return xml;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::size_t Failed(const std::vector<StepOutcome>& outcomes) {
    return static_cast<std::size_t>(
        std::count_if(outcomes.begin(), outcomes.end(), [](const StepOutcome& o) { return !o.Passed(); }));
}

} // namespace

std::string StepLine(const StepOutcome& outcome) {
    const std::string head = std::to_string(outcome.number) + " " + outcome.name;
    return outcome.Passed() ? "ok " + head : "FAIL " + head + ": " + Joined(outcome.unmet);
}

std::string RunSummary(const std::vector<StepOutcome>& outcomes) {
    const std::size_t failed = Failed(outcomes);
    return std::to_string(outcomes.size() - failed) + " passed, " + std::to_string(failed) + " failed";
}

std::string JUnitReport(const std::string& scenarioName, const std::vector<StepOutcome>& outcomes) {
    double total = 0;
    for (const StepOutcome& outcome : outcomes)
        total += outcome.seconds;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
    xml += "  <testsuite name=\"" + Xml(scenarioName) + "\" tests=\"" + std::to_string(outcomes.size()) +
           "\" failures=\"" + std::to_string(Failed(outcomes)) + "\" errors=\"0\" time=\"" + Seconds(total) +
           "\">\n";
    for (const StepOutcome& outcome : outcomes) {
        xml += "    <testcase classname=\"" + Xml(scenarioName) + "\" name=\"" +
               Xml(std::to_string(outcome.number) + " " + outcome.name) + "\" time=\"" +
               Seconds(outcome.seconds) + "\"";
        if (outcome.Passed()) {
            xml += "/>\n";
            continue;
        }
        const std::string detail = Joined(outcome.unmet);
        xml += ">\n      <failure message=\"" + Xml(outcome.unmet.front()) + "\">" + Xml(detail) +
               "</failure>\n    </testcase>\n";
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

std::string JsonReport(const std::string& scenarioName, const std::vector<StepOutcome>& outcomes) {
    Json::Value report(Json::objectValue);
    report["scenario"] = scenarioName;
    const std::size_t failed = Failed(outcomes);
    report["passed"] = static_cast<Json::UInt64>(outcomes.size() - failed);
    report["failed"] = static_cast<Json::UInt64>(failed);
    Json::Value& steps = report["steps"];
    steps = Json::Value(Json::arrayValue);
    for (const StepOutcome& outcome : outcomes) {
        Json::Value step(Json::objectValue);
        step["number"] = outcome.number;
        step["name"] = outcome.name;
        step["passed"] = outcome.Passed();
        step["seconds"] = outcome.seconds;
        Json::Value& unmet = step["failures"];
        unmet = Json::Value(Json::arrayValue);
        for (const std::string& text : outcome.unmet)
            unmet.append(text);
        steps.append(step);
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, report) + "\n";
}
