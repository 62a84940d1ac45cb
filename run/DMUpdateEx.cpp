#include "run/DMUpdateEx.h"

#include <map>
#include <set>
#include <string_view>

#include "core/Digest.h"
#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/MessageTable.h"
#include "core/Text.h"
#include "records/TableContract.h"
#include "sysops/Compression.h"
#include "sysops/FilePrimitives.h"
#include "sysops/InstanceLock.h"
#include "sysops/Platform.h"
#include "sysops/ProcessControl.h"
#include "sysops/Shutdown.h"

namespace ue {

namespace {

constexpr unsigned kRowPauseMs = 100;
constexpr unsigned kExpandPauseMs = 100;
constexpr unsigned kRefreshPauseMs = 100;
constexpr unsigned kEndPauseMs = 10;
constexpr int kMaxInUseRetries = 3;
// Walks over DownLoadFileLog while the downloader keeps changing it.
constexpr int kMaxWalks = 3;

// The update folder's name in the installation folder.
constexpr char kUpdateFolder[] = "update";

bool IsBusy(const std::error_code& ec) { return ec == std::errc::device_or_resource_busy; }

// Optional columns of DownLoadFileLog: what the downloaded file must be (for
// a payload, as downloaded). A table without them, or an empty value, asks
// for no check.
constexpr char kFileSize[] = "FileSize";
constexpr char kFileHash[] = "FileHash";

bool HasColumn(const TableCursor& table, std::string_view name) {
    for (const ColumnInfo& column : table.Columns()) {
        if (text::EqualsNoCaseAscii(column.name, name)) return true;
    }
    return false;
}

// The current row's value of an optional column as text, blanks around it
// dropped; empty when the table lacks the column or the value is empty.
std::string OptionalText(const TableCursor& table, const char* column) {
    if (!HasColumn(table, column)) return {};
    return std::string(text::Trim(table.GetValue(column).ToDisplayText()));
}

// How the run names a row of DownLoadFileLog in a message: its place in the
// table, and its AID when it has one.
std::string RowName(const TableCursor& table) {
    const std::string row = std::to_string(table.CurrentRow() + 1);
    const std::string aid = table.GetValue("AID").ToDisplayText();
    return aid.empty() ? Message(MessageId::RowNumber, {row}) : Message(MessageId::RowNumberAid, {row, aid});
}

std::string TriedAgain() { return Message(MessageId::TriedAgain); }

}  // namespace

std::string FirstInUseMessage(const std::string& target) {
    return "需要升级替换的程序" + target + "正在运行,升级程序将尝试停止该程序。" + "\r\n" +
           "如有数据未保持，请手动关闭该程序然后点继续升级!";
}

std::string SecondInUseMessage(const std::string& target) {
    return "需要更新的程序" + target + "正在运行," + "\r\n" +
           "升级程序无法中止该程序,请手动关闭该程序,点[继续]完成文件升级替换!";
}


TDM_Update::TDM_Update(System& system, std::string exeDir)
    : system_(system),
      exeDir_(std::move(exeDir)),
      pieces_([this](std::uint64_t done, std::uint64_t total) { ShowProgress(done, total); }) {}

TDM_Update::~TDM_Update() = default;

void TDM_Update::DataModuleCreate() {
    std::string dir = exeDir_.empty() ? std::string(".") : exeDir_;
    if (dir.back() != PathSeparator()) dir += PathSeparator();

    IniFile = std::make_unique<SettingsFile>(dir + "Update.ini");
    UpdateDir = dir + kUpdateFolder;
    BaseDir = dir;
    if (const std::error_code ec = fileio::Root::Open(BaseDir, root_)) {
        ThrowFailure(Message(MessageId::CannotOpenInstallation), BaseDir, ec);
    }
    temporaries_ = std::make_unique<Temporaries>(BaseDir, kUpdateFolder, &root_);
    // An update folder that leads outside is refused by the run, and nothing
    // is created through it.
    (void)root_.CreateFolders(UpdateDir);
    ADOCDB.Close();
    ADOCDB.ConnectionString = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + BaseDir +
                              "UpdateFile.mdb;Persist Security Info=False";
    ADOCDB.DataSource = BaseDir + "UpdateFile.mdb";
    ADOCDB.Open();
    ExeFile = IniFile->ReadSetting("Update", "ExeFile", "");
    ExeFile2 = IniFile->ReadSetting("Update", "ExeFile2", "");
    CurSoftInfo.OpenTable();
    DownLoadFileLog.OpenTable();
    UpdateFileLog.OpenTable();
    // A table the run could not write its rows to is refused before any
    // file is touched; closed, so that the run cannot start on it either.
    try {
        for (TableCursor* table : {&CurSoftInfo, &DownLoadFileLog, &UpdateFileLog}) {
            CheckTableContract(*table);
        }
    } catch (...) {
        for (TableCursor* table : {&CurSoftInfo, &DownLoadFileLog, &UpdateFileLog}) {
            table->CloseTable();
        }
        throw;
    }
}

void TDM_Update::DataModuleDestroy() { IniFile.reset(); }

void TDM_Update::RunUpdate() {
    using Outcome = RunEvent::Outcome;
    runEnd_ = RunEnd{};
    try {
        RunAndRecordVersion();
    } catch (const SilentAbort&) {
        runEnd_ = RunEnd{Outcome::Stopped, {}};
        throw;
    } catch (const std::exception& e) {
        runEnd_ = RunEnd{Outcome::Failed, e.what()};
        throw;
    } catch (...) {
        runEnd_ = RunEnd{Outcome::Failed, Message(MessageId::UnknownException)};
        throw;
    }
}

void TDM_Update::RunAndRecordVersion() {
    UpdateFileLog.Reopen();
    // Versions that cannot be read are not reported: the run raises below,
    // as it does without a report.
    if (report_ != nullptr) {
        RunEvent event;
        event.kind = RunEvent::Kind::Version;
        try {
            event.versionFrom = CurSoftInfo.GetInt("SoftVer");
            event.versionTo = CurSoftInfo.GetInt("CurUpdateVer");
            report_->Report(event);
        } catch (const Error&) {
        }
    }
    if (CurSoftInfo.GetBool("IsAllUpdate") &&
        CurSoftInfo.GetInt("SoftVer") == CurSoftInfo.GetInt("CurUpdateVer")) {
        return;
    }

    RefuseUnsafeRows();
    CheckMainProgramPaths();
    // The version is recorded in Update.ini at the end: found out now, not
    // after every file was replaced. Written through a link only when the
    // link's target lies inside the installation.
    RequireInside(IniFile->Path(), Message(MessageId::RoleSettingsFile));
    IniFile->CheckWritable();

    // What a run ended early left behind goes before anything new is made.
    ClearLeftovers();
    // What Forget struck off is written however the run ends.
    struct Settle {
        Temporaries& temporaries;
        ~Settle() { temporaries.Settle(); }
    } settle{*temporaries_};

    // The version recorded is the one read before a walk that then saw the
    // downloader change nothing: the rows it adds or the version it raises
    // meanwhile are walked again, a bounded number of times. A version whose
    // rows were not all walked is recorded with IsAllUpdate false, so that
    // the next start walks again.
    int restartFlag = 0;
    bool complete = false;
    for (int walk = 1; walk <= kMaxWalks && !complete; ++walk) {
        CurSoftInfo.Reopen();
        CurVer = CurSoftInfo.GetInt("CurUpdateVer");
        const std::vector<std::string> walked = DownloadKeys();
        progress_ = FileProgress{};
        progress_.count = CountRowsToApply();
        DownLoadFileLog.GoFirst();
        while (!DownLoadFileLog.AtEnd()) {
            if (ForThisClient() && !IsAppliedRow()) {
                ++progress_.index;
                if (UpdateOneFile() == RestartNeeded) restartFlag = RestartNeeded;
            }
            DownLoadFileLog.GoNext();
        }
        CurSoftInfo.Reopen();
        DownLoadFileLog.Reopen();
        complete = CurSoftInfo.GetInt("CurUpdateVer") == CurVer && DownloadKeys() == walked;
        if (!complete && walk < kMaxWalks) RefuseUnsafeRows();
    }

    // The main program is refreshed and the settings are written before the
    // version is saved: once CurSoftInfo says the version is reached the next
    // start does nothing, so a run that ends before this point must leave
    // the rest to be done again.
    if (restartFlag != RestartNeeded) RefreshMainProgram();
    IniFile->WriteSetting("Update", "CurVer", std::to_string(CurVer));
    IniFile->WriteSetting("Update", "UpdateTime", system_.TodayText());
    // The last temporary is gone; once the version is saved the next start
    // does nothing, so the journal goes first.
    temporaries_->Settle();

    try {
        CurSoftInfo.BeginEdit();
        CurSoftInfo.SetInt("SoftVer", CurVer);
        CurSoftInfo.SetBool("IsAllUpdate", complete);
        CurSoftInfo.SaveRow();
    } catch (const Error& e) {
        try {
            CurSoftInfo.DiscardRow();
        } catch (const Error&) {
        }
        // The files are in and logged; the next start walks (finding nothing
        // to apply) and records the version again.
        throw Error(Message(MessageId::CannotRecordVersion, {std::to_string(CurVer), e.what()}));
    }

    system_.Sleep(kEndPauseMs);

    if (restartFlag == RestartNeeded) {
        runEnd_ = RunEnd{RunEvent::Outcome::RestartNeeded, {}};
        if (ui_ != nullptr && ui_->AskRestart()) system_.ShutdownWindows(kShutdownRestart);
        return;
    }
    if (!ExeFile.empty()) system_.RunProgram(BaseDir + ExeFile, false, "", kShow);
}

// How many rows the walk applies ("3 / 6" counts among them): a pair that
// stands twice is applied once, the second row finding it logged. The rows
// were checked readable before the walk.
int TDM_Update::CountRowsToApply() {
    std::set<std::pair<std::string, std::int32_t>> pairs;
    for (DownLoadFileLog.GoFirst(); !DownLoadFileLog.AtEnd(); DownLoadFileLog.GoNext()) {
        if (ForThisClient() && !IsAppliedRow()) {
            RowKey key = KeyOfRow();
            pairs.emplace(std::move(key.fileName), key.fileVer);
        }
    }
    return static_cast<int>(pairs.size());
}

void TDM_Update::ShowProgress(std::uint64_t done, std::uint64_t total) {
    progress_.done = done;
    progress_.total = total;
    if (ui_ != nullptr) ui_->ShowProgress(progress_);
}

// What a walk covers: each row's FileName and FileVer, in table order.
std::vector<std::string> TDM_Update::DownloadKeys() {
    std::vector<std::string> keys;
    keys.reserve(DownLoadFileLog.RowCount());
    for (DownLoadFileLog.GoFirst(); !DownLoadFileLog.AtEnd(); DownLoadFileLog.GoNext()) {
        keys.push_back(DownLoadFileLog.GetText("FileName") + '\0' +
                       DownLoadFileLog.GetText("FileVer"));
    }
    return keys;
}

// Whether the current row is for this installation (IsClient). A value that
// is no boolean raises, naming the row.
bool TDM_Update::ForThisClient() const {
    try {
        return DownLoadFileLog.GetBool("IsClient");
    } catch (const Error&) {
        throw Error(Message(MessageId::IsClientNotBoolean,
                            {DownLoadFileLog.GetText("IsClient"), DownLoadFileLog.GetText("FileName")}) +
                    Message(MessageId::RowCorrectedFirst));
    }
}

// The key of the current row. A FileVer that is no 32-bit integer (out of
// range, a fraction, text that is no number) names no version: the run
// could neither find the row in the log nor log it so that it is found
// again. Null is refused too: found as a null in the log, it would hide
// every later row of that name with a null version; never found, it would be
// applied again at every version. Blanks around a number are no part of it.
TDM_Update::RowKey TDM_Update::KeyOfRow() const {
    RowKey key{DownLoadFileLog.GetText("FileName")};
    const std::string refused = Message(MessageId::RowCorrectedFirst);
    if (DownLoadFileLog.GetValue("FileVer").IsNull()) {
        throw Error(Message(MessageId::FileVerEmpty, {key.fileName}) + refused);
    }
    try {
        key.fileVer = DownLoadFileLog.GetInt("FileVer");
    } catch (const Error&) {
        throw Error(Message(MessageId::FileVerNotInteger, {DownLoadFileLog.GetText("FileVer"), key.fileName}) +
                    refused);
    }
    return key;
}

bool TDM_Update::IsAppliedRow() {
    RowKey key = KeyOfRow();
    return UpdateFileLog.FindRow("FileName;FileVer", {FieldValue::Text(std::move(key.fileName)),
                                                      FieldValue::Int(key.fileVer)});
}

// Before any file is touched, refuses the run when a row that would be
// applied cannot be read (IsClient, the key), or names a place outside the
// installation, in its text or through a symbolic link, or one of UpdateExe's
// own records. The folders every row shares are checked once.
//
// Two such rows with the same FileName and FileVer but different target
// folders are refused too: update/ holds one file of that name and the log
// records one of the two, so the second would be skipped and its target
// left old while the version is raised.
void TDM_Update::RefuseUnsafeRows() {
    RequireInside(UpdateDir, Message(MessageId::RoleUpdateFolder));
    RequireInside(PathsOf("", "").backupDir, Message(MessageId::RoleBackupFolder));
    const std::vector<OwnRecord> own = OwnRecords();
    struct FirstRow {
        std::string targetDir;
        std::string name;
    };
    std::map<std::pair<std::string, std::int32_t>, FirstRow> targets;
    for (DownLoadFileLog.GoFirst(); !DownLoadFileLog.AtEnd(); DownLoadFileLog.GoNext()) {
        if (!ForThisClient() || IsAppliedRow()) continue;
        const RowKey key = KeyOfRow();
        const std::string& fileName = key.fileName;
        const std::string updatePath = DownLoadFileLog.GetText("UpdatePath");
        CheckDownloadedPaths(fileName, updatePath);
        const RowPaths paths = PathsOf(fileName, updatePath);
        const auto [first, added] =
            targets.try_emplace({fileName, key.fileVer}, FirstRow{paths.targetDir, {}});
        if (added) {
            first->second.name = RowName(DownLoadFileLog);
        } else if (first->second.targetDir != paths.targetDir) {
            const std::string fileVer = std::to_string(key.fileVer);
            throw Error(Message(MessageId::TwoRowsTwoFolders,
                                {fileName, fileVer, first->second.name, first->second.targetDir,
                                 RowName(DownLoadFileLog), paths.targetDir}));
        }
        CheckRowFiles(paths, fileName, FileTypeIs(ftCompressed), own);
        RequireRowDownload(paths, fileName);
    }
}

// The database (with the files SQLite and Jet keep beside it while it is
// open), Update.ini, the installation's lock and the journal of temporaries,
// as they exist now: each by the name itself and, where that is a link, by
// the file it leads to.
std::vector<TDM_Update::OwnRecord> TDM_Update::OwnRecords() const {
    const std::string& database = ADOCDB.DataSource;
    const std::pair<MessageId, std::string> files[] = {
        {MessageId::OwnDatabase, database},
        {MessageId::OwnDatabaseJournal, database + "-journal"},
        {MessageId::OwnDatabaseJournal, database + "-wal"},
        {MessageId::OwnDatabaseSharedMemory, database + "-shm"},
        {MessageId::OwnDatabaseLock, BaseDir + "UpdateFile.ldb"},
        {MessageId::OwnSettingsFile, IniFile ? IniFile->Path() : BaseDir + "Update.ini"},
        {MessageId::OwnInstallationLock, BaseDir + kInstanceLockName},
        {MessageId::OwnTemporariesJournal, BaseDir + kTemporariesJournal},
    };
    std::vector<OwnRecord> own;
    for (const auto& [role, path] : files) {
        for (const fileio::LastLink last : {fileio::LastLink::Stay, fileio::LastLink::Follow}) {
            fileio::FileIdentity identity;
            bool found = false;
            if (!fileio::IdentityOf(path, last, identity, found) && found) {
                own.push_back({Message(role), path, identity});
            }
        }
    }
    return own;
}

// Raises when `path` is one of UpdateExe's own records under whatever name
// (a short alias, another letter case, a hard link): replaced, the records
// would be lost. A name that cannot be looked at is left to the operation.
void TDM_Update::RequireNotOwnRecord(const std::string& path, const std::string& what,
                                     const std::vector<OwnRecord>& own) const {
    fileio::FileIdentity identity;
    bool found = false;
    if (fileio::IdentityOf(path, fileio::LastLink::Stay, identity, found) || !found) return;
    for (const OwnRecord& record : own) {
        if (record.identity == identity) {
            throw Error(Message(MessageId::OwnRecord, {what, path, record.role, record.path}));
        }
    }
}

TDM_Update::RowPaths TDM_Update::PathsOf(const std::string& fileName,
                                         const std::string& updatePath) const {
    const char sep = PathSeparator();
    RowPaths paths;
    paths.source = UpdateDir + sep + fileName;
    paths.targetDir = BaseDir + NativeRelativePath(updatePath);
    if (!paths.targetDir.empty() && paths.targetDir.back() == sep) paths.targetDir.pop_back();
    paths.target = paths.targetDir + sep + fileName;
    paths.backupDir = BaseDir + "bak" + sep + "V" + std::to_string(BackupNo);
    return paths;
}

// Raises when a symbolic link on the way leads `path` outside the
// installation. A path that cannot be resolved for another reason (a folder
// we may not search, a file where a folder is needed) is left to the
// operation, which fails on the same part and says why.
void TDM_Update::RequireInside(const std::string& path, const std::string& role) const {
    if (CheckBeneath(BaseDir, path) == std::errc::cross_device_link) {
        throw Error(Message(MessageId::LeadsOutsideInstallation, {role, path, BaseDir}));
    }
}

// A file the downloader left is taken only as a regular file of its own: a
// link could hand us any file that the run may read. Its folder is checked
// by the caller.
void TDM_Update::RequireDownloadedFile(const std::string& path) const {
    const std::error_code ec = CheckDownloadedFile(path);
    if (ec == std::errc::too_many_symbolic_link_levels) {
        throw Error(Message(MessageId::DownloadIsLink, {path}));
    }
    if (ec == std::errc::invalid_argument) {
        throw Error(Message(MessageId::DownloadNotRegular, {path}));
    }
}

// The source (and for a payload the kept download) is read, the target
// folder created and written into; the update and backup folders are checked
// by the caller. The target itself is replaced by a rename, never written
// through, so a target that is a link becomes a regular file: only its
// folder counts.
void TDM_Update::CheckRowFiles(const RowPaths& paths, const std::string& fileName,
                               bool compressed, const std::vector<OwnRecord>& own) const {
    // An empty FileName names the update folder itself: no file is taken.
    if (!fileName.empty()) {
        RequireDownloadedFile(paths.source);
        if (compressed) RequireDownloadedFile(paths.source + kKeptPayloadSuffix);
    }
    RequireInside(paths.targetDir, Message(MessageId::RoleFolderOf, {fileName}));
    RequireNotOwnRecord(paths.target, Message(MessageId::TargetOf, {fileName}), own);
}

// What the current row's FileType needs of its files; true when its download
// is there (and, where the row says so, whole). A replacement (FileType 0 or
// 5) without its download is never recorded as applied: the run ends naming
// the file, and the next start tries again. A program or a library (1, 2)
// without a download starts or registers the installed copy, which then must
// exist. Other types need no file.
bool TDM_Update::RequireRowDownload(const RowPaths& paths, const std::string& fileName) {
    const bool replaces = FileTypeIs(ftReplace) || FileTypeIs(ftCompressed);
    if (!replaces && !FileTypeIs(ftRun) && !FileTypeIs(ftRegister)) return false;
    // An empty FileName names the update folder itself: there is no download.
    // What is there is a regular file (CheckRowFiles refused anything else).
    fileio::Status status;
    if (!fileName.empty()) {
        if (const std::error_code ec = fileio::StatusOf(paths.source, status)) {
            ThrowFailure(Message(MessageId::CannotLookAtDownload, {fileName}), paths.source, ec);
        }
    }
    if (status.kind != fileio::Kind::Missing) {
        const std::string kept = paths.source + kKeptPayloadSuffix;
        // A payload an earlier run began to expand is expanded again from the
        // download kept beside it: that is the file as downloaded.
        const bool fromKept =
            FileTypeIs(ftCompressed) &&
            temporaries_->Look(kept, Message(MessageId::CannotLookForKept)) == Temporaries::Found::Ours;
        VerifyDownload(fileName, fromKept ? kept : paths.source);
        return true;
    }
    if (fileName.empty()) {
        throw Error(Message(MessageId::NoFileName, {RowName(DownLoadFileLog)}) + TriedAgain());
    }
    if (replaces) {
        throw Error(Message(MessageId::DownloadMissing, {fileName, paths.source}) + TriedAgain());
    }
    if (!IsFilePresent(paths.target)) {
        throw Error(Message(MessageId::NeitherDownloadNorInstalled, {fileName, paths.source, paths.target}) +
                    TriedAgain());
    }
    return false;
}

// Checks `file`, the download of the current row, against the row's
// optional FileSize and FileHash (SHA-256 in hex, any letter case). A value
// that is no size or no hash, or a file that differs, ends the run before
// anything is done for the row.
void TDM_Update::VerifyDownload(const std::string& fileName, const std::string& file) {
    const std::string size = OptionalText(DownLoadFileLog, kFileSize);
    std::string hash = OptionalText(DownLoadFileLog, kFileHash);
    if (size.empty() && hash.empty()) return;
    if (!size.empty()) {
        std::int64_t wanted = 0;
        if (!ParseInteger(size, wanted) || wanted < 0) {
            throw Error(Message(MessageId::FileSizeInvalid, {fileName, size}));
        }
        fileio::Status status;
        if (const std::error_code ec = fileio::StatusOf(file, status)) {
            ThrowFailure(Message(MessageId::CannotLookAtDownload, {fileName}), file, ec);
        }
        if (status.size != static_cast<std::uint64_t>(wanted)) {
            throw Error(Message(MessageId::FileSizeDiffers, {file, fileName, size, std::to_string(status.size)}) +
                        TriedAgain());
        }
    }
    if (!hash.empty()) {
        hash = text::LowerAscii(hash);
        if (hash.size() != digest::kSha256HexLength ||
            hash.find_first_not_of("0123456789abcdef") != std::string::npos) {
            throw Error(Message(MessageId::FileHashInvalid, {fileName, OptionalText(DownLoadFileLog, kFileHash)}));
        }
        std::string actual;
        if (const std::error_code ec = digest::Sha256OfFile(file, actual)) {
            ThrowFailure(Message(MessageId::CannotReadDownload, {fileName}), file, ec);
        }
        if (actual != hash) {
            throw Error(Message(MessageId::FileHashDiffers,
                                {file, fileName, OptionalText(DownLoadFileLog, kFileHash), actual}) +
                        TriedAgain());
        }
    }
}

// The refresh reads the update copy of the main program and copies it over
// the installed one, which is then started.
void TDM_Update::CheckMainProgramPaths() const {
    for (const auto& [key, name] : {std::pair{"ExeFile", &ExeFile}, {"ExeFile2", &ExeFile2}}) {
        CheckProgramName(key, *name);
    }
    if (ExeFile.empty()) return;
    RequireInside(UpdateDir, Message(MessageId::RoleUpdateFolder));
    const std::string updateCopy = UpdateDir + PathSeparator() + ExeFile;
    RequireDownloadedFile(updateCopy);
    RequireInside(updateCopy, Message(MessageId::RoleDownloadedFile));
    std::string folder = BaseDir;
    for (std::size_t i = ExeFile.size(); i > 0; --i) {
        if (IsSeparator(ExeFile[i - 1])) {
            folder += NativeRelativePath(ExeFile.substr(0, i - 1));
            break;
        }
    }
    RequireInside(folder, Message(MessageId::RoleFolderOf, {"ExeFile"}));
    RequireNotOwnRecord(BaseDir + ExeFile, "Update.ini: ExeFile '" + ExeFile + "'", OwnRecords());
}

// Removes what a run ended early left behind. A kept download stays while a
// row still has FileType 5 for it: it is the row's way back to the download.
// Nothing is removed through a folder that leads outside the installation:
// the journal's names are resolved beneath it.
void TDM_Update::ClearLeftovers() {
    const std::string updateFolder = std::string(kUpdateFolder) + PathSeparator();
    std::set<std::string> recoveryCopies;
    bool unreadable = false;
    for (DownLoadFileLog.GoFirst(); !DownLoadFileLog.AtEnd(); DownLoadFileLog.GoNext()) {
        try {
            if (FileTypeIs(ftCompressed)) {
                recoveryCopies.insert(updateFolder + DownLoadFileLog.GetText("FileName") +
                                      kKeptPayloadSuffix);
            }
        } catch (const Error&) {
            unreadable = true;  // its FileName is unknown: every kept download stays
        }
    }
    temporaries_->ClearLeftovers([&](const std::string& relative) {
        const std::string_view suffix = kKeptPayloadSuffix;
        const bool kept = relative.size() >= suffix.size() &&
                          relative.compare(relative.size() - suffix.size(), suffix.size(), suffix) == 0;
        return kept && (unreadable || recoveryCopies.count(relative) != 0);
    });
}

bool TDM_Update::FileTypeIs(int code) const {
    return DownLoadFileLog.GetValue("FileType").EqualsNumber(code);
}

// The dialog names who holds the target, where the system can tell.
void TDM_Update::ShowFileInUse(const std::string& message, const std::string& target) {
    if (ui_ != nullptr) ui_->ShowFileInUseDialog(message, system_.ProgramsHoldingFile(target));
}

void TDM_Update::ReportFile(const std::string& file, RunEvent::Fate fate, const std::string& reason) {
    if (report_ == nullptr) return;
    RunEvent event;
    event.kind = RunEvent::Kind::File;
    event.file = file;
    event.fate = fate;
    event.reason = reason;
    report_->Report(event);
}

// Reports the row's fate, by its target once that is known, else by its
// FileName.
int TDM_Update::UpdateOneFile() {
    using Fate = RunEvent::Fate;
    if (!ForThisClient()) return 0;
    std::string file = DownLoadFileLog.GetText("FileName");
    try {
        const bool asksForFile = FileTypeIs(ftReplace) || FileTypeIs(ftRun) ||
                                 FileTypeIs(ftRegister) || FileTypeIs(ftCompressed);
        const std::string type = DownLoadFileLog.GetText("FileType");
        const int result = ApplyRow(file);
        if (result == RestartNeeded) {
            // Who still holds it tells the administrator what to close.
            std::string holders;
            for (const RunningProgram& program : system_.ProgramsHoldingFile(file)) {
                holders += (holders.empty() ? " by " : ", ") + DescribeProgram(program);
            }
            std::string reason = "in use" + holders + "; it is replaced at the next restart";
            // The administrator hears it when nothing will carry that out.
            if (const std::string warning = system_.RestartReplacementWarning(); !warning.empty()) {
                reason += ". " + warning;
            }
            ReportFile(file, Fate::Queued, reason);
        } else if (!asksForFile) {
            ReportFile(file, Fate::LeftAlone, "FileType " + type + " asks for nothing to be done");
        } else {
            ReportFile(file, Fate::Applied, {});
        }
        return result;
    } catch (const SilentAbort&) {
        ReportFile(file, Fate::LeftAlone, "the user stopped the update");
        throw;
    } catch (const std::exception& e) {
        ReportFile(file, Fate::Failed, e.what());
        throw;
    }
}

int TDM_Update::ApplyRow(std::string& file) {
    int result = 0;
    int retries = 0;

    const RowKey key = KeyOfRow();
    const std::string& fileName = key.fileName;
    const std::string updatePath = DownLoadFileLog.GetText("UpdatePath");
    CheckDownloadedPaths(fileName, updatePath);
    const RowPaths paths = PathsOf(fileName, updatePath);
    file = paths.target;
    RequireInside(UpdateDir, Message(MessageId::RoleUpdateFolder));
    RequireInside(paths.backupDir, Message(MessageId::RoleBackupFolder));
    CheckRowFiles(paths, fileName, FileTypeIs(ftCompressed), OwnRecords());
    // Looked at again at the row's turn: a download removed since the check
    // before the walk is never recorded as applied either.
    const bool downloaded = RequireRowDownload(paths, fileName);
    const TableCursor::FieldValues logRow = LogRowOf(key, paths.backupDir);
    TryLogRow(logRow, key);
    const std::string& source = paths.source;
    const std::string& target = paths.target;
    progress_.file = fileName;
    ShowProgress(0, 0);

    // Made beneath the installation: a folder swapped for a link since the
    // checks above leads nowhere outside, and the run says which.
    for (const auto& [dir, role] : {std::pair{paths.targetDir, Message(MessageId::RoleFolderOf, {fileName})},
                                    {paths.backupDir, Message(MessageId::RoleBackupFolder)}}) {
        if (const std::error_code ec = root_.CreateFolders(dir)) {
            if (ec == std::errc::cross_device_link) RequireInside(dir, role);
            ThrowFailure(Message(MessageId::CannotCreateFolderOf, {fileName}), dir, ec);
        }
    }

    // A program's file held by its running program takes the same road as any
    // other held file: the dialog, its programs stopped, the retries, the
    // restart. It is never an error that ends the run. Without a download
    // (a program started as installed) nothing is replaced, so nothing waits
    // for the file.
    const auto replacesNow = [this, downloaded] {
        return downloaded && (FileTypeIs(ftReplace) || FileTypeIs(ftRun));
    };
    if (replacesNow() && HeldOpen(target)) {
        ShowFileInUse(FirstInUseMessage(target), target);
        if (!ExeFile.empty()) system_.KillProcessByName(ExeFile, BaseDir);
        if (!ExeFile2.empty()) system_.KillProcessByName(ExeFile2, BaseDir);
        if (HasExeExtension(fileName)) system_.KillProcessByName(fileName, BaseDir);
    }

    system_.Sleep(kRowPauseMs);

    // FileType is read again at each step on purpose: expanding a payload saves
    // FileType 0, so a type-5 row goes on below as a replacement (no switch).
    // A payload is there (RequireRowDownload): one gone since fails to expand.
    if (FileTypeIs(ftCompressed)) {
        ExpandPayload(source);
        system_.Sleep(kExpandPauseMs);
    }

    // Retry loop and replacement. The copy tests the target itself at the
    // moment it replaces it, so it is the in-use test of each attempt; a
    // download gone meanwhile fails to copy and ends the run.
    for (;;) {
        if (!replacesNow()) break;
        if (CopyUnlessHeld(source, target)) break;
        ShowFileInUse(SecondInUseMessage(target), target);
        // A queued file is replaced at the restart; it is not copied now.
        if (++retries >= kMaxInUseRetries) {
            QueueAtRestart(source, target);
            result = RestartNeeded;
            break;
        }
    }

    // Copied above; a program queued for the restart is still running.
    if (FileTypeIs(ftRun) && result != RestartNeeded) {
        system_.RunProgram(target, false, "", kShowNormal);
    }

    if (FileTypeIs(ftRegister)) {
        // Without a download the installed copy is registered as it is,
        // whoever holds it: nothing would be replaced at a restart.
        const bool held = downloaded && !CopyUnlessHeld(source, target);
        if (held) {
            QueueAtRestart(source, target);
            result = RestartNeeded;
        } else {
            try {
                system_.RegisterServerLibrary(target);
            } catch (const std::exception&) {
                // A library that does not register is still logged as applied.
            }
        }
    }

    WriteLogRow(logRow, key);
    return result;
}

namespace {

[[noreturn]] void ThrowInTheWay(const std::string& download, const std::string& path) {
    throw Error(Message(MessageId::ExpansionInTheWay, {download, path}));
}

}  // namespace

// Expands the payload in place and saves FileType 0. The downloaded form is
// kept beside it until the save, so that a run ended in between (or a failed
// expansion or save) never leaves plain content under FileType 5. Neither
// the kept file nor the expansion's temporary may take the place of a file
// the run did not create: such a file ends the run before anything is
// touched.
void TDM_Update::ExpandPayload(const std::string& source) {
    using Found = Temporaries::Found;
    Temporaries& ours = *temporaries_;
    const std::string kept = source + kKeptPayloadSuffix;
    const std::string temporary = ExpansionTemporary(source);
    const Found keptFound = ours.Look(kept, Message(MessageId::CannotKeepBesideAs));
    const Found temporaryFound = ours.Look(temporary, Message(MessageId::CannotExpandInto));
    if (keptFound == Found::Foreign) ThrowInTheWay(source, kept);
    if (temporaryFound == Found::Foreign) ThrowInTheWay(source, temporary);
    ours.Record({kept, temporary});

    if (keptFound == Found::Ours) {
        // An earlier run ended before saving FileType 0: start from the download.
        if (const std::error_code ec = CopyThroughJournal(kept, source)) {
            NameSwappedLink(kept, source, ec);
            ThrowFailure(Message(MessageId::CannotRestoreDownload, {kept}), source, ec);
        }
    } else {
        KeepDownload(source, kept);
    }

    try {
        const LeftTemporary left =
            temporaryFound == Found::Ours ? LeftTemporary::Replace : LeftTemporary::Refuse;
        try {
            ExpandCompressedFile(source, left, &root_, pieces_);
            ShowProgress(0, 0);
        } catch (const OSError& e) {
            // The expansion's code is the errno value, or (on Windows too)
            // the generic one that the root gives for what leads outside.
            const std::error_code why(static_cast<int>(e.Code()), std::generic_category());
            NameSwappedLink(source, source, why);
            throw;
        }
        DownLoadFileLog.BeginEdit();
        DownLoadFileLog.SetValue("FileType", FieldValue::Int(ftReplace));
        DescribeExpandedDownload(source);
        DownLoadFileLog.FinishEdit();
    } catch (...) {
        try {
            DownLoadFileLog.DiscardRow();
        } catch (const std::exception&) {
        }
        // Back to the download, whatever the failure left; should that
        // fail, the kept file stays and the next run starts from it.
        if (!CopyThroughJournal(kept, source)) RemoveBeneath(kept);
        ours.Forget({kept, temporary});
        throw;
    }
    RemoveBeneath(kept);
    ours.Forget({kept, temporary});
}

// Keeps the download beside itself as `kept`. A second name costs nothing
// where hard links exist (the expansion replaces the download by a rename,
// so the kept name still holds it); elsewhere the download is copied. Both
// are made in the folder as found beneath the installation now.
void TDM_Update::KeepDownload(const std::string& source, const std::string& kept) {
    fileio::Place download;
    std::error_code ec = root_.Locate(source, download);
    if (!ec) ec = download.Link(download.Name() + kKeptPayloadSuffix);
    if (ec && (ec = CopyThroughJournal(source, kept))) {
        NameSwappedLink(source, kept, ec);
        ThrowFailure(Message(MessageId::CannotKeepDownload, {source}), kept, ec);
    }
}

// Removes the file or link at `path` beneath the installation, never through
// a folder that leads outside; what stays, the journal names for the next run.
void TDM_Update::RemoveBeneath(const std::string& path) const {
    fileio::Place place;
    if (!root_.Locate(path, place)) (void)place.Remove();
}

// Saved with the row's FileType 0, in the same write: a FileSize or FileHash
// that described the payload now describes the expanded file, so that a later
// run that meets the row again (when the run ends before it is logged)
// checks what update/ then holds.
void TDM_Update::DescribeExpandedDownload(const std::string& source) {
    if (!OptionalText(DownLoadFileLog, kFileSize).empty()) {
        fileio::Status status;
        if (const std::error_code ec = fileio::StatusOf(source, status)) {
            ThrowFailure(Message(MessageId::CannotLookAtExpanded), source, ec);
        }
        // In the kind the downloader chose: a size kept as text stays text.
        const bool asText = DownLoadFileLog.GetValue(kFileSize).kind() == FieldValue::Kind::Text;
        const std::uint64_t size = status.size;
        DownLoadFileLog.SetValue(kFileSize, asText ? FieldValue::Text(std::to_string(size))
                                                   : FieldValue::Int(static_cast<std::int64_t>(size)));
    }
    if (!OptionalText(DownLoadFileLog, kFileHash).empty()) {
        std::string hex;
        if (const std::error_code ec = digest::Sha256OfFile(source, hex)) {
            ThrowFailure(Message(MessageId::CannotReadExpanded), source, ec);
        }
        DownLoadFileLog.SetValue(kFileHash, FieldValue::Text(hex));
    }
}

// True when a process holds the target open, so that the user can be asked
// to end it. A target we may not write is no matter for that dialog: the run
// ends with the reason instead.
bool TDM_Update::HeldOpen(const std::string& target) {
    const std::error_code why = ReplaceBlocker(target);
    if (!why) return false;
    if (IsBusy(why)) return true;
    ThrowFailure(Message(MessageId::CannotReplace), target, why);
}

// Copies through a temporary that the journal names before it is made, so
// that a copy ended midway leaves nothing the next run does not remove.
std::error_code TDM_Update::CopyThroughJournal(const std::string& source, const std::string& target,
                                               const fileio::ByteProgress& progress) {
    const std::string temporary = Temporaries::CopyTemporaryName(target);
    temporaries_->Record({temporary});
    const std::error_code ec = CopyFileOver(source, target, temporary, &root_, progress);
    temporaries_->Forget({temporary});
    return ec;
}

// A link found at the moment of use (swapped in since the checks before the
// walk): raises with a message that names what leads where it must not.
void TDM_Update::NameSwappedLink(const std::string& source, const std::string& target,
                                 std::error_code ec) const {
    if (ec != std::errc::cross_device_link && ec != std::errc::too_many_symbolic_link_levels) return;
    RequireDownloadedFile(source);
    RequireInside(fileio::ParentDirectory(source), Message(MessageId::RoleFolderOfDownload));
    RequireInside(fileio::ParentDirectory(target), Message(MessageId::RoleFolder));
}

void TDM_Update::ThrowCopyFailure(const std::string& source, const std::string& target,
                                  std::error_code ec) const {
    NameSwappedLink(source, target, ec);
    ThrowFailure(Message(MessageId::CannotCopy, {source}), target, ec);
}

// Copies over the target unless a process holds it (false, target untouched);
// any other failure ends the run with its reason.
bool TDM_Update::CopyUnlessHeld(const std::string& source, const std::string& target) {
    const std::error_code ec = CopyThroughJournal(source, target, pieces_);
    ShowProgress(0, 0);
    if (IsBusy(ec)) return false;
    if (ec) ThrowCopyFailure(source, target, ec);
    return true;
}

// What the restart moves over the target is a copy beside it, owned and moded
// as an installed file, never the download: that belongs to whoever wrote the
// update folder. Without a download there is nothing to copy, and the queue
// names the download as it is.
void TDM_Update::QueueAtRestart(const std::string& source, const std::string& target) {
    std::string queued = source;
    if (IsFilePresent(source)) {
        if (const std::error_code ec = CopyToTemporaryBeside(source, target, queued, &root_)) {
            if (ec == std::errc::cross_device_link || ec == std::errc::too_many_symbolic_link_levels) {
                ThrowCopyFailure(source, target, ec);
            }
            ThrowFailure(Message(MessageId::CannotCopyBeside, {source}), target, ec);
        }
    }
    if (const std::error_code ec = system_.ReplaceFileAtRestart(queued, target)) {
        if (queued != source) RemoveBeneath(queued);
        ThrowFailure(Message(MessageId::CannotQueueForRestart), target, ec);
    }
}

// The log row of the current row. The key is logged as the walk looks it
// up, so that the next walk finds it whatever form the downloader gave it
// (' 7 ', 7.0); IsClient as the run read it. The rest is copied as it is.
TableCursor::FieldValues TDM_Update::LogRowOf(const RowKey& key, const std::string& backupDir) const {
    return {{"AID", DownLoadFileLog.GetValue("AID")},
            {"SoftID", DownLoadFileLog.GetValue("SoftID")},
            {"FileName", DownLoadFileLog.GetValue("FileName")},
            {"FileVer", FieldValue::Int(key.fileVer)},
            {"IsClient", FieldValue::Bool(ForThisClient())},
            {"BakPath", FieldValue::Text(backupDir)},
            {"IsUpdate", FieldValue::Bool(true)}};
}

// A log row the database refuses for a lasting reason (a constraint, a
// value a column does not take) is found before the row's file is touched:
// applied and not logged, the file would be applied again at every start,
// and a program of type 1 started each time. A lock another program holds
// passes: the row goes on, and its save waits for the lock.
void TDM_Update::TryLogRow(const TableCursor::FieldValues& row, const RowKey& key) {
    try {
        (void)UpdateFileLog.TryAppend(row);
    } catch (const Error& e) {
        throw Error(Message(MessageId::LogCannotRecordNotApplied,
                            {key.fileName, std::to_string(key.fileVer), e.what()}));
    }
}

void TDM_Update::WriteLogRow(const TableCursor::FieldValues& row, const RowKey& key) {
    try {
        UpdateFileLog.BeginAppend();
        for (const auto& [field, value] : row) UpdateFileLog.SetValue(field, value);
        UpdateFileLog.SaveRow();
    } catch (const Error& e) {
        // The file was applied but is not logged: the run ends before the
        // version is raised, and the next run applies the file again.
        try {
            UpdateFileLog.DiscardRow();
        } catch (const Error&) {
        }
        throw Error(Message(MessageId::AppliedButNotLogged, {key.fileName, e.what()}));
    }
}

// Copies the update copy of the main program over the installed one until
// both agree in modified time and size, at most kMaxRefreshPasses times. A
// refresh that does not succeed ends the run with the last reason, before the
// version is recorded: the next start refreshes again, where a version
// recorded now would leave the old main program for good.
void TDM_Update::RefreshMainProgram() {
    if (ExeFile.empty()) return;
    CheckMainProgramPaths();
    const std::string updateCopy = UpdateDir + PathSeparator() + ExeFile;
    const std::string installed = BaseDir + ExeFile;
    if (!IsFilePresent(updateCopy)) return;
    std::error_code failure;  // of the last pass
    for (int pass = 1;; ++pass) {
        failure = CopyThroughJournal(updateCopy, installed);
        if (GetFileModifiedTime(installed) == GetFileModifiedTime(updateCopy) &&
            GetFileSizeByName(updateCopy) == GetFileSizeByName(installed)) {
            return;
        }
        if (pass >= kMaxRefreshPasses) break;
        system_.Sleep(kRefreshPauseMs);
    }
    const std::string action = Message(MessageId::MainProgramCannotRefresh, {ExeFile, updateCopy});
    const std::string outcome = Message(MessageId::MainProgramNotRecorded, {std::to_string(kMaxRefreshPasses)});
    if (!failure) {
        throw Error(Message(MessageId::MainProgramKeepsDiffering, {ExeFile, updateCopy, installed}) + outcome);
    }
    throw OSError(FailureText(action, installed, failure) + outcome,
                  static_cast<std::uint32_t>(failure.value()));
}

}  // namespace ue
