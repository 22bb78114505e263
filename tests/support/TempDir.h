#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// A fresh directory under $TMPDIR, removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& p) const { return m_path / p; }

private:
    std::filesystem::path m_path;
};

// Writes `bytes` to `path` (creating parent directories); fails the test on error.
void writeFile(const std::filesystem::path& path, std::string_view bytes);
// The whole file; none when it cannot be read.
std::optional<std::string> readFile(const std::filesystem::path& path);
// Permission bits of a file (without following a final symbolic link).
mode_t fileMode(const std::filesystem::path& path);

struct ProcessResult {
    int exitCode = -1; // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs `argv` with the given environment (replacing the whole environment) and collects its
// output. Standard input is `stdinPath`.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                         const std::string& stdinPath = "/dev/null");

// A program left running while the test goes on: its standard output is read line by line,
// its standard error goes to the test's. Killed (and waited for) at destruction at the latest.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env);
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;
    ~BackgroundProcess();

    // The next line of its output (without the line feed); none when none comes within `timeoutMs`
    // or the output ended.
    std::optional<std::string> readLine(int timeoutMs);
    // Sends `signal` and waits for the end; the exit status, or -1 when it did not exit normally.
    int stop(int signal = 15);

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
};

} // namespace testsupport
