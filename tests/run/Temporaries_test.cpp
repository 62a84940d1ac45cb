// The journal of the run's temporaries is read in bounded pieces: a huge
// journal (here 1 GiB, sparse) costs the run no memory beyond a few pieces,
// its entries are still cleared, and it is written back without what was no
// entry of the run's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

// Peak resident memory of this process, in KiB.
long PeakKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST_F(RunFixture, AHugeJournalIsReadInBoundedPieces) {
    Offer("a.dll", ftReplace);
    inst.Put("a.dll.~ueLeft01", "half a copy");
    inst.Put("a.dll.~ueOther1", "not the run's");
    const std::string journal = P(kTemporariesJournal);
    inst.Put(kTemporariesJournal, std::string("a.dll.~ueLeft01\0", 16));
    std::filesystem::resize_file(journal, std::uintmax_t{1} << 30);

    // The run goes on in a child, so that its peak is its own.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(pipeFds[0]);
        const long before = PeakKiB();
        const bool ran = RunFailure().empty();
        const long grown = ran ? PeakKiB() - before : -1;
        (void)!::write(pipeFds[1], &grown, sizeof grown);
        _exit(0);
    }
    ::close(pipeFds[1]);
    long grown = -2;
    while (::read(pipeFds[0], &grown, sizeof grown) < 0 && errno == EINTR) {
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);

    ASSERT_GE(grown, 0) << "the run failed";
    EXPECT_LT(grown, 64 * 1024) << "KiB more at the peak";
    EXPECT_EQ(inst.Read("a.dll"), "new a.dll");
    EXPECT_FALSE(inst.Exists("a.dll.~ueLeft01"));
    EXPECT_EQ(inst.Read("a.dll.~ueOther1"), "not the run's");
    EXPECT_FALSE(inst.Exists(kTemporariesJournal));
}

}  // namespace
}  // namespace ue::test
