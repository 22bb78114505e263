#include "base/FileIO.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace FileIO {
namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

fs::path directoryOf(const fs::path& target) {
    fs::path dir = target.parent_path();
    return dir.empty() ? fs::path(".") : dir;
}

bool writeAll(int fd, std::string_view bytes, std::error_code& error) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = lastError();
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void syncDirectory(const fs::path& dir) {
    UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
        ::fsync(fd.get());
}

// A temporary file next to `target`, mode 0600 from its creation, removed again unless
// committed.
class TempFile {
public:
    TempFile(const fs::path& target, std::error_code& error) {
        std::string name = ".";
        name += target.filename().string();
        name += ".tmp-XXXXXX";
        std::string pattern = (directoryOf(target) / name).string();
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) {
            error = lastError();
            return;
        }
        m_fd.reset(fd);
        m_path = pattern;
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        m_fd.reset();
        if (!m_committed && !m_path.empty())
            ::unlink(m_path.c_str());
    }

    explicit operator bool() const { return static_cast<bool>(m_fd); }
    int fd() const { return m_fd.get(); }
    const fs::path& path() const { return m_path; }

    // Flushes the content to disk, sets the final mode and closes the descriptor.
    bool finish(mode_t mode, bool durable, std::error_code& error) {
        if (::fchmod(m_fd.get(), mode) != 0 || (durable && ::fsync(m_fd.get()) != 0)) {
            error = lastError();
            return false;
        }
        if (::close(m_fd.release()) != 0) {
            error = lastError();
            return false;
        }
        return true;
    }
    void committed() { m_committed = true; }

private:
    UniqueFd m_fd;
    fs::path m_path;
    bool m_committed = false;
};

// Moves `from` to `to` unless `to` exists; atomic where the file system allows it.
bool renameNoReplace(const fs::path& from, const fs::path& to, std::error_code& error) {
#if defined(__linux__)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        error = lastError();
        return false;
    }
#endif
    // A hard link fails with EEXIST when the target exists, so it never replaces.
    if (::link(from.c_str(), to.c_str()) != 0) {
        error = lastError();
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

// Opens a regular file for reading. O_NONBLOCK keeps a FIFO in its place from blocking the
// open; anything but a regular file is refused.
UniqueFd openRegular(const fs::path& path, std::error_code& error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) {
        error = lastError();
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        error = lastError();
        return UniqueFd();
    }
    if (!S_ISREG(st.st_mode)) {
        error = std::make_error_code(S_ISDIR(st.st_mode) ? std::errc::is_a_directory
                                                         : std::errc::invalid_argument);
        return UniqueFd();
    }
    return fd;
}

} // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other)
        reset(other.release());
    return *this;
}

void UniqueFd::reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

std::optional<std::string> readFile(const fs::path& path, std::size_t maxBytes, std::error_code& error) {
    std::string bytes;
    if (!readFileInto(path, maxBytes, bytes, error))
        return std::nullopt;
    return bytes;
}

bool readFileInto(const fs::path& path, std::size_t maxBytes, std::string& bytes, std::error_code& error) {
    error.clear();
    UniqueFd fd = openRegular(path, error);
    if (!fd)
        return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        error = lastError();
        return false;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes) {
        error = std::make_error_code(std::errc::file_too_large);
        return false;
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            // The file may have grown since fstat.
            if (bytes.size() > maxBytes) {
                error = std::make_error_code(std::errc::file_too_large);
                return false;
            }
            bytes.resize(bytes.size() + 65536);
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = lastError();
            return false;
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    if (used > maxBytes) {
        error = std::make_error_code(std::errc::file_too_large);
        return false;
    }
    bytes.resize(used);
    return true;
}

fs::path linkTarget(const fs::path& path) {
    std::error_code error;
    fs::path target = fs::canonical(path, error);
    if (!error)
        return target;
    // A link whose target does not exist (yet): writing through it creates the target.
    fs::path p = path;
    for (int hops = 0; hops < 40 && fs::is_symlink(p, error); ++hops) {
        const fs::path next = fs::read_symlink(p, error);
        if (error)
            return path;
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    return p;
}

namespace {

bool replace(const fs::path& target, std::string_view bytes, mode_t mode, std::error_code& error,
             Durability durability, const std::function<bool()>& stillSo) {
    error.clear();
    const bool durable = durability == Durability::synced;
    TempFile temp(target, error);
    if (!temp)
        return false;
    if (!writeAll(temp.fd(), bytes, error) || !temp.finish(mode, durable, error))
        return false;
    if (stillSo && !stillSo()) {
        error = std::make_error_code(std::errc::operation_canceled);
        return false;
    }
    if (::rename(temp.path().c_str(), target.c_str()) != 0) {
        error = lastError();
        return false;
    }
    temp.committed();
    if (durable)
        syncDirectory(directoryOf(target));
    return true;
}

} // namespace

bool writeAtomic(const fs::path& target, std::string_view bytes, mode_t mode, std::error_code& error,
                 Durability durability) {
    return replace(target, bytes, mode, error, durability, {});
}

bool writeAtomicIf(const fs::path& target, std::string_view bytes, mode_t mode, std::error_code& error,
                   const std::function<bool()>& stillSo) {
    return replace(target, bytes, mode, error, Durability::synced, stillSo);
}

bool copyNoReplace(const fs::path& from, const fs::path& to, mode_t mode, std::error_code& error) {
    error.clear();
    if (::access(to.c_str(), F_OK) == 0) {
        error = std::make_error_code(std::errc::file_exists);
        return false;
    }
    UniqueFd source = openRegular(from, error);
    if (!source)
        return false;
    TempFile temp(to, error);
    if (!temp)
        return false;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const ssize_t n = ::read(source.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = lastError();
            return false;
        }
        if (n == 0)
            break;
        if (!writeAll(temp.fd(), std::string_view(buffer.data(), static_cast<std::size_t>(n)), error))
            return false;
    }
    if (!temp.finish(mode, true, error) || !renameNoReplace(temp.path(), to, error))
        return false;
    temp.committed();
    syncDirectory(directoryOf(to));
    return true;
}

bool writeNoReplace(const fs::path& target, std::string_view bytes, mode_t mode, std::error_code& error) {
    error.clear();
    TempFile temp(target, error);
    if (!temp)
        return false;
    if (!writeAll(temp.fd(), bytes, error) || !temp.finish(mode, true, error) ||
        !renameNoReplace(temp.path(), target, error))
        return false;
    temp.committed();
    syncDirectory(directoryOf(target));
    return true;
}

bool moveNoReplace(const fs::path& from, const fs::path& to, std::error_code& error) {
    error.clear();
    if (!renameNoReplace(from, to, error))
        return false;
    syncDirectory(directoryOf(to));
    return true;
}

bool createDirectories(const fs::path& dir, mode_t mode, std::error_code& error) {
    error.clear();
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        error = std::make_error_code(std::errc::not_a_directory);
        return false;
    }
    if (dir.has_parent_path() && dir.parent_path() != dir) {
        fs::create_directories(dir.parent_path(), error);
        if (error)
            return false;
    }
    if (::mkdir(dir.c_str(), mode) != 0) {
        if (errno == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return true;
        error = lastError();
        return false;
    }
    ::chmod(dir.c_str(), mode); // mkdir is subject to the umask; make the mode exact
    return true;
}

} // namespace FileIO
