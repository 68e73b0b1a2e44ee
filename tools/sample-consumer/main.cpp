// orvel-sample-consumer: a webhook consumer to run beside OrvelWebhookTester. It checks the
// signature of every event, answers from a scenario (or the built-in demo), signs its answers
// and logs every request as one JSON line on stdout.

#include "ConsumerServer.h"
#include "DemoScenario.h"
#include "Scenario.h"
#include "Signer.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <sstream>
#include <string>
#include <thread>

using orvelconsumer::ConsumerServer;

#if defined(__SANITIZE_THREAD__)
#define ORVEL_CONSUMER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORVEL_CONSUMER_TSAN 1
#endif
#endif

#ifdef ORVEL_CONSUMER_TSAN
// The HTTP library comes as a shared library built without ThreadSanitizer: the sanitizer sees
// its memory accesses through memcpy/memcmp but not its synchronisation (inlined guards of its
// static data), and reports races between its own workers. Races in this program's code are
// still reported. Ignoring the library also hides its close() of a connection, so a socket
// number that the raw answer wrote to and that the kernel hands out again later looks like a
// race on that number.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n"
           "race:orvelconsumer::RawResponse::Send\n";
}
#endif

namespace {

const char kProgram[] = "orvel-sample-consumer";

const char kUsage[] = R"(Usage: orvel-sample-consumer --secret BASE64 [options]

A webhook consumer for OrvelWebhookTester. It checks the X-Orvel-Signature of every event,
answers from a scenario, signs every answer and logs every request as one JSON line on stdout.

Options:
  --secret BASE64         the shared secret, as entered in the tester (required)
  --port N                port to listen on; 0 picks a free port (default 0)
  --host ADDRESS          address to listen on (default 127.0.0.1)
  --scenario FILE         answers to give, per event (see docs/sample-consumer.md)
  --demo                  use the built-in demo scenario
  --print-demo-scenario   print the demo scenario and exit
  --tls-cert FILE         serve HTTPS with this PEM certificate (needs --tls-key)
  --tls-key FILE          the PEM private key of the certificate
  --help                  show this text and exit

Without --scenario or --demo every event is answered 200 {}.
The first line on stdout is "orvel-sample-consumer listening on URL".
Exit status: 0 after SIGINT or SIGTERM, 1 when the address cannot be used, 2 for wrong options,
an unusable secret, scenario or certificate.
)";

struct Options {
    std::optional<std::string> secret;
    int port = 0;
    std::string host = "127.0.0.1";
    std::string scenarioFile;
    bool demo = false;
    bool printDemo = false;
    bool help = false;
    std::string tlsCert;
    std::string tlsKey;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

int ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(text) > 65535)
        throw UsageError("--port: expected a number from 0 to 65535, got \"" + text + "\"");
    return std::stoi(text);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::optional<std::string> inlineValue;
        const std::size_t equals = name.find('=');
        if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        const auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= argc)
                throw UsageError(name + " needs a value");
            return argv[++i];
        };
        const auto flag = [&]() {
            if (inlineValue)
                throw UsageError(name + " takes no value");
            return true;
        };
        if (name == "--secret")
            options.secret = value();
        else if (name == "--port")
            options.port = ParsePort(value());
        else if (name == "--host")
            options.host = value();
        else if (name == "--scenario")
            options.scenarioFile = value();
        else if (name == "--demo")
            options.demo = flag();
        else if (name == "--print-demo-scenario")
            options.printDemo = flag();
        else if (name == "--tls-cert")
            options.tlsCert = value();
        else if (name == "--tls-key")
            options.tlsKey = value();
        else if (name == "--help" || name == "-h")
            options.help = flag();
        else
            throw UsageError("unknown option \"" + name + "\"");
    }
    if (options.help || options.printDemo)
        return options;
    if (!options.secret)
        throw UsageError("--secret is required (the shared secret as entered in the tester)");
    if (options.demo && !options.scenarioFile.empty())
        throw UsageError("give either --scenario or --demo, not both");
    if (options.tlsCert.empty() != options.tlsKey.empty())
        throw UsageError("--tls-cert and --tls-key go together");
    if (options.host.empty())
        throw UsageError("--host: expected an address");
    return options;
}

orvelconsumer::Scenario LoadScenario(const Options& options) {
    if (options.demo)
        return orvelconsumer::Scenario::Parse(orvelconsumer::DemoScenario::Text());
    if (options.scenarioFile.empty())
        return orvelconsumer::Scenario();
    std::ifstream in(options.scenarioFile, std::ios::binary);
    if (!in)
        throw orvelconsumer::ScenarioError("cannot read the file");
    std::ostringstream text;
    text << in.rdbuf();
    return orvelconsumer::Scenario::Parse(text.str());
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = ParseOptions(argc, argv);
    } catch (const UsageError& error) {
        std::cerr << kProgram << ": " << error.what() << "\nTry '" << kProgram << " --help'.\n";
        return 2;
    }
    if (options.help) {
        std::cout << kUsage;
        return 0;
    }
    if (options.printDemo) {
        std::cout << orvelconsumer::DemoScenario::Text();
        return 0;
    }

    std::optional<orvelconsumer::Signer> signer = orvelconsumer::Signer::FromSecret(*options.secret);
    if (!signer) {
        std::cerr << kProgram << ": --secret: not a Base64 text\n";
        return 2;
    }
    if (orvelconsumer::Signer::Base64Decode(*options.secret)->empty())
        std::cerr << kProgram << ": warning: the secret is empty\n";

    orvelconsumer::Scenario scenario;
    try {
        scenario = LoadScenario(options);
    } catch (const orvelconsumer::ScenarioError& error) {
        std::cerr << kProgram << ": scenario " << (options.demo ? "(demo)" : options.scenarioFile) << ": "
                  << error.what() << "\n";
        return 2;
    }

    // Signals are taken by one thread with sigwait(); every other thread, the server's
    // workers included, inherits the blocked mask. A client that hangs up must not kill the
    // process with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ConsumerServer server(std::move(*signer), std::move(scenario), std::cout);
    ConsumerServer::Settings settings;
    settings.host = options.host;
    settings.port = options.port;
    settings.tlsCertFile = options.tlsCert;
    settings.tlsKeyFile = options.tlsKey;
    std::string error;
    const ConsumerServer::ListenResult listening = server.Listen(settings, error);
    if (listening != ConsumerServer::ListenResult::Listening) {
        std::cerr << kProgram << ": " << error << "\n";
        return listening == ConsumerServer::ListenResult::CannotBind ? 1 : 2;
    }
    std::cout << kProgram << " listening on " << server.BaseUrl() << std::endl;

    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.Stop();
    });
    server.Run();
    // Run() also returns when serving failed; wake the waiter so it can be joined.
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    return 0;
}
