// The run context DM_Update: directories, settings, the database connection
// and the three table cursors, and the update run over them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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

class TDM_Update {
public:
    // `exeDir` is the directory of the running executable with its trailing
    // separator; the program passes ExecutableDir(), tests a temporary folder.
    TDM_Update(System& system, std::string exeDir);
    ~TDM_Update();

    void SetUserInterface(UserInterface* ui) { ui_ = ui; }

    void DataModuleCreate();
    void DataModuleDestroy();
    void RunUpdate();
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
    System& system_;
    std::string exeDir_;
    UserInterface* ui_ = nullptr;
};

}  // namespace ue
