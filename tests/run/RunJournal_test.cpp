// The run log's journal entries as the journal receives them: on its socket,
// in a private mount namespace where a socket of the test's own stands at
// the journal's place. Nothing reaches the machine's journal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "run/RunReport.h"

namespace ue {
namespace {

constexpr int kSkip = 77;

using Entry = std::multimap<std::string, std::string>;

// A journal datagram: "NAME=value\n", or for a value with a line end
// "NAME\n", its size as 64-bit little endian, the value and "\n".
Entry ParseEntry(const std::string& datagram) {
    Entry entry;
    std::size_t i = 0;
    while (i < datagram.size()) {
        const std::size_t end = datagram.find_first_of("=\n", i);
        if (end == std::string::npos) break;
        const std::string name = datagram.substr(i, end - i);
        if (datagram[end] == '=') {
            const std::size_t line = datagram.find('\n', end);
            entry.emplace(name, datagram.substr(end + 1, line - end - 1));
            i = line == std::string::npos ? datagram.size() : line + 1;
        } else {
            std::uint64_t size = 0;
            for (int b = 7; b >= 0; --b) size = size << 8 | static_cast<unsigned char>(datagram[end + 1 + b]);
            entry.emplace(name, datagram.substr(end + 9, size));
            i = end + 9 + size + 1;
        }
    }
    return entry;
}

bool WriteText(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

// In the child: a namespace of its own with a fresh /run, the journal's
// socket bound there, the events reported, each datagram passed to `out`
// as <size><bytes>. Ends with 0, or kSkip with the reason as the only datagram.
[[noreturn]] void Child(int out, const std::vector<RunEvent>& events) {
    const auto send = [out](const std::string& bytes) {
        const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
        (void)!::write(out, &size, sizeof size);
        (void)!::write(out, bytes.data(), bytes.size());
    };
    const auto skip = [&](const std::string& what) {
        send(what + ": " + std::strerror(errno));
        ::_exit(kSkip);
    };
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) skip("unshare(CLONE_NEWUSER|CLONE_NEWNS)");
    if (!WriteText("/proc/self/setgroups", "deny") ||
        !WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        skip("mapping the user in the new namespace");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) skip("private mounts");
    if (::mount("tmpfs", "/run", "tmpfs", 0, nullptr) != 0) skip("mounting a tmpfs over /run");
    if (::mkdir("/run/systemd", 0755) != 0 || ::mkdir("/run/systemd/journal", 0755) != 0) {
        skip("mkdir /run/systemd/journal");
    }
    const int journal = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/run/systemd/journal/socket");
    if (journal < 0 || ::bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        skip("binding the journal's socket");
    }
    timeval wait{5, 0};
    ::setsockopt(journal, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

    SystemLogReport report;
    for (const RunEvent& event : events) {
        report.Report(event);
        std::string datagram(1 << 16, '\0');
        const ssize_t got = ::recv(journal, datagram.data(), datagram.size(), 0);
        datagram.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
        send(datagram);
    }
    // No journal listening: the entry is lost and the run goes on.
    ::close(journal);
    ::unlink("/run/systemd/journal/socket");
    report.Report(events.back());
    ::_exit(0);
}

TEST(RunJournal, EntriesCarryTheMessageThePriorityAndTheFields) {
    std::vector<RunEvent> events(3);
    events[0].installation = "/opt/suite/";
    events[1].kind = RunEvent::Kind::Version;
    events[1].versionFrom = 4;
    events[1].versionTo = 5;
    events[2].kind = RunEvent::Kind::File;
    events[2].fate = RunEvent::Fate::Failed;
    events[2].file = "/opt/suite/数据.dll";
    events[2].reason = "Cannot replace \"/opt/suite/数据.dll\": 权限不够\r\nsecond line";

    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeEnds[0]);
        Child(pipeEnds[1], events);
    }
    ::close(pipeEnds[1]);
    std::vector<std::string> datagrams;
    for (;;) {
        std::uint32_t size = 0;
        if (::read(pipeEnds[0], &size, sizeof size) != sizeof size) break;
        std::string bytes(size, '\0');
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::read(pipeEnds[0], bytes.data() + got, size - got);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        datagrams.push_back(bytes);
    }
    ::close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) == kSkip) {
        GTEST_SKIP() << "no private mount namespace here: "
                     << (datagrams.empty() ? "" : datagrams.back());
    }
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(datagrams.size(), 3u);

    const Entry start = ParseEntry(datagrams[0]);
    EXPECT_EQ(start, (Entry{{"MESSAGE", "Update of /opt/suite/ started"},
                            {"PRIORITY", "6"},
                            {"SYSLOG_IDENTIFIER", "UpdateExe"},
                            {"UE_EVENT", "start"},
                            {"UE_INSTALLATION", "/opt/suite/"}}));
    const Entry version = ParseEntry(datagrams[1]);
    EXPECT_EQ(version, (Entry{{"MESSAGE", "Version 4 to 5"},
                              {"PRIORITY", "6"},
                              {"SYSLOG_IDENTIFIER", "UpdateExe"},
                              {"UE_EVENT", "version"},
                              {"UE_INSTALLATION", "/opt/suite/"},
                              {"UE_VERSION_FROM", "4"},
                              {"UE_VERSION_TO", "5"}}));
    // A failure at err, the installation of the start on it, the reason whole
    // across its line end.
    const Entry failed = ParseEntry(datagrams[2]);
    EXPECT_EQ(failed, (Entry{{"MESSAGE", "failed " + events[2].file + ": " + events[2].reason},
                             {"PRIORITY", "3"},
                             {"SYSLOG_IDENTIFIER", "UpdateExe"},
                             {"UE_EVENT", "file"},
                             {"UE_INSTALLATION", "/opt/suite/"},
                             {"UE_FILE", events[2].file},
                             {"UE_FATE", "failed"},
                             {"UE_REASON", events[2].reason}}));
}

}  // namespace
}  // namespace ue
