#include "run/DMUpdateEx.h"

#include <initializer_list>
#include <set>
#include <string_view>

#include "core/Errors.h"
#include "core/FileIO.h"
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

// Names the run's temporaries beside the downloads (see OwnTemporaries).
constexpr char kTemporariesJournal[] = ".UpdateExe-temporaries";

constexpr unsigned kRowPauseMs = 100;
constexpr unsigned kExpandPauseMs = 100;
constexpr unsigned kRefreshPauseMs = 100;
constexpr unsigned kEndPauseMs = 10;
constexpr int kMaxInUseRetries = 3;
// Walks over DownLoadFileLog while the downloader keeps changing it.
constexpr int kMaxWalks = 3;

// An operation on a file that failed, with the system's reason.
[[noreturn]] void ThrowFileError(const std::string& what, std::error_code ec) {
    throw OSError(what + ": " + ec.message(), static_cast<std::uint32_t>(ec.value()));
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// "..", "...", ".. " and the like: a step to the parent directory, also in the
// forms Windows trims trailing dots and blanks from.
bool IsParentStep(std::string_view part) {
    int dots = 0;
    for (char c : part) {
        if (c == '.') {
            ++dots;
        } else if (c != ' ') {
            return false;
        }
    }
    return dots >= 2;
}

// ".", "..", ". " and the like: names of a directory, never of a file.
bool IsDotName(std::string_view name) {
    if (name.empty() || name.find('.') == std::string_view::npos) return false;
    return name.find_first_not_of(". ") == std::string_view::npos;
}

// A relative path that stays where it is appended: no step to a parent
// ("\\" and "/" both separate names) and no NUL byte.
bool StaysInside(std::string_view relative) {
    if (relative.find('\0') != std::string_view::npos) return false;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = start;
        while (end < relative.size() && !IsSeparator(relative[end])) ++end;
        if (IsParentStep(relative.substr(start, end - start))) return false;
        start = end + 1;
    }
    return true;
}

