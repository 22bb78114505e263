// Usage answers: windows come out in display order with finite utilizations within 0-100; the
// only failure is badResponse. Also the number and date readers and the e-mail search.
#include "base/Json.h"
#include "usage/AnthropicAPI.h"

#include "FuzzSupport.h"

#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const auto windows = AnthropicAPI::parseUsage(text);
        FUZZ_CHECK(!windows.empty());
        for (std::size_t i = 0; i < windows.size(); ++i) {
            FUZZ_CHECK(std::isfinite(windows[i].utilization));
            FUZZ_CHECK(windows[i].utilization >= 0 && windows[i].utilization <= 100);
            if (i > 0) {
                const int a = UsageWindow::order(windows[i - 1].key);
                const int b = UsageWindow::order(windows[i].key);
                FUZZ_CHECK(a < b || (a == b && windows[i - 1].key <= windows[i].key));
            }
        }
    } catch (const APIError& e) {
        FUZZ_CHECK(e.kind() == APIError::Kind::badResponse);
    }
    (void)AnthropicAPI::numericText(text);
    (void)DateTime::parseIso8601(text);
    if (const auto t = DateTime::parseIso8601(text, false))
        FUZZ_CHECK(DateTime::parseIso8601(DateTime::formatIso8601(*t), false) ==
                   std::chrono::floor<std::chrono::seconds>(*t));
    if (const auto doc = Json::parse(text)) {
        (void)AnthropicAPI::parseDate(&*doc);
        (void)AnthropicAPI::numeric(&*doc);
        if (const auto email = AnthropicAPI::findEmail(*doc))
            FUZZ_CHECK(doc->is_object());
    }
    return 0;
}
