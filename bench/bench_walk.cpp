// The update run's walk over rows that need no file work, at 10,000 and
// 100,000 rows: every downloaded row already logged, or not for this client
// (then as many other rows are logged). The reference in the same run is a
// plain pass over the same cursor reading the same two fields. The time of a
// run with no rows (the version bookkeeping's writes) is measured too, and
// the ratios are printed at the end: a linear walk grows ~10x.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "run/DMUpdateEx.h"
#include "tests/support/Installation.h"
#include "tests/support/StandIns.h"

namespace {

namespace fs = std::filesystem;
using ue::test::Installation;

enum class Kind { Logged, NotClient };

// One installation per kind and size, made on first use below one temporary
// folder, which is removed at exit.
Installation& Made(Kind kind, int rows) {
    static const fs::path root =
        fs::temp_directory_path() / ("ue-bench-walk-" + std::to_string(std::random_device()()));
    static struct Cleanup {
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(root, ec);
        }
    } cleanup;
    static std::map<std::pair<Kind, int>, std::unique_ptr<Installation>> made;
    auto& inst = made[{kind, rows}];
    if (inst) return *inst;
    const fs::path dir =
        root / (std::to_string(static_cast<int>(kind)) + "-" + std::to_string(rows));
    fs::create_directories(dir);
    inst = std::make_unique<Installation>(dir.string());
    inst->WriteIni("[Update]\n");  // no main program to refresh or start
    std::vector<ue::test::Download> downloads, applied;
    for (int i = 0; i < rows; ++i) {
        downloads.push_back({.aid = i, .fileName = "file" + std::to_string(i) + ".dll",
                             .fileVer = i % 13, .updatePath = "lib\\"});
        applied.push_back(downloads.back());
        if (kind == Kind::NotClient) {
            downloads.back().isClient = false;
            applied.back().fileVer = i % 13 + 1;  // logged, but another version
        }
    }
    inst->AddDownloads(downloads);
    inst->AddApplied(applied);
    return *inst;
}

// A run context over the installation, opened and with the version pending.
std::unique_ptr<ue::TDM_Update> Ready(ue::System& system, Installation& inst) {
    inst.SetSoftInfo(false, 1, 2);
    auto dm = std::make_unique<ue::TDM_Update>(system, inst.Base());
    dm->DataModuleCreate();
    return dm;
}

void BM_Walk(benchmark::State& state, Kind kind) {
    const int rows = static_cast<int>(state.range(0));
    Installation& inst = Made(kind, rows);
    ue::test::RecordingSystem system;
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
    ue::test::RecordingSystem system;
    auto dm = Ready(system, Made(Kind::Logged, rows));
    for (auto _ : state) {
        dm->UpdateFileLog.Reopen();
        std::size_t bytes = 0;
        for (dm->DownLoadFileLog.GoFirst(); !dm->DownLoadFileLog.AtEnd();
             dm->DownLoadFileLog.GoNext()) {
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
    // Mean time of a benchmark; NaN when it did not run, so that its ratios are left out.
    auto t = [&](const std::string& name) {
        auto it = reporter.times.find(name + "/iterations:5");
        return it == reporter.times.end() ? std::numeric_limits<double>::quiet_NaN() : it->second;
    };
    auto print = [](const std::string& label, double ratio) {
        if (std::isfinite(ratio)) std::printf("%-58s %6.2f\n", label.c_str(), ratio);
    };
    std::printf("\nRatios (mean real time):\n");
    for (const std::string kind : {"Logged", "NotClient"}) {
        const std::string walk = "BM_Walk/" + kind + "/";
        print(walk + "100000 / " + walk + "10000", t(walk + "100000") / t(walk + "10000"));
        for (const char* rows : {"10000", "100000"}) {
            print(walk + rows + " / BM_Reference/" + rows,
                  t(walk + rows) / t(std::string("BM_Reference/") + rows));
        }
    }
    print("BM_Reference/100000 / BM_Reference/10000",
          t("BM_Reference/100000") / t("BM_Reference/10000"));
    const double fixed = t("BM_Walk/Logged/0");
    print("walk without the fixed writes, 100000 / 10000 (Logged)",
          (t("BM_Walk/Logged/100000") - fixed) / (t("BM_Walk/Logged/10000") - fixed));
    benchmark::Shutdown();
    return 0;
}
