#include "cli/Verbs.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using Verbs::Verb;

struct Case {
    std::vector<std::string> args;
    std::optional<Verb> verb; // none: a usage error
    std::string operand = {};
    bool raw = false;
    bool watch = false;
};

TEST(Verbs, EveryFormAndEveryMistake) {
    const std::vector<Case> cases{
        {{}, Verb::tray},
        {{"--check"}, Verb::check},
        {{"--check", "--raw"}, Verb::check, "", true},
        {{"--raw", "extra", "--check"}, Verb::check, "", true}, // older scripts pass more
        {{"--switch", "work"}, Verb::switchTo, "work"},
        {{"--switch", "--json"}, Verb::switchTo, "--json"}, // a profile may be named anything
        {{"--refresh"}, Verb::refresh},
        {{"--json"}, Verb::json},
        {{"--waybar"}, Verb::waybar},
        {{"--waybar", "--watch"}, Verb::waybar, "", false, true},
        {{"--watch", "--waybar"}, Verb::waybar, "", false, true},
        {{"--list-profiles"}, Verb::listProfiles},
        {{"--statusline"}, Verb::statusLine},
        {{"x", "--statusline", "--check"}, Verb::statusLine}, // claude's call wins over anything
        {{"--statusline-install", "~/.claude"}, Verb::statusLineInstall, "~/.claude"},
        {{"--help"}, Verb::help},
        {{"-h"}, Verb::help},
        {{"--version"}, Verb::version},
        {{"-V"}, Verb::version},
        {{"--statusline-install"}, std::nullopt},
        {{"--switch"}, std::nullopt},
        {{"--switch", "a", "b"}, std::nullopt},
        {{"--json", "--refresh"}, std::nullopt},
        {{"--watch"}, std::nullopt},
        {{"--waybar", "--watch", "--watch"}, std::nullopt},
        {{"--list-profiles", "x"}, std::nullopt},
        {{"--help", "--version"}, std::nullopt},
        {{"--bogus"}, std::nullopt},
        {{"--Check"}, std::nullopt},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.args)
            shown += a + " ";
        SCOPED_TRACE(shown);
        const Verbs::Command command = Verbs::parse(c.args);
        if (!c.verb) {
            EXPECT_TRUE(command.error);
            continue;
        }
        ASSERT_FALSE(command.error) << *command.error;
        EXPECT_EQ(command.verb, *c.verb);
        EXPECT_EQ(command.operand, c.operand);
        EXPECT_EQ(command.raw, c.raw);
        EXPECT_EQ(command.watch, c.watch);
    }
    EXPECT_EQ(*Verbs::parse(std::vector<std::string>{"--bogus"}).error, "unknown option --bogus");
    EXPECT_EQ(*Verbs::parse(std::vector<std::string>{"--help", "-V"}).error, "one option at a time");
}

// Where a verb runs is what the entry point loads for it: the status line must never load the
// program module, and only the tray needs a display.
TEST(Verbs, WhereEachVerbRuns) {
    const auto runs = [](std::vector<std::string> args) { return Verbs::parse(args).option().runs; };
    EXPECT_EQ(runs({"--statusline"}), Verbs::Runs::entry);
    EXPECT_EQ(runs({"--statusline-install", "d"}), Verbs::Runs::entry);
    EXPECT_EQ(runs({"--list-profiles"}), Verbs::Runs::entry);
    EXPECT_EQ(runs({"--check"}), Verbs::Runs::program);
    for (const char* verb : {"--refresh", "--json", "--waybar"})
        EXPECT_EQ(runs({verb}), Verbs::Runs::busClient) << verb;
    EXPECT_EQ(runs({"--switch", "a"}), Verbs::Runs::busClient);
    for (const Verbs::Option& o : Verbs::options())
        EXPECT_EQ(o.needsDisplay, o.verb == Verb::tray) << o.name;
}

TEST(Verbs, TheHelpListsTheTable) {
    const std::string text = Verbs::usage();
    EXPECT_EQ(text.rfind("usage: ulmet [--check [--raw] | --switch PROFILE | ", 0), 0u) << text;
    for (const Verbs::Option& o : Verbs::options()) {
        const std::string name = o.name.empty() ? "(none)" : std::string(o.name);
        const std::string left = o.operand.empty() ? name : name + " " + std::string(o.operand);
        EXPECT_NE(text.find("\n  " + left + " "), std::string::npos) << name;
        EXPECT_NE(text.find(std::string(o.help.substr(0, o.help.find('\n')))), std::string::npos) << name;
        const std::string synopsis = text.substr(0, text.find("\n  (none)"));
        if (!o.name.empty()) {
            EXPECT_NE(synopsis.find(name), std::string::npos) << name << " is in the synopsis";
        }
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 110u) << line;
}

} // namespace