// Why Windows would not take `part` (a file name or one folder of a path) as
// the plain name it reads as; empty when it would. The database serves both
// platforms, so the Linux build refuses these names too.
std::string WindowsNameFault(std::string_view part) {
    if (part.empty() || part == ".") return {};
    if (part.find(':') != std::string_view::npos) return "holds ':', a drive or a data stream";
    if (part.back() == '.' || part.back() == ' ') {
        return "ends with a dot or blank, which Windows drops";
    }
    // A device name stays one with any extension and blanks before it.
    std::string_view base = part.substr(0, part.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    static constexpr std::string_view kDevices[] = {"CON", "PRN",    "AUX",
                                                    "NUL", "CONIN$", "CONOUT$"};
    bool device = false;
    for (std::string_view name : kDevices) device = device || text::EqualsNoCaseAscii(base, name);
    // COM0-COM9 and LPT0-LPT9, also with a superscript 1, 2 or 3.
    if (base.size() >= 4 && (text::EqualsNoCaseAscii(base.substr(0, 3), "COM") ||
                             text::EqualsNoCaseAscii(base.substr(0, 3), "LPT"))) {
        const std::string_view digit = base.substr(3);
        device = (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') ||
                 digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
    }
    if (device) return "names the device " + text::UpperAscii(base) + " on Windows";
    return {};
}

// ExeFile and ExeFile2 name a program below the installation directory.
void CheckProgramName(const std::string& key, const std::string& name) {
    if (!StaysInside(name)) {
        throw Error("Update.ini: " + key + " '" + name + "' leads outside the installation directory");
    }
}

bool HasExeExtension(const std::string& fileName) {
    auto dot = fileName.rfind('.');
    if (dot == std::string::npos) return false;
    return text::UpperAscii(std::string_view(fileName).substr(dot)) == ".EXE";
}

void RemoveQuietly(const std::string& path) { (void)fileio::RemoveFile(path); }

}  // namespace

std::string FirstInUseMessage(const std::string& target) {
    return "需要升级替换的程序" + target + "正在运行,升级程序将尝试停止该程序。" + "\r\n" +
           "如有数据未保持，请手动关闭该程序然后点继续升级!";
}

std::string SecondInUseMessage(const std::string& target) {
    return "需要更新的程序" + target + "正在运行," + "\r\n" +
           "升级程序无法中止该程序,请手动关闭该程序,点[继续]完成文件升级替换!";
}

void CheckDownloadedPaths(const std::string& fileName, const std::string& updatePath) {
    bool bareName = fileName.find('\0') == std::string::npos && !IsDotName(fileName);
    for (char c : fileName) bareName = bareName && !IsSeparator(c);
    if (!bareName) {
        throw Error("DownLoadFileLog: FileName '" + fileName + "' is not a bare file name");
    }
    if (const std::string fault = WindowsNameFault(fileName); !fault.empty()) {
        throw Error("DownLoadFileLog: FileName '" + fileName + "' " + fault);
    }
    // The run's own files in the installation and the update folder.
    for (const char* own : {kTemporariesJournal, kInstanceLockName}) {
        if (text::EqualsNoCaseAscii(fileName, own)) {
            throw Error("DownLoadFileLog: FileName '" + fileName + "' is a name UpdateExe keeps for itself");
        }
    }
    const std::string where = "DownLoadFileLog: UpdatePath '" + updatePath + "' of " + fileName;
    // "C:\x" and "C:x" name a drive; "\\server\share", "\\?\C:\" and "\\.\NUL"
    // start with two separators.
    const char first = updatePath.empty() ? '\0' : text::UpperAscii(updatePath[0]);
    const bool drive = first >= 'A' && first <= 'Z' && updatePath.size() >= 2 && updatePath[1] == ':';
    const bool twoSeparators =
        updatePath.size() >= 2 && IsSeparator(updatePath[0]) && IsSeparator(updatePath[1]);
    if (drive || twoSeparators || !StaysInside(updatePath)) {
        throw Error(where + " leads outside the installation directory");
    }
    std::size_t start = 0;
    while (start < updatePath.size()) {
        std::size_t end = start;
        while (end < updatePath.size() && !IsSeparator(updatePath[end])) ++end;
        const std::string_view folder = std::string_view(updatePath).substr(start, end - start);
        if (const std::string fault = WindowsNameFault(folder); !fault.empty()) {
            throw Error(where + ": the folder '" + std::string(folder) + "' " + fault);
        }
        start = end + 1;
    }
}

TDM_Update::TDM_Update(System& system, std::string exeDir)
    : system_(system), exeDir_(std::move(exeDir)) {}

TDM_Update::~TDM_Update() = default;

void TDM_Update::DataModuleCreate() {
    std::string dir = exeDir_.empty() ? std::string(".") : exeDir_;
    if (dir.back() != PathSeparator()) dir += PathSeparator();

    IniFile = std::make_unique<SettingsFile>(dir + "Update.ini");
    UpdateDir = dir + "update";
    BaseDir = dir;
    // An update folder that leads outside is refused by the run, and nothing
    // is created through it.
    if (CheckBeneath(BaseDir, UpdateDir) != std::errc::cross_device_link) ForceDirectories(UpdateDir);
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
    UpdateFileLog.Reopen();
    if (CurSoftInfo.GetBool("IsAllUpdate") &&
        CurSoftInfo.GetInt("SoftVer") == CurSoftInfo.GetInt("CurUpdateVer")) {
        return;
    }

    RefuseUnsafeRows();
    CheckMainProgramPaths();
    // The version is recorded in Update.ini at the end: found out now, not
    // after every file was replaced. Written through a link only when the
    // link's target lies inside the installation.
    RequireInside(IniFile->Path(), "The settings file");
    IniFile->CheckWritable();

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
        DownLoadFileLog.GoFirst();
        while (!DownLoadFileLog.AtEnd()) {
            if (!IsAppliedRow() && UpdateOneFile() == RestartNeeded) restartFlag = RestartNeeded;
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

    CurSoftInfo.BeginEdit();
    CurSoftInfo.SetInt("SoftVer", CurVer);
    CurSoftInfo.SetBool("IsAllUpdate", complete);
    CurSoftInfo.SaveRow();

    system_.Sleep(kEndPauseMs);

    if (restartFlag == RestartNeeded) {
        if (ui_ != nullptr && ui_->AskRestart()) system_.ShutdownWindows(kShutdownRestart);
        return;
    }
    if (!ExeFile.empty()) system_.RunProgram(BaseDir + ExeFile, false, "", kShow);
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

bool TDM_Update::IsAppliedRow() {
    std::string fileName = DownLoadFileLog.GetText("FileName");
    std::int32_t fileVer = DownLoadFileLog.GetInt("FileVer");
    return UpdateFileLog.FindRow("FileName;FileVer",
                                 {FieldValue::Text(std::move(fileName)), FieldValue::Int(fileVer)});
}

// Before any file is touched, refuses the run when a row that would be
// applied names a place outside the installation, in its text or through a
// symbolic link. A row that cannot be read is left to the walk, which reports
// it at its turn.
void TDM_Update::RefuseUnsafeRows() {
    RequireInside(UpdateDir, "The update folder");
    for (DownLoadFileLog.GoFirst(); !DownLoadFileLog.AtEnd(); DownLoadFileLog.GoNext()) {
        std::string fileName;
        std::string updatePath;
        try {
            if (!DownLoadFileLog.GetBool("IsClient") || IsAppliedRow()) continue;
            fileName = DownLoadFileLog.GetText("FileName");
            updatePath = DownLoadFileLog.GetText("UpdatePath");
        } catch (const Error&) {
            continue;
        }
        CheckDownloadedPaths(fileName, updatePath);
        CheckRowPaths(PathsOf(fileName, updatePath), fileName);
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
// operation, which fails on the same part and reports it as before.
void TDM_Update::RequireInside(const std::string& path, const std::string& role) const {
    if (CheckBeneath(BaseDir, path) == std::errc::cross_device_link) {
        throw Error(role + " " + path + " leads outside the installation directory " + BaseDir);
    }
}

// A file the downloader left is taken only as a regular file of its own: a
// link could hand us any file that the run may read.
void TDM_Update::RequireDownloadedFile(const std::string& path) const {
    const std::error_code ec = CheckDownloadedFile(path);
    if (ec == std::errc::too_many_symbolic_link_levels) {
        throw Error("The downloaded file " + path + " is a symbolic link; it is not taken");
    }
    if (ec == std::errc::invalid_argument) {
        throw Error("The downloaded file " + path + " is not a regular file; it is not taken");
    }
    if (!ec) RequireInside(path, "The downloaded file");
}

// The source and the kept payload are read, the folders created and written
// into. The target itself is replaced by a rename, never written through, so
// a target that is a link becomes a regular file: only its folder counts.
void TDM_Update::CheckRowPaths(const RowPaths& paths, const std::string& fileName) const {
    RequireInside(UpdateDir, "The update folder");
    // An empty FileName names the update folder itself: no file is taken.
    if (!fileName.empty()) {
        RequireDownloadedFile(paths.source);
        RequireDownloadedFile(paths.source + kKeptPayloadSuffix);
    }
    RequireInside(paths.targetDir, "The folder of " + fileName);
    RequireInside(paths.backupDir, "The backup folder");
}

// The refresh reads the update copy of the main program and copies it over
// the installed one, which is then started.
void TDM_Update::CheckMainProgramPaths() const {
    for (const auto& [key, name] : {std::pair{"ExeFile", &ExeFile}, {"ExeFile2", &ExeFile2}}) {
        CheckProgramName(key, *name);
    }
    if (ExeFile.empty()) return;
    RequireInside(UpdateDir, "The update folder");
    RequireDownloadedFile(UpdateDir + PathSeparator() + ExeFile);
    std::string folder = BaseDir;
    for (std::size_t i = ExeFile.size(); i > 0; --i) {
        if (IsSeparator(ExeFile[i - 1])) {
            folder += NativeRelativePath(ExeFile.substr(0, i - 1));
            break;
        }
    }
    RequireInside(folder, "The folder of ExeFile");
}

bool TDM_Update::FileTypeIs(int code) const {
    return DownLoadFileLog.GetValue("FileType").EqualsNumber(code);
}

void TDM_Update::ShowFileInUse(const std::string& message) {
    if (ui_ != nullptr) ui_->ShowFileInUseDialog(message);
}

WindowHandle TDM_Update::Owner() const { return ui_ != nullptr ? ui_->OwnerWindow() : nullptr; }

int TDM_Update::UpdateOneFile() {
    int result = 0;
    int retries = 0;
    if (!DownLoadFileLog.GetBool("IsClient")) return 0;

    const std::string fileName = DownLoadFileLog.GetText("FileName");
    const std::string updatePath = DownLoadFileLog.GetText("UpdatePath");
    CheckDownloadedPaths(fileName, updatePath);
    const RowPaths paths = PathsOf(fileName, updatePath);
    CheckRowPaths(paths, fileName);
    const std::string& source = paths.source;
    const std::string& targetDir = paths.targetDir;
    const std::string& target = paths.target;
    const std::string& backupDir = paths.backupDir;

    for (const std::string& dir : {targetDir, backupDir}) {
        if (const std::error_code ec = CreateDirectories(dir)) {
            ThrowFileError("Cannot create the folder " + dir + " for " + fileName, ec);
        }
    }

    if (FileTypeIs(ftReplace) && HeldOpen(target)) {
        ShowFileInUse(FirstInUseMessage(target));
        if (!ExeFile.empty()) system_.KillProcessByName(ExeFile, BaseDir);
        if (!ExeFile2.empty()) system_.KillProcessByName(ExeFile2, BaseDir);
        if (HasExeExtension(fileName)) system_.KillProcessByName(fileName, BaseDir);
    }

    system_.Sleep(kRowPauseMs);

    // FileType is read again at each step on purpose: expanding a payload saves
    // FileType 0, so a type-5 row goes on below as a replacement (no switch).
    if (FileTypeIs(ftCompressed) && IsFilePresent(source)) {
        ExpandPayload(source);
        system_.Sleep(kExpandPauseMs);
    } else if (FileTypeIs(ftReplace)) {
        DropKeptPayload(source);
    }

    for (;;) {
        if (!FileTypeIs(ftReplace) || !HeldOpen(target)) break;
        ShowFileInUse(SecondInUseMessage(target));
        if (++retries >= kMaxInUseRetries) {
            QueueAtRestart(source, target);
            result = RestartNeeded;
            break;
        }
    }

    // A queued file is replaced at the restart; copying it now would fail.
    if (FileTypeIs(ftReplace) && result != RestartNeeded && IsFilePresent(source)) {
        CopyOver(source, target);
    }

    if (FileTypeIs(ftRun)) {
        if (IsFilePresent(source)) CopyOver(source, target);
        system_.RunProgram(target, false, "", kShowNormal);
    }

    if (FileTypeIs(ftRegister)) {
        if (HeldOpen(target)) {
            QueueAtRestart(source, target);
            result = RestartNeeded;
        } else {
            if (IsFilePresent(source)) CopyOver(source, target);
            try {
                system_.RegisterServerLibrary(target);
            } catch (const std::exception&) {
                // A library that does not register is still logged as applied.
            }
        }
    }

    WriteLogRow(backupDir);
    return result;
}

namespace {

// The run's own temporary files beside a download (the kept payload, the
// expansion's temporary) are recorded in a journal in the same folder before
// they are created, and struck off once they are gone. A file under such a
// name is the run's own only while the journal names it; anything else there
// (a download of that name, someone's file or link) is never taken or
// deleted. A run ended in between leaves the names recorded, so the next run
// still knows its leftovers. The journal is removed once it names nothing, so
// a run that ends normally leaves no trace of it.

class OwnTemporaries {
public:
    enum class Found { Nothing, Ours, Foreign };

    // For the temporaries beside `download`.
    explicit OwnTemporaries(const std::string& download)
        : dir_(download.substr(0, download.find_last_of("/\\") + 1)),
          journal_(dir_ + kTemporariesJournal) {}

    // What lies under `path`. Only a regular file can be ours: the run makes
    // no other kind.
    Found Look(const std::string& path) const {
        fileio::Status status;
        const std::error_code ec = fileio::StatusOf(path, status);
        if (!ec && status.kind == fileio::Kind::Missing) return Found::Nothing;
        std::set<std::string> names;
        const bool ours = !ec && status.kind == fileio::Kind::Regular && !Read(names) &&
                          names.count(Name(path)) != 0;
        return ours ? Found::Ours : Found::Foreign;
    }

    // Records `paths` before any of them is created.
    void Record(std::initializer_list<std::string> paths) const {
        std::set<std::string> names;
        std::error_code ec = Read(names);
        const std::size_t before = names.size();
        for (const std::string& path : paths) names.insert(Name(path));
        if (!ec && names.size() != before) ec = Write(names);
        if (ec) {
            throw OSError("Cannot record the temporary files of " + Name(*paths.begin()) +
                              " in " + journal_ + ": " + ec.message(),
                          static_cast<std::uint32_t>(ec.value()));
        }
    }

    // Strikes off those of `paths` under which nothing lies any more. Should
    // the journal not be rewritten, they stay recorded: only a download of
    // the same name could then be taken for ours.
    void Forget(std::initializer_list<std::string> paths) const noexcept {
        std::set<std::string> names;
        if (Read(names)) return;
        const std::size_t before = names.size();
        for (const std::string& path : paths) {
            if (Look(path) == Found::Nothing) names.erase(Name(path));
        }
        if (names.size() != before) Write(names);
    }

private:
    std::string Name(const std::string& path) const { return path.substr(dir_.size()); }

    // The names recorded, each ended by a NUL (a FileName never holds one).
    // No journal is an empty one; one that is a link or no regular file is
    // not read.
    std::error_code Read(std::set<std::string>& names) const {
        fileio::Status status;
        std::error_code ec = fileio::StatusOf(journal_, status);
        if (ec) return ec;
        if (status.kind == fileio::Kind::Missing) return {};
        if (status.kind != fileio::Kind::Regular) {
            return std::make_error_code(std::errc::invalid_argument);
        }
        std::string bytes;
        if ((ec = fileio::ReadAll(journal_, bytes))) return ec;
        for (std::size_t start = 0, end; (end = bytes.find('\0', start)) != std::string::npos;
             start = end + 1) {
            names.insert(bytes.substr(start, end - start));
        }
        return {};
    }

    std::error_code Write(const std::set<std::string>& names) const {
        if (names.empty()) return fileio::RemoveFile(journal_);
        std::string bytes;
        for (const std::string& name : names) bytes += name + '\0';
        // ".~ue": the same mark as the temporaries of a copy.
        return fileio::ReplaceAtomically(journal_, journal_ + ".~ueXXXXXX", bytes,
                                         {fileio::Existing::Replace, fileio::NewFile::Default});
    }

    std::string dir_;  // with its trailing separator
    std::string journal_;
};

[[noreturn]] void ThrowInTheWay(const std::string& download, const std::string& path) {
    throw Error("Cannot expand " + download + ": " + path +
                " is in the way. UpdateExe did not create it (it may be a download of that name), "
                "so it is left as it is");
}

}  // namespace

// Expands the payload in place and saves FileType 0. The downloaded form is
// kept beside it until the save, so that a run ended in between (or a failed
// expansion or save) never leaves plain content under FileType 5. Neither
// the kept file nor the expansion's temporary may take the place of a file
// the run did not create: such a file ends the run before anything is
// touched.
void TDM_Update::ExpandPayload(const std::string& source) {
    using Found = OwnTemporaries::Found;
    const std::string kept = source + kKeptPayloadSuffix;
    const std::string temporary = ExpansionTemporary(source);
    const OwnTemporaries ours(source);
    const Found keptFound = ours.Look(kept);
    const Found temporaryFound = ours.Look(temporary);
    if (keptFound == Found::Foreign) ThrowInTheWay(source, kept);
    if (temporaryFound == Found::Foreign) ThrowInTheWay(source, temporary);
    ours.Record({kept, temporary});

    if (keptFound == Found::Ours) {
        // An earlier run ended before saving FileType 0: start from the download.
        if (const std::error_code ec = CopyFileOver(kept, source)) {
            throw Error("Cannot restore the downloaded file " + source + " from " + kept + ". " +
                        ec.message());
        }
    } else if (fileio::LinkFile(source, kept)) {
        // A second name costs nothing where hard links exist (the expansion
        // replaces the download by a rename, so the kept name still holds
        // it); elsewhere the download is copied.
        if (const std::error_code ec = CopyFileOver(source, kept)) {
            throw Error("Cannot keep a copy of the downloaded file " + source + " as " + kept +
                        ". " + ec.message());
        }
    }

    try {
        ExpandCompressedFile(source, temporaryFound == Found::Ours ? LeftTemporary::Replace
                                                                   : LeftTemporary::Refuse);
        DownLoadFileLog.BeginEdit();
        DownLoadFileLog.SetValue("FileType", FieldValue::Int(ftReplace));
        DownLoadFileLog.FinishEdit();
    } catch (...) {
        try {
            DownLoadFileLog.DiscardRow();
        } catch (const std::exception&) {
        }
        // Back to the download, whatever the failure left; should that
        // fail, the kept file stays and the next run starts from it.
        if (ShellCopyFile(Owner(), kept, source)) RemoveQuietly(kept);
        ours.Forget({kept, temporary});
        throw;
    }
    RemoveQuietly(kept);
    ours.Forget({kept, temporary});
}

// True when a process holds the target open, so that the user can be asked
// to end it. A target we may not write is no matter for that dialog: the run
// ends with the reason instead.
bool TDM_Update::HeldOpen(const std::string& target) {
    const std::error_code why = ReplaceBlocker(target);
    if (!why) return false;
    if (why == std::errc::device_or_resource_busy) return true;
    ThrowFileError("Cannot replace " + target, why);
}

void TDM_Update::CopyOver(const std::string& source, const std::string& target) {
    if (const std::error_code ec = CopyFileOver(source, target)) {
        ThrowFileError("Cannot copy " + source + " to " + target, ec);
    }
}

void TDM_Update::QueueAtRestart(const std::string& source, const std::string& target) {
    if (const std::error_code ec = system_.ReplaceFileAtRestart(source, target)) {
        ThrowFileError("Cannot queue " + target + " for replacement at the next restart", ec);
    }
}

// After FileType 0 was saved: the kept download goes, if it is ours. A file
// of that name that the run did not create (a download) stays.
void TDM_Update::DropKeptPayload(const std::string& source) {
    const std::string kept = source + kKeptPayloadSuffix;
    const OwnTemporaries ours(source);
    if (ours.Look(kept) == OwnTemporaries::Found::Ours) RemoveQuietly(kept);
    ours.Forget({kept, ExpansionTemporary(source)});
}

void TDM_Update::WriteLogRow(const std::string& backupDir) {
    const std::string fileName = DownLoadFileLog.GetText("FileName");
    try {
        UpdateFileLog.BeginAppend();
        for (const char* field : {"AID", "SoftID", "FileName", "FileVer", "IsClient"}) {
            UpdateFileLog.SetValue(field, DownLoadFileLog.GetValue(field));
        }
        UpdateFileLog.SetValue("BakPath", FieldValue::Text(backupDir));
        UpdateFileLog.SetValue("IsUpdate", FieldValue::Bool(true));
        UpdateFileLog.SaveRow();
    } catch (const Error& e) {
        // The file was applied but is not logged: the run ends before the
        // version is raised, and the next run applies the file again.
        try {
            UpdateFileLog.DiscardRow();
        } catch (const Error&) {
        }
        throw Error(fileName + " was applied, but UpdateFileLog could not record it: " + e.what());
    }
}

// Copies the update copy of the main program over the installed one until
// both agree in modified time and size, at most kMaxRefreshPasses times.
void TDM_Update::RefreshMainProgram() {
    if (ExeFile.empty()) return;
    CheckMainProgramPaths();
    const std::string updateCopy = UpdateDir + PathSeparator() + ExeFile;
    const std::string installed = BaseDir + ExeFile;
    if (!IsFilePresent(updateCopy)) return;
    for (int pass = 1;; ++pass) {
        ShellCopyFile(Owner(), updateCopy, installed);
        if (GetFileModifiedTime(installed) == GetFileModifiedTime(updateCopy) &&
            GetFileSizeByName(updateCopy) == GetFileSizeByName(installed)) {
            return;
        }
        if (pass >= kMaxRefreshPasses) return;
        system_.Sleep(kRefreshPauseMs);
    }
}

}  // namespace ue
