#include "cli/Verbs.h"

#include <algorithm>
#include <array>

namespace Verbs {
namespace {

using enum Verb;

constexpr Option row(std::string_view name, std::string_view operand, std::string_view help,
                     std::optional<Verb> verb, Runs runs = Runs::entry, bool needsDisplay = false,
                     std::string_view modifies = {}) {
    Option o;
    o.name = name;
    o.operand = operand;
    o.help = help;
    o.verb = verb;
    o.runs = runs;
    o.needsDisplay = needsDisplay;
    o.modifies = modifies;
    return o;
}

constexpr std::array kOptions{
    row("", "", "run MeterKeeper in the tray (a second start shows the running one's panel)", tray,
        Runs::program, true),
    row("--check", "", "print every profile's login, account and usage windows as text, and exit", check,
        Runs::program),
    row("--raw", "", "with --check: also print the HTTP status and body of each usage answer", std::nullopt,
        Runs::program, false, "--check"),
    row("--switch", "PROFILE",
        "make PROFILE's login (a name, e-mail address or id) claude's live login;\n"
        "through the running MeterKeeper when there is one",
        switchTo, Runs::busClient),
    row("--refresh", "", "have the running MeterKeeper read every profile now", refresh, Runs::busClient),
    row("--json", "", "print every profile's readings as one JSON document (see ulmet(1))", json,
        Runs::busClient),
    row("--waybar", "", "print one line for a waybar custom module (also i3blocks, polybar)", waybar,
        Runs::busClient),
    row("--watch", "", "with --waybar: a new line at every change, for as long as it runs", std::nullopt,
        Runs::busClient, false, "--waybar"),
    row("--list-profiles", "", "print the configured profiles' names, one per line", listProfiles),
    row("--statusline", "", "what claude runs as its status line: file its reading, print one line",
        statusLine),
    row("--statusline-install", "DIR", "make ulmet the status line of the claude configuration directory DIR",
        statusLineInstall),
    row("--help", "", "print this help, and exit", help),
    row("--version", "", "print the version, and exit", version),
};

// The verbs that ask the running MeterKeeper, in their exact forms.
Command busVerb(std::span<const std::string> args) {
    Command c;
    const auto is = [&](std::initializer_list<std::string_view> expected) {
        return std::equal(args.begin(), args.end(), expected.begin(), expected.end());
    };
    if (args.size() == 2 && args[0] == "--switch") {
        c.verb = switchTo;
        c.operand = args[1];
    } else if (is({"--refresh"})) {
        c.verb = refresh;
    } else if (is({"--json"})) {
        c.verb = json;
    } else if (is({"--waybar"}) || is({"--waybar", "--watch"}) || is({"--watch", "--waybar"})) {
        c.verb = waybar;
        c.watch = args.size() == 2;
    } else {
        c.error = args[0] == "--switch" ? "--switch takes one profile: its name, e-mail address or id"
                                        : "these options do not go together";
    }
    return c;
}

} // namespace

std::span<const Option> options() {
    return kOptions;
}

const Option& Command::option() const {
    for (const Option& o : kOptions)
        if (o.verb == verb)
            return o;
    return kOptions[0];
}

Command parse(std::span<const std::string> args) {
    Command c;
    const auto at = [&](std::string_view name) { return std::find(args.begin(), args.end(), name); };
    const auto has = [&](std::string_view name) { return at(name) != args.end(); };
    if (has("--statusline")) {
        c.verb = statusLine;
        return c;
    }
    if (const auto it = at("--statusline-install"); it != args.end()) {
        c.verb = statusLineInstall;
        if (it + 1 == args.end())
            c.error = "--statusline-install takes DIR, a claude configuration directory (e.g. ~/.claude)";
        else
            c.operand = *(it + 1);
        return c;
    }
    if (has("--check")) {
        c.verb = check;
        c.raw = has("--raw");
        return c;
    }
    for (const Option& o : kOptions)
        if (o.runs == Runs::busClient && has(o.name))
            return busVerb(args);
    if (args.empty())
        return c;
    if (args.size() == 1) {
        const std::string& a = args[0];
        if (a == "--list-profiles")
            c.verb = listProfiles;
        else if (a == "--help" || a == "-h")
            c.verb = help;
        else if (a == "--version" || a == "-V")
            c.verb = version;
        if (c.verb != tray)
            return c;
    }
    const auto odd = std::find_if(args.begin(), args.end(), [](const std::string& a) {
        return a != "--help" && a != "-h" && a != "--version" && a != "-V";
    });
    c.error = odd == args.end() ? "one option at a time" : "unknown option " + *odd;
    return c;
}

Command parse(int argc, char** argv) {
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    return parse(args);
}

std::string usage() {
    // The synopsis: each verb with its modifiers, wrapped before 100 columns.
    std::vector<std::string> forms;
    for (const Option& o : kOptions) {
        if (!o.verb || o.name.empty())
            continue;
        std::string form(o.name);
        if (!o.operand.empty())
            form += " " + std::string(o.operand);
        for (const Option& m : kOptions)
            if (m.modifies == o.name)
                form += " [" + std::string(m.name) + "]";
        forms.push_back(std::move(form));
    }
    std::string text = "usage: ulmet [";
    std::size_t column = text.size();
    for (std::size_t i = 0; i < forms.size(); ++i) {
        std::string piece = i == 0 ? forms[i] : " | " + forms[i];
        if (column + piece.size() > 100) {
            text += "\n             ";
            column = 13;
        }
        text += piece;
        column += piece.size();
    }
    text += "]\n";
    // One line per option, its help in a column of its own.
    constexpr std::size_t kColumn = 28;
    for (const Option& o : kOptions) {
        std::string left = "  ";
        left += o.name.empty() ? std::string("(none)") : std::string(o.name);
        if (!o.operand.empty())
            left += " " + std::string(o.operand);
        left.resize(std::max(kColumn, left.size() + 1), ' ');
        std::string_view help = o.help;
        for (std::size_t start = 0;;) {
            const std::size_t end = help.find('\n', start);
            text += (start == 0 ? left : std::string(kColumn, ' '));
            text += help.substr(start, end - start);
            text += '\n';
            if (end == std::string_view::npos)
                break;
            start = end + 1;
        }
    }
    return text;
}

} // namespace Verbs
