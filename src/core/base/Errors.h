#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

// Base of the program's failures. what() is the user-facing description, shown as it is (after
// "  ERROR: " in the check, as a profile's error status, behind a prefix in messages). A
// description never holds a token or other secret.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& description)
        : std::runtime_error(description) {}
    std::string description() const { return what(); }
};

// The HTTP client could not complete the exchange (no connection, time-out, TLS failure, an
// answer too large). The description is libcurl's own message.
class TransportError : public Error {
public:
    // `mayHaveArrived`: the request may have reached the server (false only when it is known not
    // to have left: no name, no connection, no secure channel).
    // `timedOut`: no whole answer within the exchange's time.
    explicit TransportError(const std::string& description, bool mayHaveArrived = true, bool timedOut = false)
        : Error(description)
        , m_mayHaveArrived(mayHaveArrived)
        , m_timedOut(timedOut) {}
    bool mayHaveArrived() const { return m_mayHaveArrived; }
    bool timedOut() const { return m_timedOut; }

private:
    bool m_mayHaveArrived;
    bool m_timedOut;
};

// A file could not be read or written; the description names the path and the system's reason.
class FileError : public Error {
public:
    FileError(const std::filesystem::path& path, std::error_code code)
        : Error(path.string() + ": " + code.message())
        , m_code(code) {}
    std::error_code code() const { return m_code; }

private:
    std::error_code m_code;
};
