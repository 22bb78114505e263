// claude's status-line document and our reading files: the input gives only windows within
// range, and a reading read from a file writes back to a file that reads to the same reading.
#include "statusline/StatusLineCommand.h"
#include "statusline/StatusLineStore.h"

#include "FuzzSupport.h"

#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto input = StatusLineStore::parseInput(text)) {
        FUZZ_CHECK(input->windows.size() <= 2);
        for (const UsageWindow& w : input->windows)
            FUZZ_CHECK(std::isfinite(w.utilization) && w.utilization >= 0 && w.utilization <= 100);
        (void)StatusLineCommand::line(input->windows, DateTime::fromUnixSeconds(1'800'000'000));
    }
    if (const auto reading = StatusLineStore::decode(text)) {
        const auto again = StatusLineStore::decode(StatusLineStore::encode(*reading));
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(*again == *reading);
    }
    return 0;
}
