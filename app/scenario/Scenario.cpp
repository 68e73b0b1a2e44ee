#include "Scenario.h"

#include <json/reader.h>
#include <json/writer.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

const std::vector<std::string> kScenarioEvents = {
    "startSession",          "scanCode",
    "addSessionLine",        "updateSessionLine",
    "removeSessionLine",     "pauseSession",
    "resumeSession",         "startPayment",
    "cancelPayment",         "mergeSession",
    "cancelSession",         "completeSession",
    "creditSession",         "startExternalPayment",
    "pollExternalPayment",   "requestCancelExternalPayment",
    "cancelExternalPayment",
};

namespace {

// The kinds of value a key may hold.
enum class Kind {
    Any, // read by the caller
    Text,
    Count, // a whole number from 0
    Bool,
    Texts,
    EditableFields, // a line's cells the user may type into
    ShownFields,    // a line's cells as the grid shows them
    FieldsList,     // ShownFields, one per line
    Option,         // a dialog option button, 1 to 5
    CodeType,
    Checks,
    Dialog,
    ScanResult,
    Payment,
};

struct Key {
    const char* name;
    Kind kind;
    bool required = false;
};

// The grid's column captions: those the user types into, and those it only shows.
const std::vector<std::string> kEditableColumns = {
    "articleNumber",      "text",           "quantity",
    "priceIncl",          "vatCode",        "vatPercentage",
    "discountPercentage", "discountAmount", "supplierArticleNumber",
    "pluNumber",          "extArticleId",
};
const std::vector<std::string> kShownOnlyColumns = {
    "lineId",
    "lineSetId",
    "externalDiscount.discountId",
    "externalDiscount.discountPercentage",
    "externalDiscount.discountAmount",
    "externalDiscount.discountDescription",
    "Total",
};

const std::vector<Key> kSettingsKeys = {{"baseUrl", Kind::Text},         {"subscriptionId", Kind::Text},
                                        {"blockingCall", Kind::Bool},    {"selfSigned", Kind::Bool},
                                        {"branch", Kind::Text},          {"workplace", Kind::Text},
                                        {"decimalSeparator", Kind::Text}};

const std::vector<Key> kExpectKeys = {
    {"checks", Kind::Checks},
    {"httpStatus", Kind::Count},
    {"messages", Kind::Texts},
    {"messagesContain", Kind::Texts},
    {"lineCount", Kind::Count},
    {"lines", Kind::FieldsList},
    {"total", Kind::Text},
    {"dialog", Kind::Dialog},
    {"messageBoxes", Kind::Texts},
    {"receiptContains", Kind::Text},
    {"scanResult", Kind::ScanResult},
    {"payment", Kind::Payment},
    {"errorReport", Kind::Bool},
};

// The keys of each action besides "do" and "expect"; an event takes none.
const std::vector<Key>* ActionKeys(const std::string& action) {
    static const std::map<std::string, std::vector<Key>> actions = {
        {"generateSessionId", {}},
        {"addLine", {{"fields", Kind::EditableFields}}},
        {"editLine", {{"line", Kind::Count, true}, {"fields", Kind::EditableFields, true}}},
        {"selectLine", {{"line", Kind::Count, true}}},
        {"removeLine", {}},
        {"chooseOption", {{"option", Kind::Option, true}}},
        {"confirmDialog", {}},
        {"skipDialog", {}},
        {"setScanCode", {{"code", Kind::Text, true}, {"type", Kind::CodeType}}},
        {"setPaymentMethod", {{"method", Kind::Text, true}}},
        {"awaitExternalPayment", {{"timeoutMs", Kind::Count}}},
    };
    static const std::vector<Key> none;
    const auto found = actions.find(action);
    if (found != actions.end())
        return &found->second;
    if (std::find(kScenarioEvents.begin(), kScenarioEvents.end(), action) != kScenarioEvents.end())
        return &none;
    return nullptr;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

class Reader {
public:
    explicit Reader(std::string fileName) : fileName_(std::move(fileName)) {}

    [[noreturn]] void Fail(const std::string& place, const std::string& why) const {
        throw ScenarioError(fileName_ + ": " + (place.empty() ? "" : place + ": ") + why);
    }

    void Object(const Json::Value& object, const std::vector<Key>& keys, const std::string& place) const {
        if (!object.isObject())
            Fail(place, "expected an object");
        for (const std::string& name : object.getMemberNames()) {
            const auto key =
                std::find_if(keys.begin(), keys.end(), [&](const Key& k) { return name == k.name; });
            if (key == keys.end())
                Fail(Join(place, name), "unknown key");
            Value(object[name], key->kind, Join(place, name));
        }
        for (const Key& key : keys)
            if (key.required && !object.isMember(key.name))
                Fail(place, std::string("missing key \"") + key.name + "\"");
    }

    void Value(const Json::Value& value, Kind kind, const std::string& place) const {
        switch (kind) {
        case Kind::Any:
            break;
        case Kind::Text:
            if (!value.isString())
                Fail(place, "expected a text");
            break;
        case Kind::Count:
            if (!value.isIntegral() || value.asLargestInt() < 0 || value.asLargestInt() > 1000000000)
                Fail(place, "expected a whole number from 0");
            break;
        case Kind::Bool:
            if (!value.isBool())
                Fail(place, "expected true or false");
            break;
        case Kind::Texts:
            if (!value.isArray())
                Fail(place, "expected a list of texts");
            for (Json::ArrayIndex i = 0; i < value.size(); ++i)
                Value(value[i], Kind::Text, place + "[" + std::to_string(i) + "]");
            break;
        case Kind::EditableFields:
        case Kind::ShownFields:
            if (!value.isObject())
                Fail(place, "expected an object of grid cells");
            for (const std::string& name : value.getMemberNames()) {
                const bool shown = kind == Kind::ShownFields && Contains(kShownOnlyColumns, name);
                if (!Contains(kEditableColumns, name) && !shown)
                    Fail(Join(place, name), kind == Kind::EditableFields && Contains(kShownOnlyColumns, name)
                                                ? "not a column the user may type into"
                                                : "unknown grid column");
                Value(value[name], Kind::Text, Join(place, name));
            }
            break;
        case Kind::FieldsList:
            if (!value.isArray())
                Fail(place, "expected a list of lines");
            for (Json::ArrayIndex i = 0; i < value.size(); ++i)
                Value(value[i], Kind::ShownFields, place + "[" + std::to_string(i) + "]");
            break;
        case Kind::Option:
            if (!value.isIntegral() || value.asLargestInt() < 1 || value.asLargestInt() > 5)
                Fail(place, "expected an option button from 1 to 5");
            break;
        case Kind::CodeType:
            if (!value.isString() || !Contains({"barcode", "rfid", "qrcode"}, value.asString()))
                Fail(place, "expected \"barcode\", \"rfid\" or \"qrcode\"");
            break;
        case Kind::Checks:
            if (value.isString() && value.asString() == "pass")
                break;
            if (!value.isObject())
                Fail(place, "expected \"pass\" or {\"fails\": \"check\"}");
            Object(value, {{"fails", Kind::Text, true}}, place);
            break;
        case Kind::Dialog:
            Object(value, {{"title", Kind::Text}, {"options", Kind::Texts}}, place);
            break;
        case Kind::ScanResult:
            Object(value,
                   {{"recognized", Kind::Text},
                    {"message", Kind::Text},
                    {"customerMessage", Kind::Text},
                    {"relationNumber", Kind::Text}},
                   place);
            break;
        case Kind::Payment:
            Object(value,
                   {{"started", Kind::Text},
                    {"confirmed", Kind::Text},
                    {"cancelled", Kind::Text},
                    {"message", Kind::Text},
                    {"customerMessage", Kind::Text}},
                   place);
            break;
        }
    }

    ScenarioStep Step(const Json::Value& value, Json::ArrayIndex index) const {
        const std::string place =
            "steps[" + std::to_string(index) + "] (step " + std::to_string(index + 1) + ")";
        if (!value.isObject())
            Fail(place, "expected an object");
        if (!value.isMember("do") || !value["do"].isString())
            Fail(place, "missing key \"do\" (what the step does)");
        ScenarioStep step;
        step.action = value["do"].asString();
        const std::vector<Key>* keys = ActionKeys(step.action);
        if (!keys)
            Fail(place + ".do", "unknown step \"" + step.action + "\"");
        for (const std::string& name : value.getMemberNames()) {
            if (name == "expect")
                Object(value[name], kExpectKeys, Join(place, name));
            else if (name != "do")
                step.args[name] = value[name];
        }
        Object(step.args, *keys, place);
        if (value.isMember("expect"))
            step.expect = value["expect"];
        return step;
    }

    static std::string Join(const std::string& place, const std::string& key) {
        return place.empty() ? key : place + "." + key;
    }

private:
    std::string fileName_;
};

LineFields ToFields(const Json::Value& object) {
    LineFields fields;
    for (const std::string& name : object.getMemberNames())
        fields[name] = object[name].asString();
    return fields;
}

Json::Value FromFields(const LineFields& fields) {
    Json::Value object(Json::objectValue);
    for (const auto& [name, text] : fields)
        object[name] = text;
    return object;
}

} // namespace

Scenario ReadScenario(const std::string& text, const std::string& fileName) {
    const Reader reader(fileName);
    Json::Value parsed;
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    builder["rejectDupKeys"] = true;
    std::string errors;
    const std::unique_ptr<Json::CharReader> json(builder.newCharReader());
    if (!json->parse(text.data(), text.data() + text.size(), &parsed, &errors))
        reader.Fail("", "not JSON: " + errors.substr(0, errors.find('\n')));
    const Json::Value& root = parsed; // looked into, never changed
    reader.Object(
        root,
        {{"name", Kind::Text}, {"settings", Kind::Any}, {"session", Kind::Any}, {"steps", Kind::Any, true}},
        "");
    Scenario scenario;
    scenario.name = root.get("name", fileName).asString();
    if (root.isMember("settings")) {
        const Json::Value& settings = root["settings"];
        reader.Object(settings, kSettingsKeys, "settings");
        ScenarioSettings& s = scenario.settings;
        s.baseUrl = settings.get("baseUrl", s.baseUrl).asString();
        s.subscriptionId = settings.get("subscriptionId", s.subscriptionId).asString();
        s.blockingCall = settings.get("blockingCall", s.blockingCall).asBool();
        s.selfSigned = settings.get("selfSigned", s.selfSigned).asBool();
        s.branch = settings.get("branch", s.branch).asString();
        s.workplace = settings.get("workplace", s.workplace).asString();
        s.decimalSeparator = settings.get("decimalSeparator", s.decimalSeparator).asString();
        if (s.decimalSeparator != "." && s.decimalSeparator != ",")
            reader.Fail("settings.decimalSeparator", "expected \".\" or \",\"");
    }
    if (root.isMember("session")) {
        const Json::Value& lines = root["session"]["lines"];
        reader.Object(root["session"], {{"lines", Kind::Any}}, "session");
        if (!lines.isNull() && !lines.isArray())
            reader.Fail("session.lines", "expected a list of lines");
        for (Json::ArrayIndex i = 0; i < lines.size(); ++i) {
            reader.Value(lines[i], Kind::EditableFields, "session.lines[" + std::to_string(i) + "]");
            scenario.startingLines.push_back(ToFields(lines[i]));
        }
    }
    const Json::Value& steps = root["steps"];
    if (!steps.isArray())
        reader.Fail("steps", "expected a list of steps");
    for (Json::ArrayIndex i = 0; i < steps.size(); ++i)
        scenario.steps.push_back(reader.Step(steps[i], i));
    return scenario;
}

Scenario ReadScenarioFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ScenarioError(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return ReadScenario(text.str(), path);
}

Json::Value ScenarioToJson(const Scenario& scenario) {
    Json::Value root(Json::objectValue);
    root["name"] = scenario.name;
    const ScenarioSettings& s = scenario.settings;
    Json::Value& settings = root["settings"];
    settings["baseUrl"] = s.baseUrl;
    settings["subscriptionId"] = s.subscriptionId;
    settings["blockingCall"] = s.blockingCall;
    settings["selfSigned"] = s.selfSigned;
    settings["branch"] = s.branch;
    settings["workplace"] = s.workplace;
    settings["decimalSeparator"] = s.decimalSeparator;
    Json::Value& lines = root["session"]["lines"];
    lines = Json::Value(Json::arrayValue);
    for (const LineFields& line : scenario.startingLines)
        lines.append(FromFields(line));
    Json::Value& steps = root["steps"];
    steps = Json::Value(Json::arrayValue);
    for (const ScenarioStep& step : scenario.steps) {
        Json::Value value = step.args;
        value["do"] = step.action;
        if (!step.expect.empty())
            value["expect"] = step.expect;
        steps.append(value);
    }
    return root;
}

std::string ScenarioText(const Scenario& scenario) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, ScenarioToJson(scenario)) + "\n";
}

void WriteScenarioFile(const Scenario& scenario, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << ScenarioText(scenario);
    out.close();
    if (!out)
        throw ScenarioError(path + ": cannot be written");
}
