#include "ui/Options.h"

#include <array>

#include "core/MessageTable.h"
#include "core/Text.h"

#ifndef UE_VERSION
#error "UE_VERSION comes from the project's version in CMake"
#endif

namespace ue {
namespace {

enum class Name { Unattended, Log, Version, Help, None };

// The option an argument names, in either form the style takes.
Name NameOf(const std::string& arg, OptionStyle style) {
    static constexpr std::array<std::pair<const char*, Name>, 4> kNames{{
        {"unattended", Name::Unattended},
        {"log", Name::Log},
        {"version", Name::Version},
        {"help", Name::Help},
    }};
    const bool windows = style == OptionStyle::Windows;
    if (windows && arg == "/?") return Name::Help;
    std::string bare;
    if (arg.rfind("--", 0) == 0) {
        bare = arg.substr(2);
    } else if (windows && arg.size() > 1 && arg[0] == '/') {
        bare = arg.substr(1);
    } else {
        return Name::None;
    }
    for (const auto& [text, name] : kNames) {
        if (windows ? text::EqualsNoCaseAscii(bare, text) : bare == text) return name;
    }
    return Name::None;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args, OptionStyle style) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        switch (NameOf(args[i], style)) {
        case Name::Unattended:
            options.unattended = true;
            break;
        case Name::Version:
            options.version = true;
            break;
        case Name::Help:
            options.help = true;
            break;
        case Name::Log:
            // An option where the file should be is a forgotten file, not a
            // file named like an option.
            if (i + 1 < args.size() && !args[i + 1].empty() &&
                NameOf(args[i + 1], style) == Name::None) {
                options.logFile = args[++i];
            } else if (options.error.empty()) {
                options.error = Message(MessageId::OptionNeedsLogFile, {args[i]});
            }
            break;
        case Name::None:
            continue;
        }
        options.any = true;
    }
    return options;
}

int ExitCode(Outcome outcome, OptionStyle style) {
    const bool windows = style == OptionStyle::Windows;
    switch (outcome) {
    case Outcome::Done:
        return 0;
    case Outcome::RestartNeeded:
        return windows ? 3010 : 10;
    case Outcome::StoppedByUser:
        return windows ? 1602 : 2;
    case Outcome::Failed:
        return windows ? 1603 : 1;
    case Outcome::AnotherUpdater:
        return windows ? 1618 : 3;
    }
    return windows ? 1603 : 1;
}

int ProgramExitCode(const Options& options, Outcome outcome) {
    return options.any ? ExitCode(outcome, ThisOptionStyle()) : 0;
}

std::string VersionText() { return "UpdateExe " UE_VERSION "\n"; }

std::string HelpText(OptionStyle style) {
    const bool windows = style == OptionStyle::Windows;
    const std::string p = windows ? "/" : "--";
    std::string text = Message(MessageId::HelpUsage, {"UpdateExe [" + p + "unattended] [" + p + "log FILE] [" +
                                                      p + "version] [" + p + "help]"}) +
                       "\n" + Message(MessageId::HelpIntro) + "\n\n" +
                       "  " + p + "unattended  " + Message(MessageId::HelpUnattended) + "\n" +
                       "  " + p + "log FILE    " + Message(MessageId::HelpLog) + "\n" +
                       "  " + p + "version     " + Message(MessageId::HelpVersion) + "\n" +
                       "  " + p + "help        " + Message(MessageId::HelpHelp) + "\n\n" +
                       Message(MessageId::HelpExitCodes) + "\n";
    const std::pair<Outcome, MessageId> rows[] = {
        {Outcome::Done, MessageId::HelpDone},
        {Outcome::RestartNeeded, MessageId::HelpRestartNeeded},
        {Outcome::StoppedByUser, MessageId::HelpStopped},
        {Outcome::Failed, MessageId::HelpFailed},
        {Outcome::AnotherUpdater, MessageId::HelpAnotherUpdater},
    };
    for (const auto& [outcome, meaning] : rows) {
        const std::string code = std::to_string(ExitCode(outcome, style));
        text += "  " + code + std::string(6 - code.size(), ' ') + Message(meaning) + "\n";
    }
    return text;
}

}  // namespace ue
