// The message table and its filling; the language itself is chosen by the
// program at start (UserLanguage) or left English.
#include "core/MessageTable.h"

#include <atomic>
#include <iterator>

namespace ue {

namespace {

struct MessageRow {
    MessageId id;
    const char8_t* english;
    const char8_t* chinese;
};

using enum MessageId;

// Paths and names keep ASCII quotes in both languages: they delimit text
// that the user may have to type or search for.
constexpr MessageRow kMessages[] = {
    {DatabaseMissing, u8"The update database \"{1}\" does not exist", u8"更新数据库 \"{1}\" 不存在"},
    {DatabaseCannotRead, u8"Cannot read the update database", u8"无法读取更新数据库"},
    {DatabaseEmpty, u8"The update database \"{1}\" is an empty file, not a database",
     u8"更新数据库 \"{1}\" 是一个空文件，不是数据库"},
    {DatabaseNotADatabase, u8"The update database \"{1}\" is not a database (neither an SQLite nor an Access file)",
     u8"更新数据库 \"{1}\" 不是数据库（既不是 SQLite 文件，也不是 Access 文件）"},
    {DatabaseCannotOpenWith, u8"Cannot open the update database \"{1}\": {2}", u8"无法打开更新数据库 \"{1}\"：{2}"},
    {DatabaseCannotOpenThroughDriver, u8"Cannot open the update database \"{1}\" through the ODBC driver \"{2}\": {3}",
     u8"无法通过 ODBC 驱动程序 \"{2}\" 打开更新数据库 \"{1}\"：{3}"},
    {DatabaseCannotReadWith, u8"Cannot read the update database \"{1}\": {2}", u8"无法读取更新数据库 \"{1}\"：{2}"},
    {DatabaseNotWritable, u8"The update database \"{1}\" cannot be written ({2}); UpdateExe changes nothing until it can",
     u8"无法写入更新数据库 \"{1}\"（{2}）；在能够写入之前，UpdateExe 不做任何更改"},
    {DatabaseReadOnly, u8"it is read-only", u8"它是只读的"},
    {DatabaseTrialWriteFailedBecause, u8"a trial write failed ({1})", u8"试写失败（{1}）"},
    {DatabaseTrialWriteFailed, u8"a trial write failed: {1}", u8"试写失败：{1}"},
    {DatabaseCreateJournal, u8"Cannot create the journal", u8"无法创建日志文件"},
    {DatabaseFolderHint, u8"UpdateExe must be able to create files in its folder \"{1}\"",
     u8"UpdateExe 必须能在其文件夹 \"{1}\" 中创建文件"},
    {DatabaseNoBackend, u8"The update database \"{1}\" is {2}, and this build has no backend for that format ({3})",
     u8"更新数据库 \"{1}\" 是{2}，而此版本的程序不支持该格式（{3}）"},
    {DatabaseNoBackendAtAll, u8"it has no database backend", u8"它不支持任何数据库"},
    {DatabaseBackendsLinked, u8"its backends: {1}", u8"它支持：{1}"},
    {DatabaseNoOdbcDriver, u8"The update database \"{1}\" cannot be opened: no ODBC driver for {2} databases is installed (tried {3})",
     u8"无法打开更新数据库 \"{1}\"：未安装 {2} 数据库的 ODBC 驱动程序（已尝试 {3}）"},
    {FormatSqlite, u8"an SQLite file", u8"SQLite 文件"},
    {FormatAccess, u8"a Microsoft Access (Jet/ACE) file", u8"Microsoft Access（Jet/ACE）文件"},
    {NeedsSqlite,
     u8"SQLite databases are opened by the SQLite store of the Linux build (libsqlite3), or through ODBC with an "
     u8"SQLite ODBC driver by the ODBC store of the Windows build",
     u8"SQLite 数据库由 Linux 版的 SQLite 存储（libsqlite3）打开，或由 Windows 版的 ODBC 存储通过 SQLite ODBC 驱动程序打开"},
    {NeedsAccess,
     u8"Access databases are opened through ODBC with the Microsoft Access driver, by the ODBC store of the Windows "
     u8"build",
     u8"Access 数据库由 Windows 版的 ODBC 存储通过 Microsoft Access 驱动程序打开"},
    {TableClosed, u8"{1}: Cannot perform this operation on a closed table", u8"{1}：无法对已关闭的表执行此操作"},
    {TableNotConnected, u8"{1}: the database connection is not open", u8"{1}：数据库连接未打开"},
    {TableNoCurrentRow, u8"{1}: there is no current row to edit", u8"{1}：没有可编辑的当前行"},

    {IniLinkNotFollowed, u8"its link cannot be followed ({1})", u8"无法跟随其链接（{1}）"},
    {IniLinkOutside, u8"it is a link that leads outside its folder \"{1}\", to \"{2}\"",
     u8"它是指向其文件夹 \"{1}\" 之外（\"{2}\"）的链接"},
    {IniFolderMissing, u8"its folder \"{1}\" does not exist", u8"其文件夹 \"{1}\" 不存在"},
    {IniFolderUnreachable, u8"its folder \"{1}\" cannot be reached ({2})", u8"无法访问其文件夹 \"{1}\"（{2}）"},
    {IniFolderNotWritable, u8"its folder \"{1}\" cannot be written ({2})", u8"无法写入其文件夹 \"{1}\"（{2}）"},
    {IniIsDirectory, u8"it is a directory", u8"它是一个目录"},
    {IniNotRegular, u8"it is not a regular file", u8"它不是普通文件"},
    {IniReadOnly, u8"the file is read-only", u8"该文件是只读的"},

    {CannotOpenInstallation, u8"Cannot open the installation folder", u8"无法打开安装文件夹"},
    {CannotRecordVersion, u8"Cannot record version {1} in CurSoftInfo: {2}", u8"无法在 CurSoftInfo 中记录版本 {1}：{2}"},
    {RowCorrectedFirst, u8". UpdateExe updates no file until the row is corrected",
     u8"。在该行改正之前，UpdateExe 不更新任何文件"},
    {IsClientNotBoolean, u8"DownLoadFileLog: IsClient '{1}' of {2} is not a boolean",
     u8"DownLoadFileLog：{2} 的 IsClient '{1}' 不是布尔值"},
    {FileVerEmpty, u8"DownLoadFileLog: FileVer of {1} is empty; it must be a 32-bit integer",
     u8"DownLoadFileLog：{1} 的 FileVer 为空；它必须是 32 位整数"},
    {FileVerNotInteger, u8"DownLoadFileLog: FileVer '{1}' of {2} is not a 32-bit integer",
     u8"DownLoadFileLog：{2} 的 FileVer '{1}' 不是 32 位整数"},
    {TwoRowsTwoFolders,
     u8"Two rows bring {1} version {2} to different folders: {3} to \"{4}\" and {5} to \"{6}\". The update "
     u8"folder holds one {1} and UpdateFileLog would record only one of them, leaving the other folder's copy "
     u8"old; give each row its own FileVer",
     u8"有两行把 {1} 的版本 {2} 放到不同的文件夹：{3} 放到 \"{4}\"，{5} 放到 \"{6}\"。更新文件夹中只有一个 "
     u8"{1}，UpdateFileLog 也只会记录其中一个，另一个文件夹中的副本将保持旧版本；请为每一行指定各自的 FileVer"},
    {OwnRecord, u8"{1} ({2}) is {3} {4}; UpdateExe does not replace its own records",
     u8"{1}（{2}）是{3} {4}；UpdateExe 不替换它自己的记录"},
    {TargetOf, u8"DownLoadFileLog: the target of {1}", u8"DownLoadFileLog：{1} 的目标文件"},
    {OwnDatabase, u8"the update database", u8"更新数据库"},
    {OwnDatabaseJournal, u8"the update database's journal", u8"更新数据库的日志文件"},
    {OwnDatabaseSharedMemory, u8"the update database's shared memory", u8"更新数据库的共享内存文件"},
    {OwnDatabaseLock, u8"the update database's lock", u8"更新数据库的锁文件"},
    {OwnSettingsFile, u8"the settings file", u8"设置文件"},
    {OwnInstallationLock, u8"the installation's lock", u8"安装的锁文件"},
    {OwnTemporariesJournal, u8"the journal of UpdateExe's temporary files", u8"UpdateExe 临时文件的记录"},
    {RowNumber, u8"row {1}", u8"第 {1} 行"},
    {RowNumberAid, u8"row {1} (AID {2})", u8"第 {1} 行（AID {2}）"},
    {RoleSettingsFile, u8"The settings file", u8"设置文件"},
    {RoleUpdateFolder, u8"The update folder", u8"更新文件夹"},
    {RoleBackupFolder, u8"The backup folder", u8"备份文件夹"},
    {RoleFolderOf, u8"The folder of {1}", u8"{1} 的文件夹"},
    {RoleDownloadedFile, u8"The downloaded file", u8"下载的文件"},
    {RoleFolderOfDownload, u8"The folder of the download", u8"下载文件所在的文件夹"},
    {RoleFolder, u8"The folder of", u8"文件夹"},
    {CannotLookForKept, u8"Cannot look for the kept download", u8"无法查找保留的下载文件"},
    {CannotKeepBesideAs, u8"Cannot keep the download beside itself as", u8"无法在下载文件旁边将其保留为"},
    {CannotExpandInto, u8"Cannot expand the download into", u8"无法将下载文件解压到"},
    {LeadsOutsideInstallation, u8"{1} {2} leads outside the installation directory {3}",
     u8"{1} {2} 指向安装目录 {3} 之外"},
    {DownloadIsLink, u8"The downloaded file {1} is a symbolic link; it is not taken",
     u8"下载的文件 {1} 是符号链接，不予采用"},
    {DownloadNotRegular, u8"The downloaded file {1} is not a regular file; it is not taken",
     u8"下载的文件 {1} 不是普通文件，不予采用"},
    {CannotLookAtDownload, u8"Cannot look at the download of {1}", u8"无法查看 {1} 的下载文件"},
    {NoFileName, u8"{1} of DownLoadFileLog has no FileName, so it has no download to apply",
     u8"DownLoadFileLog 的{1}没有 FileName，因此没有可应用的下载文件"},
    {DownloadMissing, u8"The download of {1} is missing: \"{2}\" does not exist",
     u8"缺少 {1} 的下载文件：\"{2}\" 不存在"},
    {NeitherDownloadNorInstalled, u8"Neither the download of {1} (\"{2}\") nor its installed copy (\"{3}\") exists",
     u8"{1} 的下载文件（\"{2}\"）和已安装的副本（\"{3}\"）都不存在"},
    {TriedAgain, u8"; it is not applied, and the next start tries again", u8"；该文件未应用，下次启动时将重试"},
    {FileSizeInvalid, u8"The row of {1} in DownLoadFileLog has FileSize '{2}', which is no size in bytes",
     u8"DownLoadFileLog 中 {1} 的行的 FileSize 为 '{2}'，这不是以字节为单位的大小"},
    {FileSizeDiffers,
     u8"The download \"{1}\" of {2} differs from its row in DownLoadFileLog: FileSize is {3}, the file has {4} bytes",
     u8"{2} 的下载文件 \"{1}\" 与其在 DownLoadFileLog 中的行不符：FileSize 为 {3}，文件却有 {4} 字节"},
    {FileHashInvalid,
     u8"The row of {1} in DownLoadFileLog has FileHash '{2}', which is no SHA-256 in hex (64 digits 0-9 and a-f)",
     u8"DownLoadFileLog 中 {1} 的行的 FileHash 为 '{2}'，这不是十六进制的 SHA-256（64 位 0-9 和 a-f）"},
    {FileHashDiffers,
     u8"The download \"{1}\" of {2} differs from its row in DownLoadFileLog: FileHash is {3}, the file's SHA-256 is {4}",
     u8"{2} 的下载文件 \"{1}\" 与其在 DownLoadFileLog 中的行不符：FileHash 为 {3}，文件的 SHA-256 却是 {4}"},
    {CannotReadDownload, u8"Cannot read the download of {1}", u8"无法读取 {1} 的下载文件"},
    {CannotCreateFolderOf, u8"Cannot create the folder of {1}", u8"无法创建 {1} 的文件夹"},
    {ExpansionInTheWay,
     u8"Cannot expand {1}: {2} is in the way. UpdateExe did not create it (it may be a download of that name), so "
     u8"it is left as it is",
     u8"无法解压 {1}：{2} 挡住了去路。它不是 UpdateExe 创建的（可能是同名的下载文件），因此保持原样"},
    {CannotRestoreDownload, u8"Cannot restore the download from \"{1}\" to", u8"无法将下载文件从 \"{1}\" 恢复到"},
    {CannotKeepDownload, u8"Cannot keep the download \"{1}\" as", u8"无法将下载文件 \"{1}\" 保留为"},
    {CannotLookAtExpanded, u8"Cannot look at the expanded download", u8"无法查看解压后的下载文件"},
    {CannotReadExpanded, u8"Cannot read the expanded download", u8"无法读取解压后的下载文件"},
    {CannotReplace, u8"Cannot replace", u8"无法替换"},
    {CannotCopy, u8"Cannot copy \"{1}\" to", u8"无法将 \"{1}\" 复制到"},
    {CannotCopyBeside, u8"Cannot copy \"{1}\" beside", u8"无法将 \"{1}\" 复制到旁边："},
    {CannotQueueForRestart, u8"Cannot queue for replacement at the next restart", u8"无法安排在下次重启时替换"},
    {LogCannotRecordNotApplied, u8"UpdateFileLog cannot record {1} (FileVer {2}), so it is not applied: {3}",
     u8"UpdateFileLog 无法记录 {1}（FileVer {2}），因此不应用该文件：{3}"},
    {AppliedButNotLogged, u8"{1} was applied, but UpdateFileLog could not record it: {2}",
     u8"{1} 已应用，但 UpdateFileLog 无法记录它：{2}"},
    {MainProgramKeepsDiffering,
     u8"Cannot refresh the main program {1} from \"{2}\" to \"{3}\": the copy keeps differing from it in modified "
     u8"time or size",
     u8"无法从 \"{2}\" 更新主程序 {1} 到 \"{3}\"：副本的修改时间或大小始终与之不同"},
    {MainProgramCannotRefresh, u8"Cannot refresh the main program {1} from \"{2}\" to",
     u8"无法从 \"{2}\" 更新主程序 {1} 到"},
    {MainProgramNotRecorded, u8". Tried {1} times; the new version is not recorded, and the next start tries again",
     u8"。已尝试 {1} 次；新版本未记录，下次启动时将重试"},

    {FileNameNotBare, u8"DownLoadFileLog: FileName '{1}' is not a bare file name",
     u8"DownLoadFileLog：FileName '{1}' 不是单纯的文件名"},
    {FileNameReserved, u8"DownLoadFileLog: FileName '{1}' is a name UpdateExe keeps for itself",
     u8"DownLoadFileLog：FileName '{1}' 是 UpdateExe 留作自用的名称"},
    {FileNameFault, u8"DownLoadFileLog: FileName '{1}' {2}", u8"DownLoadFileLog：FileName '{1}' {2}"},
    {UpdatePathFolderFault, u8"DownLoadFileLog: UpdatePath '{1}' of {2}: the folder '{3}' {4}",
     u8"DownLoadFileLog：{2} 的 UpdatePath '{1}'：文件夹 '{3}' {4}"},
    {ProgramNamePartFault, u8"Update.ini: {1} '{2}': '{3}' {4}", u8"Update.ini：{1} '{2}'：'{3}' {4}"},
    {FaultColon, u8"holds ':', a drive or a data stream", u8"含有 ':'（驱动器或数据流）"},
    {FaultTrailingDot, u8"ends with a dot or blank, which Windows drops", u8"以点或空格结尾，Windows 会将其去掉"},
    {FaultDevice, u8"names the device {1} on Windows", u8"在 Windows 上是设备名 {1}"},
    {UpdatePathLeadsOutside, u8"DownLoadFileLog: UpdatePath '{1}' of {2} leads outside the installation directory",
     u8"DownLoadFileLog：{2} 的 UpdatePath '{1}' 指向安装目录之外"},
    {ProgramNameLeadsOutside, u8"Update.ini: {1} '{2}' leads outside the installation directory",
     u8"Update.ini：{1} '{2}' 指向安装目录之外"},

    {TemporaryOutside, u8"The temporary file {1} lies outside the installation directory {2}",
     u8"临时文件 {1} 位于安装目录 {2} 之外"},
    {CannotReadTemporaries, u8"Cannot read the list of the run's temporary files", u8"无法读取本次运行的临时文件列表"},
    {CannotWriteTemporaries, u8"Cannot write the list of the run's temporary files", u8"无法写入本次运行的临时文件列表"},
    {CannotRecordTemporary, u8"Cannot record the temporary file {1} in {2}: the list holds no more",
     u8"无法将临时文件 {1} 记入 {2}：列表已满"},
    {CannotRecordTemporariesIn, u8"Cannot record the run's temporary files in", u8"无法记录本次运行的临时文件到"},

    {StreamWriteErrorWhileExpanding, u8"{1} while expanding", u8"{1}（解压时）"},
    {RegistrationTimedOut, u8"it did not return within {1}", u8"它在 {1} 内没有返回"},
    {RegistrationCrashed, u8"it crashed ({1})", u8"它崩溃了（{1}）"},
    {RegistrationCannotStart, u8"cannot start", u8"无法启动"},
    {RegistrationExitCode, u8"it ended its process with exit code {1}", u8"它以退出代码 {1} 结束了进程"},
    {DurationMs, u8"{1} ms", u8"{1} 毫秒"},
    {DurationSecond, u8"{1} second", u8"{1} 秒"},
    {DurationSeconds, u8"{1} seconds", u8"{1} 秒"},
    {RestartNotReplacedLead, u8"Files queued for the restart will not be replaced: {1}", u8"排队等待重启的文件将不会被替换：{1}"},
    {RenamerProgramMissing, u8"the program \"{1}\" that {2} starts is missing.", u8"{2} 启动的程序 \"{1}\" 不存在。"},
    {RenamerNotEnabled, u8"{1} is not enabled ({2}).", u8"{1} 未启用（{2}）。"},
    {RenamerNotInstalled, u8"{1}, which carries them out, is not installed.", u8"执行替换的 {1} 未安装。"},

    {UnknownException, u8"Unknown exception", u8"未知异常"},
    {NoDisplay, u8"no display to show its windows on (DISPLAY is not set); nothing was updated.",
     u8"没有可显示窗口的显示器（未设置 DISPLAY）；未更新任何文件。"},
    {AnotherUpdater, u8"another UpdateExe is updating this installation ({1}); this one ends without changing anything.",
     u8"另一个 UpdateExe 正在更新此安装（{1}）；本程序结束，未做任何更改。"},
    {OptionNeedsLogFile, u8"{1} needs the file to write the log to", u8"{1} 需要指定写入日志的文件"},
    {HelpUsage, u8"Usage: {1}", u8"用法：{1}"},
    {HelpIntro,
     u8"Applies the files downloaded into the installation's update folder.\n"
     u8"Without options it shows its window and ends with exit code 0.",
     u8"应用下载到安装目录的更新文件夹中的文件。\n不带选项时显示窗口，并以退出代码 0 结束。"},
    {HelpUnattended,
     u8"no window: a held file is left for the restart,\n"
     u8"                no restart is made; errors go to stderr and the log",
     u8"不显示窗口：被占用的文件留待重启时替换，\n"
     u8"                不重启；错误写到 stderr 和日志"},
    {HelpLog, u8"append the run's log to FILE (UTF-8)", u8"把本次运行的日志追加到 FILE（UTF-8）"},
    {HelpVersion, u8"print the version and end", u8"显示版本后结束"},
    {HelpHelp, u8"print this help and end", u8"显示本帮助后结束"},
    {HelpExitCodes, u8"With an option the exit code tells the outcome:", u8"带选项时，退出代码表示结果："},
    {HelpDone, u8"done, or nothing to do", u8"完成，或无事可做"},
    {HelpRestartNeeded, u8"done; files wait for the restart", u8"完成；有文件等待重启"},
    {HelpStopped, u8"stopped by the user", u8"被用户中止"},
    {HelpFailed, u8"failed", u8"失败"},
    {HelpAnotherUpdater, u8"another UpdateExe works on this installation", u8"另一个 UpdateExe 正在处理此安装"},
    // Label1 once the run has failed: short enough to end left of the indicator.
    {UpdateFailed, u8"Update failed.", u8"升级失败，请关闭窗口。"},
    {DownloadsGridName, u8"Downloaded files", u8"已下载的文件"},
    {AppliedGridName, u8"Applied files", u8"已升级的文件"},
    {IndicatorName, u8"Update in progress", u8"升级进行中"},
    {ProgressFileName, u8"File being updated", u8"正在升级的文件"},
    {ProgressPlaceName, u8"Update progress", u8"升级进度"},
    // FrmInfo's caption of the programs that hold the file, also its list's name.
    {HoldersCaption, u8"Programs using this file:", u8"占用该文件的程序:"},
};

constexpr bool InIdOrder() {
    for (std::size_t i = 0; i < std::size(kMessages); ++i) {
        if (kMessages[i].id != static_cast<MessageId>(i)) return false;
    }
    return std::size(kMessages) == kMessageCount;
}
static_assert(InIdOrder(), "one row per message id, in the order of the ids");

std::atomic<Language> g_language{Language::English};

}  // namespace

void SetLanguage(Language language) { g_language.store(language, std::memory_order_relaxed); }

Language CurrentLanguage() { return g_language.load(std::memory_order_relaxed); }

std::string_view MessageText(MessageId id, Language language) {
    const auto index = static_cast<std::size_t>(id);
    if (index >= kMessageCount) return {};
    const MessageRow& row = kMessages[index];
    const char8_t* text = language == Language::Chinese ? row.chinese : row.english;
    return reinterpret_cast<const char*>(text);
}

std::string FillPlaceholders(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size() + 64);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '{' && i + 1 < pattern.size() && pattern[i + 1] == '{') {
            out += '{';
            ++i;
            continue;
        }
        if (c == '{' && i + 2 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9' &&
            pattern[i + 2] == '}') {
            const auto n = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (n < args.size()) out += args.begin()[n];
            i += 2;
            continue;
        }
        out += c;
    }
    return out;
}

std::string Message(MessageId id, std::initializer_list<std::string_view> args) {
    return FillPlaceholders(MessageText(id, CurrentLanguage()), args);
}

Language LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang) {
    const char* chosen = "";
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value != nullptr && *value != '\0') {
            chosen = value;
            break;
        }
    }
    return std::string_view(chosen).starts_with("zh") ? Language::Chinese : Language::English;
}

Language LanguageFromLangId(std::uint16_t langId) {
    constexpr std::uint16_t kPrimaryChinese = 0x04;  // LANG_CHINESE
    return (langId & 0x3ff) == kPrimaryChinese ? Language::Chinese : Language::English;
}

}  // namespace ue
