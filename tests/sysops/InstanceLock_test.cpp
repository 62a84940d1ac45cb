// The installation's lock: one holder at a time across processes, released
// when its holder ends, never inherited by a program it starts, and never
// taken through something planted under its name.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "sysops/InstanceLock.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Support.h"

namespace ue {
namespace {

using State = InstanceLock::State;
using test::TempDir;

State Try(const std::string& dir) { return InstanceLock::Acquire(dir).GetState(); }

pid_t Reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return pid;
}

TEST(InstanceLock, OneHolderAtATimeUntilItsProcessEnds) {
    TempDir dir;
    const mode_t oldMask = ::umask(022);
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        const InstanceLock lock = InstanceLock::Acquire(dir.path() + "/");
        const char held = lock.GetState() == State::Held ? 'y' : 'n';
        if (::write(ready[1], &held, 1) != 1) _exit(1);
        char c;
        while (::read(release[0], &c, 1) < 0 && errno == EINTR) {
        }
        _exit(0);  // the lock goes with the process, however it ends
    }
    ::umask(oldMask);
    ::close(ready[1]);
    ::close(release[0]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(held, 'y');

    EXPECT_EQ(Try(dir.path()), State::Busy);
    EXPECT_EQ(Try(dir.path() + "/"), State::Busy);  // a refusal leaves nothing held

    ::close(release[1]);
    Reap(child);
    {
        const InstanceLock ours = InstanceLock::Acquire(dir.path());
        EXPECT_EQ(ours.GetState(), State::Held);
        EXPECT_EQ(Try(dir.path()), State::Busy);  // also within one process
    }
    EXPECT_EQ(Try(dir.path()), State::Held);

    // Created once, never written.
    struct stat st {};
    ASSERT_EQ(::stat(dir.file(kInstanceLockName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(st.st_size, 0);
}

TEST(InstanceLock, AProgramStartedWhileItIsHeldDoesNotKeepIt) {
    TempDir dir;
    pid_t program = -1;
    {
        const InstanceLock lock = InstanceLock::Acquire(dir.path());
        ASSERT_EQ(lock.GetState(), State::Held);
        program = ::fork();
        ASSERT_GE(program, 0);
        if (program == 0) {
            ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Until the exec, the child shares the lock: wait for it.
        ASSERT_TRUE(test::WaitUntil([&] {
            return std::filesystem::read_symlink("/proc/" + std::to_string(program) + "/exe")
                       .filename() == "sleep";
        }));
    }
    EXPECT_EQ(Try(dir.path()), State::Held);
    ::kill(program, SIGKILL);
    Reap(program);
}

TEST(InstanceLock, NothingPlantedUnderItsNameIsTakenOrFollowed) {
    struct Case {
        const char* name;
        void (*plant)(const std::string& lock, const std::string& outside);
    };
    for (const Case& c : {
             Case{"a link to a missing file",
                  [](const std::string& lock, const std::string& outside) {
                      std::filesystem::create_symlink(outside, lock);
                  }},
             Case{"a link to a file",
                  [](const std::string& lock, const std::string& outside) {
                      test::WriteFileBytes(outside, "secret");
                      std::filesystem::create_symlink(outside, lock);
                  }},
             Case{"a FIFO: not waited on",
                  [](const std::string& lock, const std::string&) {
                      ASSERT_EQ(::mkfifo(lock.c_str(), 0644), 0);
                  }},
             Case{"a folder",
                  [](const std::string& lock, const std::string&) {
                      std::filesystem::create_directory(lock);
                  }},
         }) {
        TempDir dir;
        std::filesystem::create_directory(dir.file("inst"));
        const std::string outside = dir.file("outside");
        c.plant(dir.file("inst/") + kInstanceLockName, outside);
        const InstanceLock lock = InstanceLock::Acquire(dir.file("inst"));
        EXPECT_EQ(lock.GetState(), State::Unavailable) << c.name;
        EXPECT_TRUE(lock.Why()) << c.name;
        if (std::filesystem::exists(outside)) {
            EXPECT_EQ(test::ReadFileBytes(outside), "secret") << c.name;
        } else {
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(outside)))
                << c.name;
        }
    }
    EXPECT_EQ(Try("/nonexistent-installation"), State::Unavailable);
}

TEST(InstanceLock, ALockFileWeMayOnlyReadStillLocks) {
    TempDir dir;
    test::HandToUnprivileged(dir.path());
    const InstanceLock ours = InstanceLock::Acquire(dir.path());
    ASSERT_EQ(ours.GetState(), State::Held);
    ASSERT_EQ(::chmod(dir.file(kInstanceLockName).c_str(), 0444), 0);
    const auto seen = test::RunUnprivileged([&] {
        return std::to_string(static_cast<int>(Try(dir.path())));
    });
    if (!seen) GTEST_SKIP() << "cannot run as an ordinary user";
    EXPECT_EQ(*seen, std::to_string(static_cast<int>(State::Busy)));
}

}  // namespace
}  // namespace ue
