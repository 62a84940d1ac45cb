// A fresh temporary directory per test, removed with everything in it.
#pragma once

#include <string>

namespace ue::test {

class TempDir {
public:
    TempDir() : TempDir(std::string()) {}
    // Inside `parent` instead of the system's temporary directory ("" for it).
    explicit TempDir(const std::string& parent);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory, without a trailing separator.
    const std::string& path() const { return path_; }
    // path() + separator + name.
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// Whole-file helpers for tests; they fail the test on error.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace ue::test
