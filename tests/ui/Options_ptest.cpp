// The command line and the exit codes, in both styles on every platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/Options.h"

namespace ue {
namespace {

TEST(Options, ParsedInEitherStyleUnknownArgumentsIgnored) {
    using Args = std::vector<std::string>;
    constexpr auto P = OptionStyle::Posix;
    constexpr auto W = OptionStyle::Windows;
    struct Case {
        OptionStyle style;
        Args args;
        bool any, unattended, version, help;
        std::optional<std::string> log;
        bool error = false;
    };
    for (const Case& c : {
             // What the suite's programs start it with: no options, exit code 0.
             Case{P, {}, false, false, false, false, {}},
             Case{P, {"-platform", "offscreen", "--ignored", "x"}, false, false, false, false, {}},
             Case{W, {"/quiet", "-unattended", "unattended"}, false, false, false, false, {}},
             Case{P, {"--unattended"}, true, true, false, false, {}},
             Case{P, {"--log", "/var/log/u.log", "--unattended"}, true, true, false, false,
                  "/var/log/u.log"},
             // On Linux "/unattended" is a path and names are exact.
             Case{P, {"/unattended", "--UNATTENDED", "/?"}, false, false, false, false, {}},
             Case{P, {"--version", "--help"}, true, false, true, true, {}},
             Case{W, {"/unattended", "/log", "C:\\Logs\\update.log"}, true, true, false, false,
                  "C:\\Logs\\update.log"},
             Case{W, {"/Unattended", "--LOG", "u.log", "/VERSION"}, true, true, true, false,
                  "u.log"},
             Case{W, {"/?"}, true, false, false, true, {}},
             Case{W, {"--help"}, true, false, false, true, {}},
             // A log option without its file is refused, not a file named
             // like the next option (or an empty name).
             Case{P, {"--log"}, true, false, false, false, {}, true},
             Case{P, {"--log", "--unattended"}, true, true, false, false, {}, true},
             Case{W, {"/log", "/unattended"}, true, true, false, false, {}, true},
             Case{W, {"/log", ""}, true, false, false, false, {}, true},
         }) {
        std::string name;
        for (const std::string& a : c.args) name += "[" + a + "]";
        const Options o = ParseOptions(c.args, c.style);
        EXPECT_EQ(o.any, c.any) << name;
        EXPECT_EQ(o.unattended, c.unattended) << name;
        EXPECT_EQ(o.version, c.version) << name;
        EXPECT_EQ(o.help, c.help) << name;
        EXPECT_EQ(o.logFile, c.log) << name;
        EXPECT_EQ(!o.error.empty(), c.error) << name << " " << o.error;
    }
}

TEST(Options, ExitCodesOneTableZeroWithoutOptions) {
    struct Row { Outcome outcome; int windows, posix; };
    for (const Row& r : {
             Row{Outcome::Done, 0, 0},
             Row{Outcome::RestartNeeded, 3010, 10},
             Row{Outcome::StoppedByUser, 1602, 2},
             Row{Outcome::Failed, 1603, 1},
             Row{Outcome::AnotherUpdater, 1618, 3},
         }) {
        EXPECT_EQ(ExitCode(r.outcome, OptionStyle::Windows), r.windows);
        EXPECT_EQ(ExitCode(r.outcome, OptionStyle::Posix), r.posix);
        EXPECT_EQ(ProgramExitCode(Options{}, r.outcome), 0);
        Options given;
        given.any = true;
        EXPECT_EQ(ProgramExitCode(given, r.outcome), ExitCode(r.outcome, ThisOptionStyle()));
        // The help lists every code of its style.
        for (OptionStyle style : {OptionStyle::Posix, OptionStyle::Windows}) {
            const std::string code = "\n  " + std::to_string(ExitCode(r.outcome, style)) + " ";
            EXPECT_NE(HelpText(style).find(code), std::string::npos) << code;
        }
    }
    EXPECT_EQ(VersionText().rfind("UpdateExe ", 0), 0u);
    EXPECT_EQ(VersionText().back(), '\n');
}

}  // namespace
}  // namespace ue
