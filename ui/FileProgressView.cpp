#include "ui/FileProgressView.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "core/FileIO.h"

namespace ue {

bool FileProgressView::Take(const FileProgress& progress, std::int64_t nowMs) {
    // A new piece of work (another file, a copy after an expansion) starts
    // its own clock; the percentage waits until it has lasted.
    const bool newFile = progress.file != file_;
    if (newFile || progress.total != total_ || progress.index != index_) {
        total_ = progress.total;
        workSince_ = nowMs;
    }
    int percent = -1;
    if (progress.total > 0 && nowMs - workSince_ >= kPercentAfterMs) {
        const std::uint64_t done = std::min(progress.done, progress.total);
        // 100 only when all is done.
        percent = static_cast<int>(done * 100 / progress.total);
    }
    if (!newFile && progress.index == index_ && progress.count == count_ && percent == percent_) {
        return false;
    }
    if (newFile) file_ = progress.file;
    index_ = progress.index;
    count_ = progress.count;
    percent_ = percent;
    place_.clear();
    if (count_ > 0) {
        place_ = std::to_string(index_) + " / " + std::to_string(count_);
        if (percent_ >= 0) place_ += "  " + std::to_string(percent_) + "%";
    }
    return true;
}

void FileProgressView::Clear() { *this = FileProgressView(); }

void PumpClock::Start(std::int64_t nowMs) {
    running_ = true;
    last_ = nowMs;
    longest_ = 0;
}

void PumpClock::Pumped(std::int64_t nowMs) {
    if (running_ && nowMs - last_ > longest_) {
        longest_ = nowMs - last_;
        longestEnd_ = nowMs;
    }
    last_ = nowMs;
}

void PumpClock::Stop(std::int64_t nowMs) {
    if (!running_) return;
    Pumped(nowMs);
    running_ = false;
}

void WritePumpTrace(const PumpClock& clock) {
    const char* path = std::getenv("UPDATEEXE_TRACE_PUMP");
    if (path == nullptr || *path == '\0') return;
    fileio::File file;
    if (fileio::OpenToAppend(path, file)) return;
    using namespace std::chrono;
    const std::int64_t ended = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() -
                               (SteadyMs() - clock.LongestGapEnd());
    (void)fileio::WriteAll(file, "longest-gap-ms " + std::to_string(clock.LongestGapMs()) + " ended " +
                                     std::to_string(ended) + "\n");
}

std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace ue
