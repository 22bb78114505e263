// A history line: whatever is read writes back to a line that reads to the same record.
#include "history/HistoryStore.h"

#include "FuzzSupport.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto record = HistoryStore::decodeLine(text);
    if (!record)
        return 0;
    const auto line = HistoryStore::encodeLine(*record);
    if (!line)
        return 0; // a window the writer refuses (a non-finite number cannot come from JSON)
    FUZZ_CHECK(!line->empty() && line->back() == '\n');
    const auto again = HistoryStore::decodeLine(std::string_view(*line).substr(0, line->size() - 1));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *record);
    return 0;
}
