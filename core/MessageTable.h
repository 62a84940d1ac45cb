// Our own user-visible messages, each in English and in Chinese (Simplified),
// chosen once per process by the user's UI language. The fixed texts that
// the windows and the operations must show word for word are not here: they
// stay the same in every language.
//
// A message has positional placeholders {1} ... {9}, so that each language
// puts the path, the file name or the reason where its word order wants it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace ue {

enum class Language : unsigned char { English, Chinese };

// One id per message; the table in MessageTable.cpp holds a row for each, in
// this order.
enum class MessageId : int {
    // records: the update database
    DatabaseMissing,
    DatabaseCannotRead,
    DatabaseEmpty,
    DatabaseNotADatabase,
    DatabaseCannotOpenWith,
    DatabaseCannotOpenThroughDriver,
    DatabaseCannotReadWith,
    DatabaseNotWritable,
    DatabaseReadOnly,
    DatabaseTrialWriteFailedBecause,
    DatabaseTrialWriteFailed,
    DatabaseCreateJournal,
    DatabaseFolderHint,
    DatabaseNoBackend,
    DatabaseNoBackendAtAll,
    DatabaseBackendsLinked,
    DatabaseNoOdbcDriver,
    FormatSqlite,
    FormatAccess,
    NeedsSqlite,
    NeedsAccess,
    TableClosed,
    TableNotConnected,
    TableNoCurrentRow,
    IniLinkNotFollowed,
    IniLinkOutside,
    IniFolderMissing,
    IniFolderUnreachable,
    IniFolderNotWritable,
    IniIsDirectory,
    IniNotRegular,
    IniReadOnly,
    // run: the installation and its rows
    CannotOpenInstallation,
    CannotRecordVersion,
    RowCorrectedFirst,
    IsClientNotBoolean,
    FileVerEmpty,
    FileVerNotInteger,
    TwoRowsTwoFolders,
    OwnRecord,
    TargetOf,
    OwnDatabase,
    OwnDatabaseJournal,
    OwnDatabaseSharedMemory,
    OwnDatabaseLock,
    OwnSettingsFile,
    OwnInstallationLock,
    OwnTemporariesJournal,
    RowNumber,
    RowNumberAid,
    RoleSettingsFile,
    RoleUpdateFolder,
    RoleBackupFolder,
    RoleFolderOf,
    RoleDownloadedFile,
    RoleFolderOfDownload,
    RoleFolder,
    CannotLookForKept,
    CannotKeepBesideAs,
    CannotExpandInto,
    LeadsOutsideInstallation,
    DownloadIsLink,
    DownloadNotRegular,
    CannotLookAtDownload,
    NoFileName,
    DownloadMissing,
    NeitherDownloadNorInstalled,
    TriedAgain,
    FileSizeInvalid,
    FileSizeDiffers,
    FileHashInvalid,
    FileHashDiffers,
    CannotReadDownload,
    CannotCreateFolderOf,
    ExpansionInTheWay,
    CannotRestoreDownload,
    CannotKeepDownload,
    CannotLookAtExpanded,
    CannotReadExpanded,
    CannotReplace,
    CannotCopy,
    CannotCopyBeside,
    CannotQueueForRestart,
    LogCannotRecordNotApplied,
    AppliedButNotLogged,
    MainProgramKeepsDiffering,
    MainProgramCannotRefresh,
    MainProgramNotRecorded,
    // run: the names a row gives
    FileNameNotBare,
    FileNameReserved,
    FileNameFault,
    UpdatePathFolderFault,
    ProgramNamePartFault,
    FaultColon,
    FaultTrailingDot,
    FaultDevice,
    UpdatePathLeadsOutside,
    ProgramNameLeadsOutside,
    // run: the run's list of temporary files
    TemporaryOutside,
    CannotReadTemporaries,
    CannotWriteTemporaries,
    CannotRecordTemporary,
    CannotRecordTemporariesIn,
    // sysops
    StreamWriteErrorWhileExpanding,
    RegistrationTimedOut,
    RegistrationCrashed,
    RegistrationCannotStart,
    RegistrationExitCode,
    DurationMs,
    DurationSecond,
    DurationSeconds,
    RestartNotReplacedLead,
    RenamerProgramMissing,
    RenamerNotEnabled,
    RenamerNotInstalled,
    // ui
    UnknownException,
    NoDisplay,
    AnotherUpdater,
    OptionNeedsLogFile,
    HelpUsage,
    HelpIntro,
    HelpUnattended,
    HelpLog,
    HelpVersion,
    HelpHelp,
    HelpExitCodes,
    HelpDone,
    HelpRestartNeeded,
    HelpStopped,
    HelpFailed,
    HelpAnotherUpdater,
    // ui: the windows' own texts and what screen readers say for their parts
    UpdateFailed,
    DownloadsGridName,
    AppliedGridName,
    IndicatorName,
    ProgressFileName,
    ProgressPlaceName,
    HoldersCaption,
    Count
};

inline constexpr std::size_t kMessageCount = static_cast<std::size_t>(MessageId::Count);

// The process-wide language; English until the program chooses at start.
void SetLanguage(Language language);
Language CurrentLanguage();

// The message's text with its placeholders unfilled.
std::string_view MessageText(MessageId id, Language language);

// `pattern` with {n} replaced by args[n - 1]; a placeholder without an
// argument is left out, "{{" gives "{".
std::string FillPlaceholders(std::string_view pattern, std::initializer_list<std::string_view> args);

// The message in the current language, filled.
std::string Message(MessageId id, std::initializer_list<std::string_view> args = {});

// The user's language from the POSIX locale variables (null or empty: not
// set): the first set of LC_ALL, LC_MESSAGES, LANG; Chinese when it starts
// with "zh", English otherwise (C, POSIX, en_US, ...).
Language LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang);
// The user's language from a Windows language id: Chinese when its primary
// language is LANG_CHINESE (0x04), English otherwise.
Language LanguageFromLangId(std::uint16_t langId);

// The user's UI language as this platform tells it (MessageTable_posix.cpp,
// MessageTable_win32.cpp): the locale variables, GetUserDefaultUILanguage.
Language UserLanguage();

}  // namespace ue
