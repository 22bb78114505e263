// The credential blob parser: it either fails with its own error or gives a usable token.
#include "claude/CredentialsProvider.h"

#include "FuzzSupport.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const OAuthCredentials c = CredentialsProvider::parse(text, "fuzz");
        FUZZ_CHECK(!c.accessToken.empty());
        FUZZ_CHECK(c.sourceDescription == "fuzz");
    } catch (const CredentialsError& e) {
        const std::string what = e.what();
        FUZZ_CHECK(what == "認証情報を解析できません（JSON ではありません）" ||
                   what == "認証情報を解析できません（accessToken がありません）");
    }
    return 0;
}
