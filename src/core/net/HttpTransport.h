#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Header fields in the order received. Lookup ignores letter case.
class HttpHeaders {
public:
    void add(std::string name, std::string value) {
        m_fields.emplace_back(std::move(name), std::move(value));
    }
    // The first field of that name; nullptr when there is none.
    const std::string* find(std::string_view name) const;
    const std::vector<std::pair<std::string, std::string>>& fields() const { return m_fields; }
    void clear() { m_fields.clear(); }

private:
    std::vector<std::pair<std::string, std::string>> m_fields;
};

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    HttpHeaders headers;
    std::string body;
    std::chrono::milliseconds timeout{15000}; // for the whole exchange
    // Ended by abortInFlight() (the program is quitting). An exchange whose answer must not be
    // lost (a token renewal: its old refresh token is spent by it) runs to its end or time-out.
    bool abortable = true;
};

struct HttpResponse {
    int status = 0;
    HttpHeaders headers;
    std::string body;
};

// One HTTP exchange, blocking the calling thread. Implementations are safe to call from several
// threads at once. Redirects are not followed (a 3xx answer is returned as it is).
class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    // Throws TransportError when no complete HTTP answer arrives.
    virtual HttpResponse send(const HttpRequest& request) = 0;
    // Ends every abortable exchange under way now as a TransportError, within about a second (the
    // program is quitting). Exchanges started afterwards are not affected. Any thread.
    virtual void abortInFlight() {}
};
