// What FrmMain shows of the run's progress, without a toolkit: the texts of
// the file being applied and of its place ("3 / 6", with a percentage once a
// copy or an expansion lasts), and when the window processes pending
// messages during the run's long work. Both toolkits draw from it.
#pragma once

#include <cstdint>
#include <string>

#include "run/UserInterface.h"

namespace ue {

class FileProgressView {
public:
    // A copy or expansion shows its percentage once it has lasted this long.
    static constexpr std::int64_t kPercentAfterMs = 500;

    // Takes the run's report at `nowMs`; true when a text changed (repaint).
    // Cheap when nothing changed: no text is made anew.
    bool Take(const FileProgress& progress, std::int64_t nowMs);
    // Back to no file (the run ended).
    void Clear();

    const std::string& FileText() const { return file_; }
    // "3 / 6", "3 / 6  45%"; empty before the first file.
    const std::string& PlaceText() const { return place_; }
    // The percentage shown, -1 for none.
    int Percent() const { return percent_; }

private:
    std::string file_;
    std::string place_;
    int index_ = 0, count_ = 0, percent_ = -1;
    std::uint64_t total_ = 0;        // of the piece of work under way
    std::int64_t workSince_ = 0;     // when it began
};

// When the window pumps its messages while the run works (at most once per
// kIntervalMs, so the cost stays negligible), and the longest time it went
// without between Start and Stop.
class PumpClock {
public:
    static constexpr std::int64_t kIntervalMs = 30;

    void Start(std::int64_t nowMs);
    // True when kIntervalMs have passed since the last pump (or the start).
    bool Due(std::int64_t nowMs) const { return nowMs - last_ >= kIntervalMs; }
    // Messages were processed at `nowMs`.
    void Pumped(std::int64_t nowMs);
    // The gap up to `nowMs` counts; later pumps do not.
    void Stop(std::int64_t nowMs);
    bool Running() const { return running_; }
    std::int64_t LongestGapMs() const { return longest_; }
    // When the longest gap ended (steady milliseconds).
    std::int64_t LongestGapEnd() const { return longestEnd_; }

private:
    bool running_ = false;
    std::int64_t last_ = 0;
    std::int64_t longest_ = 0;
    std::int64_t longestEnd_ = 0;
};

// With UPDATEEXE_TRACE_PUMP=<file> set, appends "longest-gap-ms <n> ended
// <Unix time in ms>" for the run to that file (the responsiveness benchmark
// reads it; the time finds the gap in a trace of system calls); otherwise
// nothing.
void WritePumpTrace(const PumpClock& clock);

// Milliseconds of a steady clock, for the two above.
std::int64_t SteadyMs();

}  // namespace ue
