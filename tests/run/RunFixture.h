// A temporary installation with a pending version (1 installed, 2 downloaded)
// and an Update.ini naming Main.exe and Helper.exe, a recording System, a
// scripted UI, and the run context over them.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "run/DMUpdateEx.h"
#include "tests/support/HeldFile.h"
#include "tests/support/Installation.h"
#include "tests/support/StandIns.h"
#include "tests/support/TempDir.h"

namespace ue::test {

using Calls = std::vector<std::string>;

class RunFixture : public ::testing::Test {
protected:
    TempDir dir;
    Installation inst{dir.path()};
    RecordingSystem sys;
    ScriptedUI ui{sys};
    RecordingReport report;
    std::unique_ptr<TDM_Update> dm;

    void SetUp() override {
        inst.SetSoftInfo(false, 1, 2);
        inst.WriteIni("[Update]\r\nExeFile=Main.exe\r\nExeFile2=Helper.exe\r\n");
    }

    TDM_Update& Create() {
        dm = std::make_unique<TDM_Update>(sys, inst.Base());
        dm->SetUserInterface(&ui);
        dm->SetReport(&report);
        dm->DataModuleCreate();
        return *dm;
    }

    // A fresh run context and one run over the installation.
    void Run() { Create().RunUpdate(); }

    // The same, returning the message of the Error that ended the run ("" when none).
    std::string RunFailure() {
        try {
            Run();
        } catch (const Error& e) {
            return e.what();
        }
        return "";
    }

    std::string P(const std::string& relative) const { return inst.Path(relative); }

    // Installs `name` ("old <name>" in installedDir) and downloads "new <name>"
    // for it, with a row of `type`.
    void Offer(const std::string& name, std::optional<std::int64_t> type, std::int64_t ver = 1,
               const std::string& updatePath = "", const std::string& installedDir = "") {
        inst.Put("update/" + name, "new " + name);
        inst.Put(installedDir + name, "old " + name);
        inst.AddDownload({.aid = ++aid_,
                          .fileName = name,
                          .fileVer = ver,
                          .fileType = type,
                          .updatePath = updatePath});
    }

    // Makes a file in use, as a running program does, until Free or the
    // test's end.
    void Hold(const std::string& relative) {
        held_.insert_or_assign(relative, HeldFile(P(relative)));
    }
    void Free(const std::string& relative) { held_.erase(relative); }

    // "FileName/FileVer" of every UpdateFileLog row.
    Calls Logged() const {
        Calls out;
        for (const auto& r :
             inst.Query("SELECT FileName, FileVer FROM UpdateFileLog ORDER BY rowid")) {
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

    // The end of a run without a restart need (no update copy of the main
    // program), and with one when the restart question is declined.
    Calls Tail() const { return {"TodayText", "Sleep 10", RunEntry(P("Main.exe"), 5)}; }
    Calls RestartTail() const { return {"TodayText", "Sleep 10", "AskRestart Cancel"}; }

    std::string Dialog(const std::string& message) const {
        return "ShowFileInUseDialog " + message;
    }

private:
    std::int64_t aid_ = 0;
    std::map<std::string, HeldFile> held_;  // let go of before `dir` goes
};

}  // namespace ue::test
