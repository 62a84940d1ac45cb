// A failed copy, expansion and queue end the run with the system's reason in
// UTF-8, as FormatMessageW gives it in the user's language. Run twice: as
// set up, and as on a Chinese Windows (code page 936), where the narrow
// texts are GBK and would show as "?" in the error box.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "core/Errors.h"
#include "core/Text.h"
#include "core/WinText.h"
#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

// A handle that shares nothing: every other open of the file fails with
// ERROR_SHARING_VIOLATION while it lives.
class ExclusiveHold {
public:
    explicit ExclusiveHold(const std::string& path)
        : h_(::CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~ExclusiveHold() {
        if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
    }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;
    bool held() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

enum class Failing { Copy, Expansion, Queue };

struct ReasonCase {
    const char* title;
    Failing what;
    const char* action;  // the start of the message
    DWORD code;          // whose reason it carries
};

const ReasonCase kReasonCases[] = {
    {"Copy", Failing::Copy, "Cannot copy", ERROR_SHARING_VIOLATION},
    {"Expansion", Failing::Expansion, "Cannot create file", ERROR_SHARING_VIOLATION},
    {"Queue", Failing::Queue, "Cannot queue", ERROR_ACCESS_DENIED},
};

void PrintTo(const ReasonCase& c, std::ostream* os) { *os << c.title; }

class SystemReasonTest : public RunFixture, public testing::WithParamInterface<ReasonCase> {};

TEST_P(SystemReasonTest, FailureEndsTheRunWithTheSystemsReasonInUtf8) {
    const ReasonCase& c = GetParam();
    // The system's own text, straight from FormatMessageW.
    wchar_t buffer[512];
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                     c.code, 0, buffer, 512, nullptr);
    ASSERT_GT(n, 0u);
    const std::string reason = SystemReason(SystemError(static_cast<int>(c.code)));
    ASSERT_FALSE(reason.empty());
    EXPECT_EQ(Narrow(std::wstring_view(buffer, n)).rfind(reason, 0), 0u) << reason;
    if (::GetACP() == 936) {
        // A Chinese Windows words it in Chinese: the case the narrow text garbles.
        EXPECT_TRUE(std::any_of(reason.begin(), reason.end(), [](char ch) { return ch & 0x80; }))
            << reason;
    }

    std::optional<ExclusiveHold> exclusive;
    switch (c.what) {
        case Failing::Copy:  // the download cannot be read
            Offer("a.dll", ftReplace);
            exclusive.emplace(P("update/a.dll"));
            ASSERT_TRUE(exclusive->held());
            break;
        case Failing::Expansion:  // the payload is held open by another program
            Offer("b.dat", ftCompressed);
            Hold("update/b.dat");
            break;
        case Failing::Queue:  // the restart's list may not be written
            Offer("c.dll", ftReplace);
            Hold("c.dll");
            sys.replaceAtRestartError = SystemError(ERROR_ACCESS_DENIED);
            break;
    }
    const std::string message = RunFailure();
    EXPECT_TRUE(text::IsStrictUtf8(message)) << message;
    EXPECT_EQ(message.rfind(c.action, 0), 0u) << message;
    EXPECT_NE(message.find(reason), std::string::npos) << message << "\nreason: " << reason;
}

INSTANTIATE_TEST_SUITE_P(, SystemReasonTest, testing::ValuesIn(kReasonCases),
                         [](const auto& info) { return std::string(info.param.title); });

}  // namespace
}  // namespace ue::test
