// What the run promises the downloader, through the real run over a real
// database and real files: a download that is missing or differs from its
// row is never recorded as applied, two targets for one key are refused
// before any file is touched, rows that need no download are still logged,
// and a version that cannot be saved says where. Each case checks the log,
// CurSoftInfo, Update.ini, the installed files and the message.
#include <functional>

#include "core/Digest.h"
#include "core/Text.h"
#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

// One DownLoadFileLog row. Its download holds "new <name>" (a zlib stream of
// it for type 5), its installed copy "old <name>".
struct Row {
    const char* name;
    std::optional<std::int64_t> type = ftReplace;
    const char* updatePath = "";
    bool downloaded = true;
    bool installed = true;
    // Only where the table has the column: nullptr stores null; "good" the
    // download's own size or SHA-256, "GOOD" that hash in capitals; anything
    // else is stored as it is (FileSize as a number, FileHash as text).
    const char* size = nullptr;
    const char* hash = nullptr;
};

class DownloadContractTest;
using Step = std::function<void(DownloadContractTest&)>;

struct ContractCase {
    const char* name;
    const char* columns;  // added to DownLoadFileLog: "", "FileSize", "FileHash" or both
    std::vector<Row> rows;
    // A part of the message that ends the run, with "{update}" for the update
    // folder and "{good}" for the first row's SHA-256; empty when it completes.
    std::string message;
    Calls logged;
    Calls replaced;  // installed copies that now hold the download, "/"-separated
    Calls actions;   // "run X", "register X": programs started, libraries registered
    Step arrange = {};
    // Takes the cause away; the next start then completes with every row logged.
    Step remedy = {};
};

// Failures name the case, not its bytes.
void PrintTo(const ContractCase& c, std::ostream* os) { *os << c.name; }

const std::string kGarbageHash(64, '0');

class DownloadContractTest : public RunFixture, public testing::WithParamInterface<ContractCase> {
public:
    using RunFixture::inst;
    using RunFixture::P;
    using RunFixture::sys;

    static std::string Content(const Row& r) { return std::string("new ") + r.name; }
    static std::string Download(const Row& r) {
        return r.type == ftCompressed ? Installation::Compress(Content(r)) : Content(r);
    }
    static std::string Sha(const std::string& bytes) {
        std::string hex;
        EXPECT_FALSE(digest::Sha256Of(bytes, hex));
        return hex;
    }
    static std::string Target(const Row& r) {
        std::string dir = r.updatePath;
        for (char& c : dir) c = c == '\\' ? '/' : c;
        if (!dir.empty() && dir.back() != '/') dir += '/';
        return dir + r.name;
    }
};

// Each Row with its defaults, as designated initializers cannot skip to a later field.
Row Missing(const char* name, std::int64_t type, bool installed = true) {
    return {.name = name, .type = type, .downloaded = false, .installed = installed};
}

