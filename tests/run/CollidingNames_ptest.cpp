// Downloads and planted files under the names of the run's own temporaries
// (the expansion's "<payload>bakr", the kept "<payload>.ue-keep"): the run
// never takes or deletes them. A payload whose temporary name is taken is
// refused before anything is touched, and nothing is logged for it; what
// the run left behind itself is still recovered.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "sysops/Platform.h"
#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

namespace fs = std::filesystem;

struct Row {
    std::string name;
    std::int64_t type;
};

// A file (holding "planted") or a link to `linkTo` in a folder outside the
// installation, put into update/ beside the downloads.
struct Plant {
    std::string name;
    std::string linkTo;
};

struct Case {
    const char* title;
    std::vector<Row> rows;
    std::vector<Plant> planted;
    std::string expanding;  // the payload refused, "" when the run completes
    std::string inTheWay;   // the name that stops it
    Calls logged;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.title; }

std::string Plain(const std::string& name) { return "plain " + name; }

class CollidingNamesTest : public RunFixture, public ::testing::WithParamInterface<Case> {
protected:
    TempDir outside;

    std::string Downloaded(const Row& row) const {
        return row.type == ftCompressed ? Installation::Compress(Plain(row.name))
                                        : "new " + row.name;
    }

    // Every entry of the outside folder, links as "-> target".
    std::map<std::string, std::string> Outside() const {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::directory_iterator(outside.path())) {
            out[e.path().filename().string()] = e.is_symlink()
                                                    ? "-> " + fs::read_symlink(e.path()).string()
                                                    : ReadFileBytes(e.path().string());
        }
        return out;
    }
};

TEST_P(CollidingNamesTest, TheRunNeverTakesOrDeletesAFileItDidNotCreate) {
    const Case& c = GetParam();
#ifdef _WIN32
    // Links planted by the test would be host links under Wine, which Windows
    // programs see as plain files, and symbolic links need a privilege on
    // Windows; the link cases run on Linux.
    for (const Plant& p : c.planted) {
        if (!p.linkTo.empty()) GTEST_SKIP() << "planted links are checked on Linux";
    }
#endif
    WriteFileBytes(outside.file("secret"), "outside content");
    std::int64_t aid = 0;
    for (const Row& row : c.rows) {
        inst.Put("update/" + row.name, Downloaded(row));
        inst.Put(row.name, "old " + row.name);
        inst.AddDownload({.aid = ++aid, .fileName = row.name, .fileType = row.type});
    }
    for (const Plant& p : c.planted) {
        if (p.linkTo.empty()) {
            inst.Put("update/" + p.name, "planted");
        } else {
            fs::create_symlink(outside.file(p.linkTo), P("update/" + p.name));
        }
    }
    const auto outsideBefore = Outside();

    // A planted link is refused by the run's path checks before the
    // expansion looks at it; either way the error names what is in the way.
    const std::string failure = RunFailure();
    if (c.expanding.empty()) {
        EXPECT_EQ(failure, "");
    } else if (fs::is_symlink(P("update/" + c.inTheWay))) {
        EXPECT_NE(failure.find(P("update/" + c.inTheWay)), std::string::npos) << failure;
    } else {
        EXPECT_EQ(failure, "Cannot expand " + P("update/" + c.expanding) + ": " +
                               P("update/" + c.inTheWay) +
                               " is in the way. UpdateExe did not create it (it may be a "
                               "download of that name), so it is left as it is");
    }
    EXPECT_EQ(Logged(), c.logged);

    for (std::size_t i = 0; i < c.rows.size(); ++i) {
        const Row& row = c.rows[i];
        const bool applied = std::count(c.logged.begin(), c.logged.end(), row.name + "/1") != 0;
        // Downloads stay; only an applied payload is expanded in place.
        EXPECT_EQ(inst.Read("update/" + row.name),
                  applied && row.type == ftCompressed ? Plain(row.name) : Downloaded(row))
            << row.name;
        EXPECT_EQ(inst.Read(row.name),
                  !applied ? "old " + row.name
                           : row.type == ftCompressed ? Plain(row.name) : "new " + row.name)
            << row.name;
        if (row.type == ftCompressed && !applied) {
            EXPECT_EQ(FileTypeOf(static_cast<std::int64_t>(i) + 1), "5") << row.name;
        }
    }
    for (const Plant& p : c.planted) {
        const std::string path = P("update/" + p.name);
        if (p.linkTo.empty()) {
            EXPECT_EQ(inst.Read("update/" + p.name), "planted") << p.name;
        } else {
            EXPECT_TRUE(fs::is_symlink(path)) << p.name;
        }
    }
    EXPECT_EQ(Outside(), outsideBefore);
    EXPECT_FALSE(inst.Exists("update/.UpdateExe-temporaries"));
}

