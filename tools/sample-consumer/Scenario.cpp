#include "Scenario.h"

#include "JsonText.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <utility>

namespace orvelconsumer {

namespace {

constexpr int kMaxDelayMs = 3600000;
constexpr Json::Int64 kMaxBodyBytes = 64 * 1024 * 1024;

struct Step {
    bool isIndex = false;
    std::string key;
    Json::ArrayIndex index = 0;
};

// path := name ( "." name | "[" digits "]" )*, where a name is any run of characters other
// than '.', '[' and ']'.
bool SplitPath(const std::string& path, std::vector<Step>& steps) {
    steps.clear();
    std::size_t i = 0;
    bool expectName = true;
    while (i < path.size()) {
        if (expectName) {
            const std::size_t end = path.find_first_of(".[]", i);
            const std::size_t stop = end == std::string::npos ? path.size() : end;
            if (stop == i)
                return false;
            steps.push_back({false, path.substr(i, stop - i), 0});
            i = stop;
            expectName = false;
        } else if (path[i] == '.') {
            ++i;
            expectName = true;
        } else if (path[i] == '[') {
            const std::size_t close = path.find(']', i);
            if (close == std::string::npos || close == i + 1 || close - i - 1 > 9)
                return false;
            Json::ArrayIndex index = 0;
            for (std::size_t d = i + 1; d < close; ++d) {
                if (path[d] < '0' || path[d] > '9')
                    return false;
                index = index * 10 + static_cast<Json::ArrayIndex>(path[d] - '0');
            }
            steps.push_back({true, std::string(), index});
            i = close + 1;
        } else {
            return false;
        }
    }
    return !expectName;
}

// The path inside a string that is exactly "{{path}}", or nothing.
std::optional<std::string> PlaceholderPath(const std::string& text) {
    if (text.size() < 4 || text.compare(0, 2, "{{") != 0 || text.compare(text.size() - 2, 2, "}}") != 0)
        return std::nullopt;
    return text.substr(2, text.size() - 4);
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

void Fail(const std::string& where, const std::string& what) {
    throw ScenarioError(where + ": " + what);
}

void CheckKeys(const Json::Value& object, const std::string& where, const std::set<std::string>& known) {
    for (const std::string& key : object.getMemberNames())
        if (known.count(key) == 0)
            Fail(where, "unknown key " + Quoted(key));
}

Json::Int64 WholeNumber(const Json::Value& value, const std::string& where, Json::Int64 low,
                        Json::Int64 high) {
    if (!value.isIntegral() || value.asLargestInt() < low || value.asLargestInt() > high)
        Fail(where, "expected a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    return value.asLargestInt();
}

bool Boolean(const Json::Value& value, const std::string& where) {
    if (!value.isBool())
        Fail(where, "expected true or false");
    return value.asBool();
}

void CheckPlaceholders(const Json::Value& value, const std::string& where) {
    if (value.isString()) {
        const std::optional<std::string> path = PlaceholderPath(value.asString());
        if (path && !Scenario::IsValidPath(*path))
            Fail(where, "placeholder " + Quoted(value.asString()) +
                            " is no valid path (write names joined by '.', indexes as [0])");
    } else if (value.isArray()) {
        for (Json::ArrayIndex i = 0; i < value.size(); ++i)
            CheckPlaceholders(value[i], where + "[" + std::to_string(i) + "]");
    } else if (value.isObject()) {
        for (const std::string& key : value.getMemberNames())
            CheckPlaceholders(value[key], where + "." + key);
    }
}

Faults ReadFaults(const Json::Value& object, const std::string& where) {
    if (!object.isObject())
        Fail(where, "expected an object");
    CheckKeys(object, where, {"signature", "contentType", "delayMs", "closeMidAnswer", "bodyBytes"});
    Faults faults;
    if (object.isMember("signature")) {
        static const std::pair<const char*, Faults::Signature> kSignatures[] = {
            {"missing", Faults::Signature::Missing},
            {"empty", Faults::Signature::Empty},
            {"wrong", Faults::Signature::Wrong},
            {"otherCase", Faults::Signature::OtherCase},
            {"secretText", Faults::Signature::SecretText},
            {"hex", Faults::Signature::Hex},
            {"urlSafe", Faults::Signature::UrlSafe},
            {"noPadding", Faults::Signature::NoPadding},
            {"prefix", Faults::Signature::Prefix},
            {"requestBody", Faults::Signature::RequestBody},
            {"prettyPrinted", Faults::Signature::PrettyPrinted},
            {"keyOrder", Faults::Signature::KeyOrder},
            {"trailingNewline", Faults::Signature::TrailingNewline},
            {"trailingCrLf", Faults::Signature::TrailingCrLf},
            {"byteOrderMark", Faults::Signature::ByteOrderMark},
            {"emptyBody", Faults::Signature::EmptyBody},
            {"previousAnswer", Faults::Signature::PreviousAnswer},
        };
        const Json::Value& value = object["signature"];
        const std::string text = value.isString() ? value.asString() : std::string();
        const auto* found = std::find_if(std::begin(kSignatures), std::end(kSignatures),
                                         [&text](const auto& entry) { return text == entry.first; });
        if (found == std::end(kSignatures)) {
            std::string names;
            for (const auto& entry : kSignatures)
                names += std::string(names.empty() ? "" : ", ") + Quoted(entry.first);
            Fail(where + ".signature", "expected one of " + names);
        }
        faults.signature = found->second;
    }
    if (object.isMember("contentType")) {
        const Json::Value& value = object["contentType"];
        if (value.isNull()) {
            faults.omitContentType = true;
        } else if (value.isString()) {
            faults.contentType = value.asString();
            if (faults.contentType.find_first_of("\r\n") != std::string::npos)
                Fail(where + ".contentType", "must not hold a line break");
        } else {
            Fail(where + ".contentType", "expected a string, or null to leave the header out");
        }
    }
    if (object.isMember("delayMs"))
        faults.delayMs = static_cast<int>(WholeNumber(object["delayMs"], where + ".delayMs", 0, kMaxDelayMs));
    if (object.isMember("closeMidAnswer"))
        faults.closeMidAnswer = Boolean(object["closeMidAnswer"], where + ".closeMidAnswer");
    if (object.isMember("bodyBytes"))
        faults.bodyBytes = static_cast<std::size_t>(
            WholeNumber(object["bodyBytes"], where + ".bodyBytes", 0, kMaxBodyBytes));
    return faults;
}

ScriptedAnswer ReadAnswer(const Json::Value& object, const std::string& where) {
    if (!object.isObject())
        Fail(where, "expected an answer object");
    CheckKeys(object, where, {"status", "body", "rawBody", "faults", "repeat", "resets"});
    ScriptedAnswer answer;
    if (object.isMember("status"))
        answer.status = static_cast<int>(WholeNumber(object["status"], where + ".status", 200, 599));
    if (object.isMember("body") && object.isMember("rawBody"))
        Fail(where, "give either \"body\" or \"rawBody\", not both");
    if (object.isMember("body")) {
        answer.body = object["body"];
        CheckPlaceholders(*answer.body, where + ".body");
    }
    if (object.isMember("rawBody")) {
        if (!object["rawBody"].isString())
            Fail(where + ".rawBody", "expected a string");
        answer.rawBody = object["rawBody"].asString();
    }
    if (object.isMember("faults"))
        answer.faults = ReadFaults(object["faults"], where + ".faults");
    if (object.isMember("repeat"))
        answer.repeat = Boolean(object["repeat"], where + ".repeat");
    if (object.isMember("resets")) {
        const Json::Value& list = object["resets"];
        if (!list.isArray())
            Fail(where + ".resets", "expected a list of event names");
        for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
            if (!list[i].isString())
                Fail(where + ".resets[" + std::to_string(i) + "]", "expected an event name");
            answer.resets.push_back(list[i].asString());
        }
    }
    return answer;
}

} // namespace

Scenario Scenario::Parse(const std::string& jsonText) {
    Json::Value root;
    std::string error;
    if (!JsonText::Parse(jsonText, root, error, true))
        throw ScenarioError("not valid JSON: " + error);
    if (!root.isObject())
        throw ScenarioError("expected an object {\"events\": {...}}");
    CheckKeys(root, "scenario", {"events", "description"});
    if (root.isMember("description") && !root["description"].isString())
        Fail("description", "expected a string");
    Scenario scenario;
    if (!root.isMember("events"))
        return scenario;
    const Json::Value& events = root["events"];
    if (!events.isObject())
        Fail("events", "expected an object with one list of answers per event name");
    for (const std::string& name : events.getMemberNames()) {
        const std::string where = "events." + name;
        if (name.empty() || name.find('/') != std::string::npos)
            Fail(where, "an event name is one path segment, like \"startSession\"");
        if (name == "error")
            Fail(where, "error reports are always answered 200 {}; they take no answers");
        const Json::Value& list = events[name];
        if (!list.isArray())
            Fail(where, "expected a list of answers");
        std::vector<ScriptedAnswer> answers;
        for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
            const std::string at = where + "[" + std::to_string(i) + "]";
            if (!answers.empty() && answers.back().repeat)
                Fail(at, "comes after an answer with \"repeat\": true and would never be given");
            answers.push_back(ReadAnswer(list[i], at));
        }
        scenario.events_[name] = std::move(answers);
    }
    return scenario;
}

Answer Scenario::NextAnswer(const std::string& eventName, const Json::Value& request) {
    Answer answer;
    const auto found = events_.find(eventName);
    if (found == events_.end())
        return answer;
    std::size_t& position = positions_[eventName];
    if (position >= found->second.size())
        return answer;
    const ScriptedAnswer& scripted = found->second[position];
    if (!scripted.repeat)
        ++position;
    for (const std::string& other : scripted.resets)
        positions_[other] = 0;

    answer.status = scripted.status;
    answer.faults = scripted.faults;
    if (scripted.rawBody)
        answer.body = *scripted.rawBody;
    else if (scripted.body)
        answer.body = JsonText::Write(FillPlaceholders(*scripted.body, request));
    if (answer.faults.bodyBytes)
        answer.body.resize(*answer.faults.bodyBytes, ' ');
    return answer;
}

Json::Value Scenario::FillPlaceholders(const Json::Value& tmpl, const Json::Value& request) {
    if (tmpl.isString()) {
        const std::optional<std::string> path = PlaceholderPath(tmpl.asString());
        return path ? ValueAt(request, *path) : tmpl;
    }
    if (tmpl.isArray()) {
        Json::Value filled(Json::arrayValue);
        for (const Json::Value& item : tmpl)
            filled.append(FillPlaceholders(item, request));
        return filled;
    }
    if (tmpl.isObject()) {
        Json::Value filled(Json::objectValue);
        for (const std::string& key : tmpl.getMemberNames())
            filled[key] = FillPlaceholders(tmpl[key], request);
        return filled;
    }
    return tmpl;
}

Json::Value Scenario::ValueAt(const Json::Value& root, const std::string& path) {
    std::vector<Step> steps;
    if (!SplitPath(path, steps))
        return Json::Value();
    const Json::Value* at = &root;
    for (const Step& step : steps) {
        if (step.isIndex) {
            if (!at->isArray() || step.index >= at->size())
                return Json::Value();
            at = &(*at)[step.index];
        } else {
            if (!at->isObject() || !at->isMember(step.key))
                return Json::Value();
            at = &(*at)[step.key];
        }
    }
    return *at;
}

bool Scenario::IsValidPath(const std::string& path) {
    std::vector<Step> steps;
    return SplitPath(path, steps);
}

} // namespace orvelconsumer
