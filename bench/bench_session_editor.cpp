// How the session editor and the configuration file scale with the number of lines: a session
// of 1,000 and of 10,000 lines through ShowSession, ReadSessionFromGrid, CurrentSession, "Save"
// and "Restore" on the headless window. Goals: each operation under 50 ms at 10,000 lines, and
// ten times the lines in at most eleven times the time.
//
// The machine is shared, and a burst of other work must not land on one size only: the two
// windows take turns, a few runs each, several rounds per operation. Each turn starts with one
// run that is not counted, so that no counted run pays for the other window having run just
// before it.

#include "BenchSupport.h"
#include "HeadlessToolkit.h"
#include "MainFormUnit.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using benchsupport::Clock;
using benchsupport::Figure;
using benchsupport::Median;
using benchsupport::Milliseconds;
using benchsupport::ReportGoal;
using benchsupport::ScratchFolder;
using OrvelUtility::Uuid;
using Tarn::Webhooks::ExternalDiscount;
using Tarn::Webhooks::SessionLine;

namespace {

constexpr int kRounds = 5;
constexpr int kRunsPerTurn = 3;
constexpr int kRuns = kRounds * kRunsPerTurn;
constexpr double kGoalMs = 50.0;
constexpr double kGoalRatio = 11.0;

// A line with every field the editor shows and the configuration stores.
SessionLine MakeLine(int i) {
    SessionLine line;
    line.lineId = Uuid::Create();
    if (i % 3 == 0)
        line.lineSetId = Uuid::Create();
    line.articleNumber = 8710000000000 + i;
    line.text = "Article number " + std::to_string(i);
    line.quantity = 1 + (i % 7) * 0.5;
    line.priceIncl = 0.99 + (i % 100);
    line.vatCode = i % 3;
    line.vatPercentage = i % 2 ? 21.0 : 9.0;
    if (i % 4 == 0)
        line.discountPercentage = 10;
    if (i % 5 == 0)
        line.discountAmount = 0.25;
    line.supplierArticleNumber = "SUP-" + std::to_string(i);
    line.pluNumber = std::to_string(100 + i);
    line.extArticleId = "ext-" + std::to_string(i);
    if (i % 2 == 0) {
        ExternalDiscount discount;
        discount.discountId = Uuid::Create();
        discount.discountPercentage = 15;
        discount.discountAmount = 0.5;
        discount.discountDescription = "Consumer discount " + std::to_string(i);
        line.externalDiscount = discount;
    }
    return line;
}

// Wall-clock time and the process's processor time: on a machine shared with other work the
// two differ, and the processor time shows what the code itself costs.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

struct Samples {
    std::vector<double> wall, cpu;
    void Add(const std::function<void()>& operation) {
        const std::clock_t cpuStart = std::clock();
        const auto start = Clock::now();
        operation();
        const auto end = Clock::now();
        const std::clock_t cpuEnd = std::clock();
        wall.push_back(Milliseconds(end - start));
        cpu.push_back(1000.0 * static_cast<double>(cpuEnd - cpuStart) / CLOCKS_PER_SEC);
    }
    Timing Medians() const { return {Median(wall), Median(cpu)}; }
};

// A window with a session of the given number of lines and its own data folder.
class Subject {
public:
    explicit Subject(int lineCount) : lineCount_(lineCount) {
        Enter();
        form_ = std::make_unique<TForm1>(toolkit_);
        form_->FormShow();
        std::vector<SessionLine> lines;
        lines.reserve(static_cast<std::size_t>(lineCount));
        for (int i = 0; i < lineCount; ++i)
            lines.push_back(MakeLine(i));
        form_->btnStartSessionClick();
        form_->session.lines = lines;
        form_->edtSubscriptionId.SetText("bench");
    }
    ~Subject() { unsetenv("XDG_DATA_HOME"); }

    // Save and Restore use the data folder of the environment: this window's.
    void Enter() { setenv("XDG_DATA_HOME", folder_.Path().c_str(), 1); }
    TForm1& Form() { return *form_; }

