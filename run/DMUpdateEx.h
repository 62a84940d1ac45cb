// The run context DM_Update: directories, settings, the database connection
// and the three table cursors, and the update run over them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "records/SettingsFile.h"
#include "records/TableCursor.h"
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

// While a payload is being expanded, its downloaded form is kept beside it
// under this suffix, until the row's new FileType is saved. A run that finds
// it with FileType still 5 puts the payload back and expands it again.
inline constexpr char kKeptPayloadSuffix[] = ".ue-keep";

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

    // Fills the run context; an error ends it at the failing step.
    void DataModuleCreate();
    void DataModuleDestroy();
    // The update run. Raises every error it meets; SilentAbort when the user
    // closed the file-in-use dialog.
    void RunUpdate();
    // Applies the current row of DownLoadFileLog; 0 or RestartNeeded.
    int UpdateOneFile();

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
    bool FileTypeIs(int code) const;
    std::vector<std::string> DownloadKeys();
    bool IsAppliedRow();
    void RefuseUnsafeRows();
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
    void CheckRowPaths(const RowPaths& paths, const std::string& fileName) const;
    void CheckMainProgramPaths() const;
    void ShowFileInUse(const std::string& message);
    WindowHandle Owner() const;
    void ExpandPayload(const std::string& source);
    void DropKeptPayload(const std::string& source);
    bool HeldOpen(const std::string& target);
    void CopyOver(const std::string& source, const std::string& target);
    void QueueAtRestart(const std::string& source, const std::string& target);
    void WriteLogRow(const std::string& backupDir);
    void RefreshMainProgram();

    System& system_;
    std::string exeDir_;
    UserInterface* ui_ = nullptr;
};

// The two texts of the file-in-use dialog for `target`.
std::string FirstInUseMessage(const std::string& target);
std::string SecondInUseMessage(const std::string& target);

// Raises Error when a downloaded row's FileName is no bare file name, its
// UpdatePath could lead outside the installation directory (a drive, a share
// or "\\?\" path, a ".." step), or either names what Windows would not take
// as written: a ':' (drive or data stream), a device name (CON, NUL, COM1,
// LPT1, also with an extension), a trailing dot or blank. Both platforms
// refuse the same rows. An empty FileName or UpdatePath is allowed.
void CheckDownloadedPaths(const std::string& fileName, const std::string& updatePath);

}  // namespace ue
