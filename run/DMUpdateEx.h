// The run context DM_Update: directories, settings, the database connection
// and the three table cursors, and the update run over them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/FileIO.h"
#include "records/SettingsFile.h"
#include "records/TableCursor.h"
#include "run/DownloadedPaths.h"
#include "run/RunReport.h"
#include "core/Root.h"
#include "run/Temporaries.h"
#include "run/UserInterface.h"
#include "sysops/System.h"

namespace ue {

constexpr int ftReplace = 0;
constexpr int ftRun = 1;
constexpr int ftRegister = 2;
constexpr int ftCompressed = 5;

constexpr int RestartNeeded = 2;

// Passes of the main program's refresh copy before it is started as it is.
constexpr int kMaxRefreshPasses = 20;

class TDM_Update {
public:
    // `exeDir` is the directory of the running executable with its trailing
    // separator; the program passes ExecutableDir(), tests a temporary folder.
    TDM_Update(System& system, std::string exeDir);
    ~TDM_Update();
    TDM_Update(const TDM_Update&) = delete;
    TDM_Update& operator=(const TDM_Update&) = delete;

    // Without a user interface the file-in-use dialog counts as "continue",
    // the restart question as "cancel", and copies have no owner window.
    void SetUserInterface(UserInterface* ui) { ui_ = ui; }
    // Where the run reports the versions and each file's fate; nullptr (the
    // default) reports nothing.
    void SetReport(RunReport* report) { report_ = report; }

    // Fills the run context; an error ends it at the failing step.
    void DataModuleCreate();
    void DataModuleDestroy();
    // The update run. Raises every error it meets; SilentAbort when the user
    // closed the file-in-use dialog.
    void RunUpdate();
    // Applies the current row of DownLoadFileLog; 0 or RestartNeeded.
    int UpdateOneFile();

    // How the last RunUpdate ended, and the message of its failure; nullopt
    // before a run.
    struct RunEnd {
        RunEvent::Outcome outcome = RunEvent::Outcome::Done;
        std::string message;
    };
    const std::optional<RunEnd>& LastRunEnd() const { return runEnd_; }

    std::string BaseDir;
    std::string UpdateDir;
    int BackupNo = 0;
    std::int32_t CurVer = 0;
    std::string ExeFile;
    std::string ExeFile2;
    std::unique_ptr<SettingsFile> IniFile;

    Connection ADOCDB;
    TableCursor CurSoftInfo{ADOCDB, "CurSoftInfo"};
    TableCursor DownLoadFileLog{ADOCDB, "DownLoadFileLog"};
    TableCursor UpdateFileLog{ADOCDB, "UpdateFileLog"};

private:
    // What UpdateFileLog records a DownLoadFileLog row by.
    struct RowKey {
        std::string fileName;
        std::int32_t fileVer = 0;
    };
    // A file UpdateExe keeps its own records in, by identity, so that no
    // row replaces it under another name.
    struct OwnRecord {
        std::string role;  // "the update database"
        std::string path;
        fileio::FileIdentity identity;
    };

    void RunAndRecordVersion();
    int ApplyRow(std::string& file);
    void ReportFile(const std::string& file, RunEvent::Fate fate, const std::string& reason);
    bool FileTypeIs(int code) const;
    std::vector<std::string> DownloadKeys();
    bool ForThisClient() const;
    RowKey KeyOfRow() const;
    bool IsAppliedRow();
    void RefuseUnsafeRows();
    std::vector<OwnRecord> OwnRecords() const;
    void RequireNotOwnRecord(const std::string& path, const std::string& what,
                             const std::vector<OwnRecord>& own) const;
    // Where a row's file comes from and goes to, and its backup folder.
    struct RowPaths {
        std::string source;
        std::string targetDir;
        std::string target;
        std::string backupDir;
    };
    RowPaths PathsOf(const std::string& fileName, const std::string& updatePath) const;
    void RequireInside(const std::string& path, const std::string& role) const;
    void RequireDownloadedFile(const std::string& path) const;
    void CheckRowFiles(const RowPaths& paths, const std::string& fileName, bool compressed,
                       const std::vector<OwnRecord>& own) const;
    bool RequireRowDownload(const RowPaths& paths, const std::string& fileName);
    void VerifyDownload(const std::string& fileName, const std::string& file);
    void DescribeExpandedDownload(const std::string& source);
    void CheckMainProgramPaths() const;
    void ClearLeftovers();
    void ShowFileInUse(const std::string& message, const std::string& target);
    void ExpandPayload(const std::string& source);
    void KeepDownload(const std::string& source, const std::string& kept);
    void RemoveBeneath(const std::string& path) const;
    bool HeldOpen(const std::string& target);
    std::error_code CopyThroughJournal(const std::string& source, const std::string& target,
                                       const fileio::ByteProgress& progress = {});
    int CountRowsToApply();
    void ShowProgress(std::uint64_t done, std::uint64_t total);
    void NameSwappedLink(const std::string& source, const std::string& target, std::error_code ec) const;
    [[noreturn]] void ThrowCopyFailure(const std::string& source, const std::string& target,
                                       std::error_code ec) const;
    bool CopyUnlessHeld(const std::string& source, const std::string& target);
    void QueueAtRestart(const std::string& source, const std::string& target);
    TableCursor::FieldValues LogRowOf(const RowKey& key, const std::string& backupDir) const;
    void TryLogRow(const TableCursor::FieldValues& row, const RowKey& key);
    void WriteLogRow(const TableCursor::FieldValues& row, const RowKey& key);
    void RefreshMainProgram();

    System& system_;
    std::string exeDir_;
    UserInterface* ui_ = nullptr;
    RunReport* report_ = nullptr;
    std::optional<RunEnd> runEnd_;
    // The installation folder, opened once: every file operation of a row
    // resolves its path beneath it at the moment it is made.
    fileio::Root root_;
    std::unique_ptr<Temporaries> temporaries_;
    // The file being applied and its place, for the user interface.
    FileProgress progress_;
    // Forwards a copy's or an expansion's pieces to ShowProgress.
    fileio::ByteProgress pieces_;
};

// The two texts of the file-in-use dialog for `target`.
std::string FirstInUseMessage(const std::string& target);
std::string SecondInUseMessage(const std::string& target);

}  // namespace ue
