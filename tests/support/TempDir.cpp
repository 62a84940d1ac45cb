#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "core/FileIO.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace ue::test {

TempDir::TempDir(const std::string& parent) {
    const fs::path base = parent.empty() ? fs::temp_directory_path() : fs::path(parent);
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = base / ("ue-test-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            path_ = p.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore write permission first so read-only fixtures can be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

// Joined as text: a narrow std::filesystem::path would read a UTF-8 name in
// the ANSI code page on Windows.
std::string TempDir::file(const std::string& name) const {
#ifdef _WIN32
    return path_ + '\\' + name;
#else
    return path_ + '/' + name;
#endif
}

// Through the project's file I/O, which takes UTF-8 paths on both platforms.
std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    const std::error_code ec = fileio::ReadAll(path, bytes);
    EXPECT_FALSE(ec) << "cannot read " << path << ": " << ec.message();
    return bytes;
}

// Truncates and writes the file in place (through a link, as an editor would).
void WriteFileBytes(const std::string& path, const std::string& bytes) {
#ifdef _WIN32
    const fileio::File file(::CreateFileW(fileio::WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                          nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
#else
    const fileio::File file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
#endif
    ASSERT_TRUE(file.Valid()) << "cannot write " << path;
    ASSERT_FALSE(fileio::WriteAll(file, bytes)) << "cannot write " << path;
}

}  // namespace ue::test
