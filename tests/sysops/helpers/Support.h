// Small helpers shared by the Linux suites of this folder.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "core/Errors.h"

namespace ue::test {

// Sets (or with nullopt unsets) an environment variable for the life of a
// test and restores it after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value) ::setenv(name_.c_str(), value->c_str(), 1);
        else ::unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> old_;
};

// The names of the entries of `dir`: shows what a call left behind.
inline std::set<std::string> EntryNames(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The text of the ue::Error that `call` raises; a marker instead when it
// raises none or one of the more specific type `Other`.
template <typename Other, typename Call>
std::string PlainErrorOf(Call call) {
    try {
        call();
    } catch (const Other& e) {
        return std::string("unexpected error type (") + e.what() + ")";
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

// Polls `done` until it holds or `bound` has passed; false on time-out.
template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// True once `pid` has left /proc: ended and reaped, not lingering as a zombie.
inline bool Reaped(pid_t pid) {
    return WaitUntil([pid] { return !std::filesystem::exists("/proc/" + std::to_string(pid)); });
}

}  // namespace ue::test
