#pragma once

#include "net/HttpTransport.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// HttpTransport over libcurl. TLS peers are always verified; only http and https are spoken;
// redirects are not followed; an answer body above `maxBodyBytes` fails as a TransportError.
class CurlTransport : public HttpTransport {
public:
    static constexpr std::size_t kDefaultMaxBody = 16u << 20; // 16 MiB

    explicit CurlTransport(std::size_t maxBodyBytes = kDefaultMaxBody);
    HttpResponse send(const HttpRequest& request) override;
    void abortInFlight() override;

private:
    std::size_t m_maxBody;
    std::atomic<std::uint64_t> m_abortEpoch{0};
};
