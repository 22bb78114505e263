#pragma once

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/Uuid.h"
#include "usage/UsageWindow.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// One successful reading of one profile.
struct HistoryRecord {
    Instant ts;
    Uuid profileID;
    std::vector<UsageWindow> windows;
    friend bool operator==(const HistoryRecord&, const HistoryRecord&) = default;
};

// Every good reading on disk, as JSON Lines, one file per local calendar day
// (<dir>/YYYY-MM-DD.jsonl). All file work runs in order on one worker thread of the store:
// append() returns at once, load() waits for every earlier append and then for its own reading.
// Failures are never reported; they lose only the records concerned.
//
// The worker also keeps the folder within bounds (HistoryRetention): the first append of a day
// starts a pass that thins and removes old day files a couple at a time, each batch queued behind
// the appends and loads that came meanwhile. How far it got is kept in "<dir>/.retention" (the
// newest day already thinned), so a later pass looks only at the days that aged since.
class HistoryStore {
public:
    // Creates `dir` if it can (a failure is ignored) and starts the worker. `clock` says which day
    // is today (for the reads and the retention passes); it outlives the store.
    explicit HistoryStore(std::filesystem::path dir, const Clock& clock = Clock::system());
    // Finishes every queued append, then stops the worker.
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    const std::filesystem::path& dir() const { return m_dir; }

    // Queues the record for its local day's file; opens the file for appending, so writers in
    // other processes never overwrite each other's lines. Any thread.
    void append(HistoryRecord record);

    // Every readable record with ts >= since, from the day files of since's local day through
    // today, sorted by ts (stable). Blocks the caller; any thread but the worker's.
    std::vector<HistoryRecord> load(Instant since);

    // Thins and removes the day files that have aged past their keeping on the local day of
    // `now`, all at once; waits for it like load(). The appends start such a pass by themselves
    // once a day; this is for a caller that needs it done (and for tests).
    void applyRetention(Instant now);

    // The line of a record (with its line feed): {"ts":…,"profileID":…,"windows":[…]} with UTC
    // times without fraction and numbers in their shortest exact form; none when it holds a
    // number JSON cannot (NaN, infinity).
    static std::optional<std::string> encodeLine(const HistoryRecord& record);
    // A record from one line (without its line feed); none when the line does not hold one.
    static std::optional<HistoryRecord> decodeLine(std::string_view line);
    // "YYYY-MM-DD.jsonl" of the local day of `t`.
    static std::string dayFileName(Instant t);
    // Reads the records of one day file's text into `out`, skipping unreadable lines.
    static void decodeLines(std::string_view text, Instant since, std::vector<HistoryRecord>& out);
    // Whether `name` has the form of a day file's name, "dddd-dd-dd.jsonl".
    static bool isDayFileName(std::string_view name);

private:
    void run();
    void post(std::function<void()> task);
    void write(const HistoryRecord& record) const;
    std::vector<HistoryRecord> read(Instant since) const;
    void startRetention(Instant now);
    void continueRetention();
    bool retentionStep(std::size_t maxFiles);            // false once the pass is done
    bool retire(const std::string& name, bool thinning); // false when it should be tried again

    // A pass over the old day files; touched by the worker only.
    struct RetentionPass {
        struct File {
            std::string name;
            bool thinning; // else removed
        };
        std::vector<File> files; // by name: removals first, then days to thin
        std::size_t next = 0;
        std::string thinnedThrough; // the marker's day when the pass began
        bool advancing = true;      // every day so far was done: the marker may move on
    };
    std::optional<RetentionPass> m_pass;
    Instant m_nextRetention{}; // worker only

    const Clock& m_clock;
    std::filesystem::path m_dir;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::thread m_worker;
};
