#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <system_error>

// Small, exact file operations shared by every component that owns a file.
namespace FileIO {

// A file descriptor that closes itself.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// Reads a whole regular file. Fails (with `error` set) when it cannot be opened or read, when it
// is not a regular file, or when it is larger than `maxBytes` (std::errc::file_too_large).
std::optional<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes,
                                    std::error_code& error);

// The same into `into` (its capacity is reused; on failure its content is unspecified).
bool readFileInto(const std::filesystem::path& path, std::size_t maxBytes, std::string& into,
                  std::error_code& error);

// The file a symbolic link leads to, or `path` itself (also when it cannot be resolved): what an
// atomic replacement should replace so that the link stays a link.
std::filesystem::path linkTarget(const std::filesystem::path& path);

// Replaces `target` atomically: a temporary file in the same directory, created with `mode`
// from the start, is written completely, flushed to disk and renamed over the target; then the
// directory is flushed. A crash at any moment leaves either the old or the new file. The
// original is never removed before the rename. Returns false (with `error`) on any failure,
// in which case the temporary file is removed and the target is untouched. `unsynced` skips the
// flushes (still all-or-nothing for readers, but a crash may lose the new content): for files
// that are rewritten often and worth nothing after a crash.
enum class Durability { synced, unsynced };
bool writeAtomic(const std::filesystem::path& target, std::string_view bytes, mode_t mode,
                 std::error_code& error, Durability durability = Durability::synced);
// The same, but the new content replaces the target only when `stillSo()`, asked once the new
// content is on disk and just before the rename, returns true (the shortest moment a file someone
// else writes without a lock can change unseen). Otherwise nothing is replaced and the error is
// std::errc::operation_canceled.
bool writeAtomicIf(const std::filesystem::path& target, std::string_view bytes, mode_t mode,
                   std::error_code& error, const std::function<bool()>& stillSo);

// Copies `from` to `to` only if `to` does not exist yet; never replaces an existing file and
// never leaves a partial copy under the name `to`. The copy gets `mode`.
bool copyNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, mode_t mode,
                   std::error_code& error);

// Writes `bytes` as the new file `target` (flushed to disk, with `mode`) only if `target` does not
// exist yet; never replaces an existing file and never leaves a partial file under that name.
bool writeNoReplace(const std::filesystem::path& target, std::string_view bytes, mode_t mode,
                    std::error_code& error);

// Renames `from` to `to` only if `to` does not exist yet (atomically where the file system allows).
bool moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::error_code& error);

// Creates `dir` and its missing parents. The last component, when it is created here, gets
// `mode`; parents get the usual 0777 minus umask. Succeeds when the directory already exists.
bool createDirectories(const std::filesystem::path& dir, mode_t mode, std::error_code& error);

} // namespace FileIO