INSTANTIATE_TEST_SUITE_P(
    Downloads, CollidingNamesTest,
    ::testing::Values(
        Case{"DownloadUnderTheExpansionsTemporaryName",
             {{"first.dll", ftReplace}, {"a.dat", ftCompressed}, {"a.datbakr", ftReplace}},
             {},
             "a.dat",
             "a.datbakr",
             {"first.dll/1"}},
        Case{"DownloadUnderTheKeptName",
             {{"b.dll", ftReplace}, {"b.dll.ue-keep", ftReplace}},
             {},
             "",
             "",
             {"b.dll/1", "b.dll.ue-keep/1"}},
        Case{"FilePlantedUnderTheKeptName",
             {{"K.pak", ftCompressed}, {"after.dll", ftReplace}},
             {{"K.pak.ue-keep", ""}},
             "K.pak",
             "K.pak.ue-keep",
             {}},
        // A link under the kept name is refused before the walk, one under
        // the temporary's name at the payload's turn.
        Case{"LinkPlantedUnderTheKeptName",
             {{"first.dll", ftReplace}, {"K.pak", ftCompressed}},
             {{"K.pak.ue-keep", "secret"}},
             "K.pak",
             "K.pak.ue-keep",
             {}},
        Case{"LinkPlantedUnderTheTemporaryNameToAMissingFile",
             {{"first.dll", ftReplace}, {"K.pak", ftCompressed}},
             {{"K.pakbakr", "made-through-the-link"}},
             "K.pak",
             "K.pakbakr",
             {"first.dll/1"}},
        Case{"ExpansionBesideCollidingNamesOfOtherFiles",
             {{"c.dat", ftCompressed}},
             {{"c.datbakrx", ""}, {"c.dat.ue-keep2", ""}, {"d.dat.ue-keep", "secret"}},
             "",
             "",
             {"c.dat/1"}}),
    [](const auto& info) { return std::string(info.param.title); });

// A run ended after the expansion but before FileType 0 was saved leaves the
// payload expanded and the download kept, both recorded as the run's own:
// the next run starts again from the kept download.
TEST_F(RunFixture, LeftoversRecordedAsTheRunsOwnAreStillRecovered) {
    const std::string payload = Installation::Compress("plain z");
    inst.Put("update/z.dat", "plain z, expanded by the run that ended");
    inst.Put("update/z.dat.ue-keep", payload);
    inst.Put("update/z.datbakr", "half written");
    inst.Put("update/.UpdateExe-temporaries", std::string("z.dat.ue-keep\0z.datbakr\0", 24));
    inst.AddDownload({.aid = 1, .fileName = "z.dat", .fileType = ftCompressed});

    EXPECT_EQ(RunFailure(), "");
    EXPECT_EQ(Logged(), Calls{"z.dat/1"});
    EXPECT_EQ(inst.Read("z.dat"), "plain z");
    for (const char* gone :
         {"update/z.dat.ue-keep", "update/z.datbakr", "update/.UpdateExe-temporaries"}) {
        EXPECT_FALSE(inst.Exists(gone)) << gone;
    }
}

// UTF-8 paths as std::filesystem takes them on both platforms: a narrow
// string would be read in the ANSI code page on Windows.
fs::path U8(const std::string& path) { return fs::path(std::u8string(path.begin(), path.end())); }

