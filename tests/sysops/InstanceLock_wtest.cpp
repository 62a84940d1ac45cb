// The installation's lock under Windows (or Wine): one holder at a time
// across processes, whatever spelling of the folder each uses, released when
// its holder ends.
#include <gtest/gtest.h>

#include <filesystem>

#include "sysops/InstanceLock.h"
#include "tests/sysops/helpers/Win32Support.h"

namespace ue {
namespace {

using State = InstanceLock::State;
using test::TempDir;

State Try(const std::string& dir) { return InstanceLock::Acquire(dir).GetState(); }

TEST(InstanceLock, OneHolderAtATimeAcrossProcessesAndSpellings) {
    TempDir dir;
    const std::string inst = dir.file("Inst");
    std::filesystem::create_directory(inst);
    const std::string flag = dir.file("held");
    {
        test::Child holder(UE_TEST_LOCK_HOLDER, "\"" + inst + "\" \"" + flag + "\"");
        ASSERT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(flag); }));
        EXPECT_EQ(test::ReadFileBytes(flag), "0");
        for (const std::string& spelling : {inst, inst + "\\", dir.file("INST"), inst + "\\."})
            EXPECT_EQ(Try(spelling), State::Busy) << spelling;
        EXPECT_EQ(Try(dir.path()), State::Held);  // another folder, another lock
        std::filesystem::remove(flag);
        EXPECT_EQ(holder.Ended(), 0u);
    }
    {
        const InstanceLock ours = InstanceLock::Acquire(inst);
        EXPECT_EQ(ours.GetState(), State::Held);
        EXPECT_EQ(Try(inst), State::Busy);  // also within one process
    }
    EXPECT_EQ(Try(inst), State::Held);
    EXPECT_TRUE(std::filesystem::is_empty(inst));  // no file made there

    const InstanceLock missing = InstanceLock::Acquire(dir.file("missing"));
    EXPECT_EQ(missing.GetState(), State::Unavailable);
    EXPECT_TRUE(missing.Why());
}

TEST(InstanceLock, AHolderThatIsKilledLeavesNothingHeld) {
    TempDir dir;
    const std::string flag = dir.file("held");
    test::Child holder(UE_TEST_LOCK_HOLDER, "\"" + dir.path() + "\" \"" + flag + "\"");
    ASSERT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(flag); }));
    EXPECT_EQ(Try(dir.path()), State::Busy);
    ::TerminateProcess(holder.handle(), 1);
    EXPECT_TRUE(holder.Ended());
    EXPECT_EQ(Try(dir.path()), State::Held);
}

}  // namespace
}  // namespace ue
