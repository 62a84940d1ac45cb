// The update run's walk over rows that need no file work, at 10,000 and
// 100,000 rows: every downloaded row already logged, or not for this client
// (then as many other rows are logged). The reference in the same run is a
// plain pass over the same cursor reading the same two fields. The time of a
// run with no rows (the version bookkeeping's writes) is measured too, and
// the ratios are printed at the end: a linear walk grows ~10x.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "run/DMUpdateEx.h"
#include "tests/support/Installation.h"

namespace {

namespace fs = std::filesystem;

class QuietSystem : public ue::System {
public:
    void KillProcessByName(const std::string&) override {}
    std::uint32_t RunProgram(const std::string&, bool, const std::string&, int) override { return 0; }
    void ReplaceFileAtRestart(const std::string&, const std::string&) override {}
    void RegisterServerLibrary(const std::string&) override {}
    void ShutdownWindows(int) override {}
    void Sleep(unsigned) override {}
    std::string TodayText() override { return "2008-05-09"; }
};

enum class Kind { Logged, NotClient };

// One installation per kind and size, made on first use, removed at exit.
class Installations {
public:
    ~Installations() {
        std::error_code ec;
        for (const auto& dir : dirs_) fs::remove_all(dir, ec);
    }

    ue::test::Installation& Get(Kind kind, int rows) {
        auto key = std::make_pair(kind, rows);
        auto it = made_.find(key);
        if (it != made_.end()) return *it->second;
        std::random_device rd;
        fs::path dir = fs::temp_directory_path() / ("ue-bench-walk-" + std::to_string(rd()));
        fs::create_directories(dir);
        dirs_.push_back(dir);
        auto inst = std::make_unique<ue::test::Installation>(dir.string());
        inst->WriteIni("[Update]\n");  // no main program to refresh or start
        std::vector<ue::test::Download> downloads(static_cast<std::size_t>(rows));
        std::vector<ue::test::Download> applied(static_cast<std::size_t>(rows));
        for (int i = 0; i < rows; ++i) {
            auto& d = downloads[static_cast<std::size_t>(i)];
            d.aid = i;
            d.fileName = "file" + std::to_string(i) + ".dll";
            d.fileVer = i % 13;
            d.updatePath = "lib\\";
            auto& a = applied[static_cast<std::size_t>(i)];
            a = d;
            if (kind == Kind::NotClient) {
                d.isClient = false;
                a.fileVer = *d.fileVer + 1;  // logged, but another version
            }
        }
        inst->AddDownloads(downloads);
        inst->AddApplied(applied);
        return *made_.emplace(key, std::move(inst)).first->second;
    }

private:
    std::map<std::pair<Kind, int>, std::unique_ptr<ue::test::Installation>> made_;
    std::vector<fs::path> dirs_;
};

Installations& Made() {
    static Installations installations;
    return installations;
}

// A run context over the installation, opened and with the version pending.
std::unique_ptr<ue::TDM_Update> Ready(ue::System& system, ue::test::Installation& inst) {
    inst.SetSoftInfo(false, 1, 2);
    auto dm = std::make_unique<ue::TDM_Update>(system, inst.Base());
    dm->DataModuleCreate();
    return dm;
}

void BM_Walk(benchmark::State& state, Kind kind) {
    const int rows = static_cast<int>(state.range(0));
    ue::test::Installation& inst = Made().Get(kind, rows);
    QuietSystem system;
    for (auto _ : state) {
        state.PauseTiming();
        auto dm = Ready(system, inst);
        state.ResumeTiming();
        dm->RunUpdate();
        state.PauseTiming();
        if (dm->CurVer != 2) state.SkipWithError("the run did not reach the version");
        dm.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = rows;
}

// The same cursor, read through once for the two key fields.
void BM_Reference(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    ue::test::Installation& inst = Made().Get(Kind::Logged, rows);
    QuietSystem system;
    auto dm = Ready(system, inst);
    for (auto _ : state) {
        dm->UpdateFileLog.Reopen();
        std::size_t bytes = 0;
        for (dm->DownLoadFileLog.GoFirst(); !dm->DownLoadFileLog.AtEnd(); dm->DownLoadFileLog.GoNext()) {
            bytes += dm->DownLoadFileLog.GetText("FileName").size();
            bytes += static_cast<std::size_t>(dm->DownLoadFileLog.GetInt("FileVer"));
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["rows"] = rows;
}

BENCHMARK_CAPTURE(BM_Walk, Logged, Kind::Logged)
    ->Arg(0)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_Walk, NotClient, Kind::NotClient)
    ->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Reference)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5);

// Keeps each benchmark's mean real time so that main can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Iteration) times[r.benchmark_name()] = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.times;
    auto ratio = [&](const std::string& a, const std::string& b) {
        if (t.count(a) && t.count(b) && t[b] > 0) {
            std::printf("%-58s %6.2f\n", (a + " / " + b).c_str(), t[a] / t[b]);
        }
    };
    std::printf("\nRatios (mean real time):\n");
    for (const char* kind : {"Logged", "NotClient"}) {
        const std::string walk = std::string("BM_Walk/") + kind + "/";
        ratio(walk + "100000/iterations:5", walk + "10000/iterations:5");
        ratio(walk + "10000/iterations:5", "BM_Reference/10000/iterations:5");
        ratio(walk + "100000/iterations:5", "BM_Reference/100000/iterations:5");
    }
    ratio("BM_Reference/100000/iterations:5", "BM_Reference/10000/iterations:5");
    if (t.count("BM_Walk/Logged/0/iterations:5") && t.count("BM_Walk/Logged/10000/iterations:5")) {
        const double fixed = t["BM_Walk/Logged/0/iterations:5"];
        std::printf("%-58s %6.2f\n", "walk without the fixed writes, 100000 / 10000 (Logged)",
                    (t["BM_Walk/Logged/100000/iterations:5"] - fixed) /
                        (t["BM_Walk/Logged/10000/iterations:5"] - fixed));
    }
    benchmark::Shutdown();
    return 0;
}