const ContractCase kCases[] = {
    // A downloader that writes the row before its file (or dies between the
    // two) loses nothing: the row waits, and a harmless row before it is not
    // applied either.
    {"ReplacementWithoutDownload", "",
     {{.name = "b.dll"}, Missing("a.dll", ftReplace)},
     "The download of a.dll is missing: \"{update}a.dll\" does not exist", {}, {}, {}, {},
     [](auto& t) { t.inst.Put("update/a.dll", "new a.dll"); }},
    {"PayloadWithoutDownload", "",
     {{.name = "b.dll"}, Missing("z.dat", ftCompressed)},
     "The download of z.dat is missing: \"{update}z.dat\" does not exist", {}, {}, {}, {},
     [](auto& t) { t.inst.Put("update/z.dat", Installation::Compress("new z.dat")); }},
    // Removed after the check before the walk, before its turn.
    {"DownloadRemovedDuringTheWalk", "",
     {{.name = "a.dll"}, {.name = "b.dll"}},
     "The download of b.dll is missing", {"a.dll/1"}, {"a.dll"}, {},
     [](auto& t) {
         t.sys.onSleep = [&t](unsigned) { std::filesystem::remove(t.P("update/b.dll")); };
     }},
    // A program or a library without a download: the installed copy is
    // started or registered, and the row logged.
    {"ProgramWithoutDownloadStartsTheInstalledCopy", "", {Missing("t.exe", ftRun)}, "",
     {"t.exe/1"}, {}, {"run t.exe"}},
    {"ProgramWithoutDownloadOrInstalledCopy", "", {Missing("t.exe", ftRun, false)},
     "Neither the download of t.exe (\"{update}t.exe\") nor its installed copy", {}, {}, {}},
    {"LibraryWithoutDownloadRegistersTheInstalledCopy", "", {Missing("l.dll", ftRegister)}, "",
     {"l.dll/1"}, {}, {"register l.dll"}},
    {"LibraryWithoutDownloadOrInstalledCopy", "", {Missing("l.dll", ftRegister, false)},
     "Neither the download of l.dll (\"{update}l.dll\") nor its installed copy", {}, {}, {}},
    {"NoActionNeedsNoFile", "", {Missing("n.dat", 3, false)}, "", {"n.dat/1"}, {}, {}},
    // update/ holds one config.xml and the log one row per key: the walk is
    // refused rather than leave data/config.xml old.
    {"OneKeyForTwoFolders", "",
     {{.name = "a.dll"}, {.name = "config.xml"}, {.name = "config.xml", .updatePath = "data"}},
     "Two rows bring config.xml version 1 to different folders: row 2 (AID 2) to", {}, {}, {}},
    // The same folder written two ways is one target: applied once.
    {"OneKeyForOneFolderTwice", "",
     {{.name = "config.xml", .updatePath = "data"}, {.name = "config.xml", .updatePath = "data\\"}},
     "", {"config.xml/1"}, {"data/config.xml"}, {}},
    {"SizeDiffers", "FileSize", {{.name = "b.dll"}, {.name = "a.dll", .size = "3"}},
     "of a.dll differs from its row in DownLoadFileLog: FileSize is 3, the file has 9 bytes", {},
     {}, {}},
    {"HashDiffers", "FileSize, FileHash",
     {{.name = "a.dll", .size = "good", .hash = kGarbageHash.c_str()}},
     "FileHash is " + kGarbageHash + ", the file's SHA-256 is {good}", {}, {}, {}},
    {"SizeAndHashMatch", "FileSize, FileHash",
     {{.name = "a.dll", .size = "good", .hash = "GOOD"}, {.name = "b.dll", .hash = "good"}}, "",
     {"a.dll/1", "b.dll/1"}, {"a.dll", "b.dll"}, {}},
    // The payload as downloaded is checked; the row then describes the
    // expanded file (checked after the run).
    {"PayloadHashMatches", "FileSize, FileHash",
     {{.name = "z.dat", .type = ftCompressed, .size = "good", .hash = "good"}}, "", {"z.dat/1"},
     {"z.dat"}, {}},
    {"HashColumnEmpty", "FileHash", {{.name = "a.dll", .hash = ""}, {.name = "b.dll"}}, "",
     {"a.dll/1", "b.dll/1"}, {"a.dll", "b.dll"}, {}},
    {"NoSizeOrHashColumns", "", {{.name = "a.dll"}}, "", {"a.dll/1"}, {"a.dll"}, {}},
    {"HashThatIsNoHash", "FileHash", {{.name = "a.dll", .hash = "abc"}},
     "The row of a.dll in DownLoadFileLog has FileHash 'abc', which is no SHA-256", {}, {}, {}},
    // The files are in and logged; the version is not, and the message says
    // where. Update.ini already names it (written first).
    {"VersionCannotBeSaved", "", {{.name = "a.dll"}},
     "Cannot record version 2 in CurSoftInfo: ", {"a.dll/1"}, {"a.dll"}, {},
     [](auto& t) {
         t.inst.Exec("DROP TABLE CurSoftInfo;"
                     "CREATE TABLE CurSoftInfo (IsAllUpdate BOOLEAN,"
                     " SoftVer INTEGER CHECK (SoftVer < 2), CurUpdateVer INTEGER);"
                     "INSERT INTO CurSoftInfo VALUES (0, 1, 2)");
     }},
};

