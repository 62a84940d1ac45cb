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

    // Created once, never written, for its owner alone (the folder is 0700).
    struct stat st {};
    ASSERT_EQ(::stat(dir.file(kInstanceLockName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
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

// Root's updater on root's installation: whoever may not write the folder
// cannot hold its lock, not even through an older lock file they may read, and
// root's updater still takes it after them. Who may write it (here through
// the folder's group) may hold it.
TEST(InstanceLock, OnlyWhoMayWriteTheInstallationMayHoldIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run as another user";
    struct Case {
        const char* name;
        mode_t folderMode;
        int oldFile;  // -1: none; else its mode, the file nobody's
        bool nobodyOwnsOldFile;
        mode_t mode;  // of the lock file afterwards
        State nobodyWhileHeld;
        State nobodyAfter;
    };
    const Case cases[] = {
        {"new lock file", 0755, -1, false, 0600, State::Unavailable, State::Unavailable},
        {"older readable lock file", 0755, 0644, false, 0600, State::Unavailable,
         State::Unavailable},
        {"another user's lock file", 0755, 0666, true, 0600, State::Unavailable,
         State::Unavailable},
        {"folder writable by the group", 0775, -1, false, 0660, State::Busy, State::Held},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        const std::string inst = dir.file("inst");
        ASSERT_EQ(::mkdir(inst.c_str(), c.folderMode), 0);
        ASSERT_EQ(::chmod(inst.c_str(), c.folderMode), 0);
        ASSERT_EQ(::chown(inst.c_str(), 0, test::kUnprivilegedId), 0);
        const std::string file = inst + "/" + kInstanceLockName;
        if (c.oldFile >= 0) {
            test::WriteFileBytes(file, "");
            ASSERT_EQ(::chmod(file.c_str(), static_cast<mode_t>(c.oldFile)), 0);
            if (c.nobodyOwnsOldFile) test::HandToUnprivileged(file);
        }
        const auto nobodyTries = [&] {
            return test::RunUnprivileged(
                [&] { return std::to_string(static_cast<int>(Try(inst))); });
        };
        {
            const InstanceLock ours = InstanceLock::Acquire(inst);
            ASSERT_EQ(ours.GetState(), State::Held);
            const auto seen = nobodyTries();
            if (!seen) GTEST_SKIP() << "cannot run as an ordinary user";
            EXPECT_EQ(*seen, std::to_string(static_cast<int>(c.nobodyWhileHeld)));
        }
        EXPECT_EQ(nobodyTries(), std::to_string(static_cast<int>(c.nobodyAfter)));
        EXPECT_EQ(Try(inst), State::Held);
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(st.st_gid, test::kUnprivilegedId);
    }
}

// The installation's owner may lock a lock file made read-only: it is made
// writable for them again.
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
