// The cost of one `ulmet --statusline` call as claude makes it: spawn, the document on standard
// input, the reading filed, the line read back. Baseline of the same run: /bin/true spawned the
// same way with the same input (the bare price of a process).
//
// With --verbs (bench/verbs-bench.sh, MeterKeeper running on the session bus): the whole process
// of `ulmet --json` and `ulmet --waybar` as a status bar runs it, against `ulmet --statusline`
// on the fixture as the baseline.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

double callMs(const std::vector<std::string>& argv, const std::string& input) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

struct Figures {
    double median, p95;
};

Figures measure(const std::vector<std::string>& argv, const std::string& input, int calls) {
    std::vector<double> times;
    for (int i = 0; i < calls; ++i)
        times.push_back(callMs(argv, input));
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[times.size() * 95 / 100]};
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: statusline_bench ULMET INPUT.json [CALLS]\n");
        return 2;
    }
    const std::string ulmet = argv[1], input = argv[2];
    const int calls = argc > 3 ? std::atoi(argv[3]) : 500;
    if (argc > 4 && std::string(argv[4]) == "--verbs") {
        measure({ulmet, "--statusline"}, input, 20);
        const Figures base = measure({ulmet, "--statusline"}, input, calls);
        std::printf("baseline ulmet --statusline on the fixture, %d calls: median %.2f ms, p95 %.2f ms\n",
                    calls, base.median, base.p95);
        for (const char* verb : {"--json", "--waybar"}) {
            measure({ulmet, verb}, "/dev/null", 20);
            const Figures ours = measure({ulmet, verb}, "/dev/null", calls);
            std::printf(
                "ulmet %s from the running MeterKeeper, %d calls: median %.2f ms, p95 %.2f ms (ratio %.1f)\n",
                verb, calls, ours.median, ours.p95, ours.median / base.median);
        }
        return 0;
    }
    // A home of its own: the readings go there.
    const auto home = std::filesystem::temp_directory_path() / "ulmet-statusline-bench";
    std::filesystem::create_directories(home);
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    // The reading names the account of claude's state file, ~/.claude.json for ~/.claude.
    ::setenv("CLAUDE_CONFIG_DIR", (home / ".claude").c_str(), 1);
    std::filesystem::create_directories(home / ".claude");
    const Figures base = measure({"/bin/true"}, input, calls);
    std::printf("baseline /bin/true spawned the same way, %d calls: median %.2f ms, p95 %.2f ms\n", calls,
                base.median, base.p95);
    // No state file; one of 1 MB with the account after the projects; one of 30 MB (over the bound:
    // not read, the reading stays unattributed).
    for (const std::size_t megabytes : {0, 1, 30}) {
        const auto stateFile = home / ".claude.json";
        std::filesystem::remove(stateFile);
        if (megabytes > 0) {
            // Projects with a history of prompts, as claude keeps them.
            std::string text = "{\"projects\": {";
            for (int i = 0; text.size() < megabytes * 1000000; ++i)
                text +=
                    (i ? ",\"/home/dev/p" : "\"/home/dev/p") + std::to_string(i) +
                    "\": {\"allowedTools\": [], \"history\": [{\"display\": \"fix the failing {tests} in "
                    "the parser and explain why \\\"the old one\\\" broke on empty input; keep the public "
                    "interface as it is\", \"pastedContents\": {}}], \"hasTrustDialogAccepted\": true}";
            text += "}, \"oauthAccount\": {\"emailAddress\": \"dev@example.com\"}}";
            std::ofstream(stateFile) << text;
        }
        measure({ulmet, "--statusline"}, input, 20); // warm the page cache
        const Figures ours = measure({ulmet, "--statusline"}, input, calls);
        std::printf(
            "ulmet --statusline, state file %zu MB, %d calls: median %.2f ms, p95 %.2f ms (ratio %.1f)\n",
            megabytes, calls, ours.median, ours.p95, ours.median / base.median);
    }
    std::filesystem::remove_all(home);
    return 0;
}
