#pragma once

#include <filesystem>
#include <functional>

namespace testsupport {

// Runs `action` whenever the process calls stat() on exactly `path` (the same text), just before
// the call itself: another process changing the file at that moment, between a read and a check
// of it. One hook at a time, for the life of the object; what the action itself does is not
// hooked. Linked into the core's test executable only: it defines the C library's stat().
class StatHook {
public:
    StatHook(const std::filesystem::path& path, std::function<void()> action);
    ~StatHook();
    StatHook(const StatHook&) = delete;
    StatHook& operator=(const StatHook&) = delete;

    int calls() const; // how often the action ran
};

} // namespace testsupport
