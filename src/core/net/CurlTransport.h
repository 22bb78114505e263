#pragma once

#include "net/HttpTransport.h"

#include <cstddef>

// HttpTransport over libcurl. TLS peers are always verified; only http and https are spoken;
// redirects are not followed; an answer body above `maxBodyBytes` fails as a TransportError.
class CurlTransport : public HttpTransport {
public:
    static constexpr std::size_t kDefaultMaxBody = 16u << 20; // 16 MiB

    explicit CurlTransport(std::size_t maxBodyBytes = kDefaultMaxBody);
    HttpResponse send(const HttpRequest& request) override;

private:
    std::size_t m_maxBody;
};