void PutU8(const std::string& path, const std::string& bytes) {
    fs::create_directories(U8(path).parent_path());
    std::ofstream(U8(path), std::ios::binary) << bytes;
}

std::string ReadU8(const std::string& path) {
    std::ifstream in(U8(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool ExistsU8(const std::string& path) { return fs::exists(fs::symlink_status(U8(path))); }

// Runs ended early under Chinese names: one while it expanded 配置.dat (kept
// download, half-written expansion, a copy's temporary in 数据), one after it
// saved FileType 0 for 设置.ini but before it removed the kept download. The
// next run finds every leftover through the journal: it starts 配置.dat again
// from its kept download and removes the rest; a file the journal does not
// name stays.
TEST_F(RunFixture, LeftoversUnderChineseNamesAreFoundThroughTheJournal) {
    const std::string config = "\xE9\x85\x8D\xE7\xBD\xAE.dat";    // 配置.dat
    const std::string settings = "\xE8\xAE\xBE\xE7\xBD\xAE.ini";  // 设置.ini
    const std::string data = "\xE6\x95\xB0\xE6\x8D\xAE";          // 数据
    const std::string sep(1, PathSeparator());
    const std::string base = inst.Base();
    const std::string update = base + "update" + sep;
    PutU8(base + data + sep + config, "old config");
    PutU8(update + config, "plain config, expanded by the run that ended");
    PutU8(update + config + ".ue-keep", Installation::Compress("plain config"));
    PutU8(update + config + "bakr", "half written");
    PutU8(base + data + sep + config + ".~ueAbC123", "half a copy");
    PutU8(base + data + sep + config + ".~ueZzZ999", "not the run's");
    PutU8(base + settings, "old settings");
    PutU8(update + settings, "plain settings");
    PutU8(update + settings + ".ue-keep", Installation::Compress("plain settings"));
    std::string journal;
    for (const std::string& entry :
         {"update" + sep + config + ".ue-keep", "update" + sep + config + "bakr",
          data + sep + config + ".~ueAbC123", "update" + sep + settings + ".ue-keep"}) {
        journal += entry + '\0';
    }
    PutU8(base + ".UpdateExe-temporaries", journal);
    inst.AddDownload({.aid = 1, .fileName = config, .fileType = ftCompressed, .updatePath = data});
    inst.AddDownload({.aid = 2, .fileName = settings, .fileType = ftReplace});

    EXPECT_EQ(RunFailure(), "");
    EXPECT_EQ(Logged(), (Calls{config + "/1", settings + "/1"}));
    EXPECT_EQ(ReadU8(base + data + sep + config), "plain config");
    EXPECT_EQ(ReadU8(base + settings), "plain settings");
    for (const std::string& gone :
         {update + config + ".ue-keep", update + config + "bakr", base + data + sep + config + ".~ueAbC123",
          update + settings + ".ue-keep", base + ".UpdateExe-temporaries"}) {
        EXPECT_FALSE(ExistsU8(gone)) << gone;
    }
    EXPECT_EQ(ReadU8(base + data + sep + config + ".~ueZzZ999"), "not the run's");
}

// A payload whose kept name the system refuses as too long (259 bytes) ends
// the run with the system's reason, not as a file in the way: nothing is.
TEST_F(RunFixture, AKeptNameTooLongIsReportedAsSuch) {
    const std::string name = std::string(247, 'p') + ".dat";
    const std::string payload = Installation::Compress("plain");
    inst.Put("update/" + name, payload);
    inst.AddDownload({.aid = 1, .fileName = name, .fileType = ftCompressed});

    const std::string failure = RunFailure();
    EXPECT_NE(failure.find(P("update/" + name + ".ue-keep")), std::string::npos) << failure;
    EXPECT_EQ(failure.find("in the way"), std::string::npos) << failure;
#ifndef _WIN32
    EXPECT_NE(failure.find("too long"), std::string::npos) << failure;
#endif
    EXPECT_EQ(inst.Read("update/" + name), payload);
    EXPECT_EQ(FileTypeOf(1), "5");
    EXPECT_TRUE(Logged().empty());
}

}  // namespace
}  // namespace ue::test
