// The configuration decoder: whatever decodes re-encodes to text that decodes to an equal value.
#include "config/AppConfig.h"

#include "FuzzSupport.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto config = AppConfig::decode(text);
    if (!config)
        return 0;
    const auto encoded = config->encode();
    FUZZ_CHECK(encoded.has_value()); // text we could read, we can write
    const auto again = AppConfig::decode(*encoded);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *config);
    FUZZ_CHECK(again->encode() == encoded);
    return 0;
}