    void CheckRestored() const {
        if (form_->session.lines.size() != static_cast<std::size_t>(lineCount_))
            throw std::runtime_error("restore gave " + std::to_string(form_->session.lines.size()) +
                                     " lines, not " + std::to_string(lineCount_));
    }

private:
    int lineCount_;
    ScratchFolder folder_;
    HeadlessToolkit toolkit_;
    std::unique_ptr<TForm1> form_;
};

struct Figures {
    Timing show, read, current, save, restore;
};

void Measure(Subject& small, Subject& large, Figures& smallFigures, Figures& largeFigures) {
    const struct {
        Timing Figures::*field;
        std::function<void(TForm1&)> operation;
    } operations[] = {
        {&Figures::show, [](TForm1& form) { form.ShowSession(); }},
        {&Figures::read, [](TForm1& form) { form.ReadSessionFromGrid(); }},
        {&Figures::current, [](TForm1& form) { form.CurrentSession(); }},
        {&Figures::save, [](TForm1& form) { form.btnConfigOpslaanClick(); }},
        {&Figures::restore, [](TForm1& form) { form.btnConfigInlezenClick(); }},
    };
    for (const auto& op : operations) {
        Samples smallSamples, largeSamples;
        for (int round = 0; round < kRounds; ++round) {
            for (auto turn : {std::make_pair(&small, &smallSamples), std::make_pair(&large, &largeSamples)}) {
                Subject& subject = *turn.first;
                subject.Enter();
                TForm1& form = subject.Form();
                op.operation(form); // not counted
                for (int run = 0; run < kRunsPerTurn; ++run)
                    turn.second->Add([&] { op.operation(form); });
            }
        }
        smallFigures.*op.field = smallSamples.Medians();
        largeFigures.*op.field = largeSamples.Medians();
    }
    small.CheckRestored();
    large.CheckRestored();
}

} // namespace

int main() {
    try {
        Figures small{}, large{};
        {
            // Allocator, page cache, first-use costs.
            Subject warmUpSmall(200), warmUpLarge(200);
            Figures ignored{};
            Measure(warmUpSmall, warmUpLarge, ignored, ignored);
        }
        {
            Subject smallSubject(1000);
            Subject largeSubject(10000);
            Measure(smallSubject, largeSubject, small, large);
        }

        const struct {
            const char* name;
            Timing Figures::*field;
        } rows[] = {{"ShowSession", &Figures::show},
                    {"ReadSessionFromGrid", &Figures::read},
                    {"CurrentSession", &Figures::current},
                    {"Save", &Figures::save},
                    {"Restore", &Figures::restore}};
        int missed = 0;
        for (const auto& clock :
             {std::make_pair("wall-clock", &Timing::wall), std::make_pair("processor", &Timing::cpu)}) {
            std::printf("\nsession editor and configuration, %s time, median of %d runs\n", clock.first,
                        kRuns);
            std::printf("%-22s %12s %12s %8s   %-18s %-16s\n", "operation", "1,000 (ms)", "10,000 (ms)",
                        "ratio", "goal <50 ms @10k", "goal ratio <=11");
            for (const auto& row : rows) {
                const double a = (small.*row.field).*clock.second;
                const double b = (large.*row.field).*clock.second;
                const double ratio = a > 0 ? b / a : 0;
                const bool timeOk = b < kGoalMs;
                const bool ratioOk = a > 0 && ratio <= kGoalRatio;
                if (clock.second == &Timing::wall)
                    missed += (timeOk ? 0 : 1) + (ratioOk ? 0 : 1);
                std::printf("%-22s %12.3f %12.3f %8.2f   %-18s %-16s\n", row.name, a, b, ratio,
                            timeOk ? "met" : "MISSED", ratioOk ? "met" : "MISSED");
            }
        }
        std::printf("\n%s (goals judged on wall-clock time)\n",
                    missed == 0 ? "all goals met" : "some goals missed");
        for (const auto& row : rows) {
            const double a = (small.*row.field).wall;
            const double b = (large.*row.field).wall;
            ReportGoal(std::string(row.name) + " at 10,000 lines (median)", Figure(b, 3, "ms"), "-",
                       std::nullopt, "< 50 ms", b < kGoalMs);
            const double ratio = a > 0 ? b / a : 0;
            ReportGoal(std::string(row.name) + ", 10,000 vs 1,000 lines (median)", Figure(b, 3, "ms"),
                       Figure(a, 3, "ms"), ratio, "<= 11x", a > 0 && ratio <= kGoalRatio);
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_session_editor: %s\n", e.what());
        return 1;
    }
}