TEST_P(DownloadContractTest, LogVersionFilesAndMessage) {
    const ContractCase& c = GetParam();
    const std::string columns = c.columns;
    const bool sizeColumn = columns.find("FileSize") != std::string::npos;
    const bool hashColumn = columns.find("FileHash") != std::string::npos;
    if (sizeColumn) inst.Exec("ALTER TABLE DownLoadFileLog ADD COLUMN FileSize INTEGER");
    if (hashColumn) inst.Exec("ALTER TABLE DownLoadFileLog ADD COLUMN FileHash TEXT");

    std::map<std::string, std::string> want;  // installed files after the run
    int aid = 0;
    for (const Row& r : c.rows) {
        if (r.downloaded) inst.Put("update/" + std::string(r.name), Download(r));
        if (r.installed) {
            inst.Put(Target(r), std::string("old ") + r.name);
            want[Target(r)] = std::string("old ") + r.name;
        }
        std::string names = "AID, SoftID, FileName, FileVer, FileType, IsClient, UpdatePath";
        std::string values = std::to_string(++aid) + ", 1, '" + r.name + "', 1, " +
                             (r.type ? std::to_string(*r.type) : "NULL") + ", 1, '" +
                             r.updatePath + "'";
        const auto optional = [&](bool present, const char* column, const char* value,
                                  const std::string& good, bool quoted) {
            if (!present) return;
            names += std::string(", ") + column;
            std::string v = value == nullptr ? "NULL" : value;
            if (v == "good") v = good;
            if (v == "GOOD") v = text::UpperAscii(good);
            values += ", " + (value != nullptr && quoted ? "'" + v + "'" : v);
        };
        optional(sizeColumn, "FileSize", r.size, std::to_string(Download(r).size()), false);
        optional(hashColumn, "FileHash", r.hash, Sha(Download(r)), true);
        inst.Exec("INSERT INTO DownLoadFileLog (" + names + ") VALUES (" + values + ")");
    }
    if (c.arrange) c.arrange(*this);
    const std::string ini = inst.Read("Update.ini");

    const std::string failure = RunFailure();
    if (c.message.empty()) {
        EXPECT_EQ(failure, "");
    } else {
        std::string message = c.message;
        for (const auto& [token, value] :
             {std::pair{std::string("{update}"), P("update/")},
              {std::string("{good}"), Sha(Download(c.rows.front()))}}) {
            if (const auto at = message.find(token); at != std::string::npos) {
                message.replace(at, token.size(), value);
            }
        }
        EXPECT_NE(failure.find(message), std::string::npos) << failure;
    }

    EXPECT_EQ(Logged(), c.logged);
    const bool complete = c.message.empty();
    EXPECT_EQ(SoftInfo(), (complete ? SqlRows{{"1", "2", "2"}} : SqlRows{{"0", "1", "2"}}));
    // Update.ini is written once every row is in, before CurSoftInfo.
    if (complete || c.logged.size() == c.rows.size()) {
        EXPECT_EQ(SettingsFile(P("Update.ini")).ReadSetting("Update", "CurVer", ""), "2");
    } else {
        EXPECT_EQ(inst.Read("Update.ini"), ini);
    }

    for (const Row& r : c.rows) {
        for (const std::string& replaced : c.replaced) {
            if (replaced == Target(r)) want[replaced] = Content(r);
        }
    }
    // A failed run that logged nothing was refused before the walk, which
    // creates no folder: the backup folder shows whether a row was worked on.
    const bool refused = !complete && c.logged.empty();
    auto files = inst.Files();
    std::map<std::string, std::string> installed;
    bool backup = false;
    for (const auto& [name, bytes] : files) {
        if (name.starts_with("bak/")) backup = true;
        if (name.starts_with("update/") || name == "Update.ini" || name.ends_with("/")) continue;
        installed[name] = bytes;
    }
    EXPECT_EQ(installed, want);
    EXPECT_EQ(backup, !refused);

    Calls actions;
    for (const std::string& a : c.actions) {
        const std::string file = a.substr(a.find(' ') + 1);
        actions.push_back(a.starts_with("run ") ? RunEntry(P(file), 1)
                                                : "RegisterServerLibrary " + P(file));
    }
    if (complete) actions.push_back(RunEntry(P("Main.exe"), 5));
    EXPECT_EQ(sys.Actions(), actions);

    if (std::string(c.name) == "PayloadHashMatches") {
        const std::string expanded = Content(c.rows.front());
        EXPECT_EQ(inst.Query("SELECT FileType, FileSize, FileHash FROM DownLoadFileLog"),
                  (SqlRows{{"0", std::to_string(expanded.size()), Sha(expanded)}}));
    }

    if (c.remedy) {
        c.remedy(*this);
        sys.onSleep = nullptr;
        EXPECT_EQ(RunFailure(), "");
        EXPECT_EQ(Logged().size(), c.rows.size());
        EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}}));
    }
}

INSTANTIATE_TEST_SUITE_P(, DownloadContractTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ue::test
