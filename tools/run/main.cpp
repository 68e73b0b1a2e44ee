// orvel-webhook-tester-run: runs a scenario against a consumer without a window, for CI. One
// line per step, a summary, exit status 0 only when every step passed (1 when one failed, 2 when
// the scenario or the command line cannot be used).

#include "Scenario.h"
#include "ScenarioReport.h"
#include "ScenarioRunner.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: orvel-webhook-tester-run SCENARIO.json [--base-url URL] [--subscription-id ID]\n"
    "                                (--secret-file FILE | --secret-env NAME)\n"
    "                                [--junit FILE] [--json FILE] [--timeout-ms N]\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct CommandLine {
    std::string scenario;
    std::string secretFile, secretEnv, junit, json;
    RunOptions run;
};

CommandLine Parse(const std::vector<std::string>& args) {
    CommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw UsageError(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--base-url")
            line.run.baseUrl = value();
        else if (arg == "--subscription-id")
            line.run.subscriptionId = value();
        else if (arg == "--secret-file")
            line.secretFile = value();
        else if (arg == "--secret-env")
            line.secretEnv = value();
        else if (arg == "--junit")
            line.junit = value();
        else if (arg == "--json")
            line.json = value();
        else if (arg == "--timeout-ms") {
            const std::string text = value();
            char* end = nullptr;
            const long ms = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end || ms < 1 || ms > 3600000)
                throw UsageError("--timeout-ms: expected milliseconds from 1 to 3600000");
            line.run.timeoutMs = static_cast<int>(ms);
        } else if (arg.compare(0, 2, "--") == 0 || !line.scenario.empty())
            throw UsageError("unknown argument " + arg);
        else
            line.scenario = arg;
    }
    if (line.scenario.empty())
        throw UsageError("no scenario given");
    if (line.secretFile.empty() == line.secretEnv.empty())
        throw UsageError("give the secret with exactly one of --secret-file and --secret-env");
    return line;
}

// The secret as entered in the tester: the file's or variable's text without its line break.
std::string ReadSecret(const CommandLine& line) {
    std::string secret;
    if (!line.secretFile.empty()) {
        std::ifstream in(line.secretFile, std::ios::binary);
        if (!in)
            throw UsageError("--secret-file: " + line.secretFile + " cannot be read");
        std::ostringstream text;
        text << in.rdbuf();
        secret = text.str();
    } else {
        const char* value = std::getenv(line.secretEnv.c_str());
        if (!value)
            throw UsageError("--secret-env: " + line.secretEnv + " is not set");
        secret = value;
    }
    while (!secret.empty() && (secret.back() == '\n' || secret.back() == '\r' || secret.back() == ' '))
        secret.pop_back();
    if (secret.empty())
        throw UsageError("the secret is empty");
    return secret;
}

// The run's own data folder: the user's config.ini is never read or written.
class DataFolder {
public:
    DataFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvel-run-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary data folder");
        path_ = pattern;
        setenv("XDG_DATA_HOME", path_.c_str(), 1);
    }
    ~DataFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    DataFolder(const DataFolder&) = delete;
    DataFolder& operator=(const DataFolder&) = delete;

private:
    std::string path_;
};

void Write(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw std::runtime_error(path + " cannot be written");
}

} // namespace

int main(int argc, char** argv) {
    CommandLine line;
    try {
        line = Parse(std::vector<std::string>(argv + 1, argv + argc));
        line.run.secret = ReadSecret(line);
    } catch (const UsageError& error) {
        std::cerr << "orvel-webhook-tester-run: " << error.what() << "\n" << kUsage;
        return 2;
    }
    try {
        Scenario scenario = ReadScenarioFile(line.scenario);
        const DataFolder data;
        ScenarioRunner runner(std::move(scenario), line.run);
        const std::string name = runner.Redacted(runner.GetScenario().name);
        const std::vector<StepOutcome> outcomes =
            runner.Run([](const StepOutcome& outcome) { std::cout << StepLine(outcome) << std::endl; });
        std::cout << RunSummary(outcomes) << std::endl;
        if (!line.junit.empty())
            Write(line.junit, JUnitReport(name, outcomes));
        if (!line.json.empty())
            Write(line.json, JsonReport(name, outcomes));
        for (const StepOutcome& outcome : outcomes)
            if (!outcome.Passed())
                return 1;
        return 0;
    } catch (const ScenarioError& error) {
        std::cerr << "orvel-webhook-tester-run: " << error.what() << "\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "orvel-webhook-tester-run: " << error.what() << "\n";
        return 2;
    }
}
