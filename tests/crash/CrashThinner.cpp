// Helper of the crash-consistency test: thins a history folder once, as the store's worker does.
//   crash_thinner HISTORY_DIR

#include "history/HistoryStore.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: crash_thinner HISTORY_DIR\n");
        return 2;
    }
    HistoryStore(argv[1]).applyRetention(std::chrono::system_clock::now());
}
