// A temporary installation with a recording System and a scripted UI, and the
// run context over it.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "run/DMUpdateEx.h"
#include "tests/support/Installation.h"
#include "tests/support/RecordingSystem.h"
#include "tests/support/ScriptedUI.h"
#include "tests/support/TempDir.h"

namespace ue::test {

class RunFixture : public ::testing::Test {
protected:
    TempDir dir;
    Installation inst{dir.path()};
    RecordingSystem sys;
    ScriptedUI ui{&sys};
    std::unique_ptr<TDM_Update> dm;

    // A pending version, the usual Update.ini and a main program in update/.
    void SetUp() override {
        inst.SetSoftInfo(false, 1, 2);
        inst.WriteIni("[Update]\r\nExeFile=Main.exe\r\nExeFile2=Helper.exe\r\n");
    }

    TDM_Update& Create() {
        dm = std::make_unique<TDM_Update>(sys, inst.Base());
        dm->SetUserInterface(&ui);
        dm->DataModuleCreate();
        return *dm;
    }

    // A fresh run context and one run over the installation.
    void Run() {
        Create();
        dm->RunUpdate();
    }

    std::string P(const std::string& relative) const { return inst.Path(relative); }

    // Installs `name` (old) and downloads its new content, with a row of `type`.
    void Offer(const std::string& name, std::optional<std::int64_t> type, std::int64_t ver = 1,
               const std::string& updatePath = "", const std::string& installedDir = "") {
        inst.Put("update/" + name, "new " + name);
        inst.Put(installedDir + name, "old " + name);
        Download d;
        d.aid = NextAid();
        d.fileName = name;
        d.fileVer = ver;
        d.fileType = type;
        d.updatePath = updatePath;
        inst.AddDownload(d);
    }

    std::int64_t NextAid() { return ++aid_; }

    // A file that IsFileInUse reports in use: no write permission bits.
    void Hold(const std::string& relative) const { ::chmod(P(relative).c_str(), 0444); }
    void Free(const std::string& relative) const { ::chmod(P(relative).c_str(), 0644); }

    // FileName and FileVer of every UpdateFileLog row.
    std::vector<std::string> Logged() const {
        std::vector<std::string> out;
        for (const auto& r : inst.Query("SELECT FileName, FileVer FROM UpdateFileLog ORDER BY rowid")) {
            out.push_back(r[0] + "/" + r[1]);
        }
        return out;
    }

    std::string FileTypeOf(std::int64_t aid) const {
        return inst.Query("SELECT FileType FROM DownLoadFileLog WHERE AID=" + std::to_string(aid))
            .at(0)
            .at(0);
    }

    SqlRows SoftInfo() const { return inst.Table("CurSoftInfo"); }

    std::string Run5(const std::string& file) const { return RunEntry(P(file), 5); }
    std::string Run1(const std::string& file) const { return RunEntry(P(file), 1); }

private:
    std::int64_t aid_ = 0;
};

}  // namespace ue::test
