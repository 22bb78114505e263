#include "net/CurlTransport.h"

#include "base/Errors.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Exchange {
    HttpResponse response;
    std::size_t maxBody = 0;
    bool tooLarge = false;
    const std::atomic<std::uint64_t>* abortEpoch = nullptr;
    std::uint64_t startEpoch = 0;
    bool aborted = false;
};

// libcurl calls this at least once a second during a transfer; non-zero ends it.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* exchange = static_cast<Exchange*>(user);
    exchange->aborted = exchange->abortEpoch && exchange->abortEpoch->load() != exchange->startEpoch;
    return exchange->aborted ? 1 : 0;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* exchange = static_cast<Exchange*>(user);
    const std::size_t n = size * count;
    if (exchange->response.body.size() + n > exchange->maxBody) {
        exchange->tooLarge = true;
        return 0; // aborts the transfer
    }
    exchange->response.body.append(data, n);
    return n;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* exchange = static_cast<Exchange*>(user);
    const std::size_t n = size * count;
    std::string_view line(data, n);
    if (line.starts_with("HTTP/")) {
        exchange->response.headers.clear(); // a new response (after 100 Continue, for one)
        return n;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return n;
    auto trim = [](std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
            s.remove_prefix(1);
        while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '\t'))
            s.remove_suffix(1);
        return s;
    };
    exchange->response.headers.add(std::string(trim(line.substr(0, colon))),
                                   std::string(trim(line.substr(colon + 1))));
    return n;
}

template <class T>
void set(CURL* handle, CURLoption option, T value) {
    if (curl_easy_setopt(handle, option, value) != CURLE_OK)
        throw TransportError(std::string("libcurl option rejected: ") + std::to_string(option), false);
}

} // namespace

CurlTransport::CurlTransport(std::size_t maxBodyBytes)
    : m_maxBody(maxBodyBytes) {
    globalInit();
}

HttpResponse CurlTransport::send(const HttpRequest& request) {
    CurlHandle handle(curl_easy_init());
    if (!handle)
        throw TransportError("libcurl could not be initialised", false);
    CURL* h = handle.get();

    Exchange exchange;
    exchange.maxBody = m_maxBody;
    exchange.abortEpoch = request.abortable ? &m_abortEpoch : nullptr;
    exchange.startEpoch = m_abortEpoch.load();
    char errorBuffer[CURL_ERROR_SIZE] = {};

    HeaderList headers;
    for (const auto& [name, value] : request.headers.fields()) {
        const std::string line = name + ": " + value;
        curl_slist* appended = curl_slist_append(headers.get(), line.c_str());
        if (!appended)
            throw TransportError("out of memory", false);
        headers.release();
        headers.reset(appended);
    }
    // libcurl adds "Expect: 100-continue" to larger bodies on its own; we send none.
    if (!request.body.empty()) {
        curl_slist* appended = curl_slist_append(headers.get(), "Expect:");
        if (!appended)
            throw TransportError("out of memory", false);
        headers.release();
        headers.reset(appended);
    }

    set(h, CURLOPT_URL, request.url.c_str());
    set(h, CURLOPT_ERRORBUFFER, errorBuffer);
    set(h, CURLOPT_NOSIGNAL, 1L);
    set(h, CURLOPT_PROTOCOLS_STR, "http,https");
    set(h, CURLOPT_FOLLOWLOCATION, 0L);
    set(h, CURLOPT_SSL_VERIFYPEER, 1L);
    set(h, CURLOPT_SSL_VERIFYHOST, 2L);
    set(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    set(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeout.count()));
    set(h, CURLOPT_HTTPHEADER, headers.get());
    set(h, CURLOPT_WRITEFUNCTION, onBody);
    set(h, CURLOPT_WRITEDATA, &exchange);
    set(h, CURLOPT_HEADERFUNCTION, onHeader);
    set(h, CURLOPT_HEADERDATA, &exchange);
    set(h, CURLOPT_NOPROGRESS, 0L);
    set(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    set(h, CURLOPT_XFERINFODATA, &exchange);
    if (request.method == "GET") {
        set(h, CURLOPT_HTTPGET, 1L);
    } else {
        set(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        if (request.method == "POST" || !request.body.empty()) {
            set(h, CURLOPT_POSTFIELDS, request.body.data());
            set(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        }
    }

    const CURLcode rc = curl_easy_perform(h);
    if (exchange.aborted)
        throw TransportError("Request aborted");
    if (exchange.tooLarge)
        throw TransportError("Response body larger than " + std::to_string(m_maxBody >> 20) + " MiB");
    if (rc != CURLE_OK) {
        // Whether any of the request left: not when no connection or secure channel was made, or
        // when not one byte of it was sent.
        long sentBytes = 0;
        curl_easy_getinfo(h, CURLINFO_REQUEST_SIZE, &sentBytes);
        const bool neverLeft = rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_COULDNT_RESOLVE_PROXY ||
                               rc == CURLE_COULDNT_CONNECT || rc == CURLE_SSL_CONNECT_ERROR ||
                               rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_UNSUPPORTED_PROTOCOL ||
                               rc == CURLE_URL_MALFORMAT || sentBytes == 0;
        throw TransportError(errorBuffer[0] ? std::string(errorBuffer) : std::string(curl_easy_strerror(rc)),
                             !neverLeft, rc == CURLE_OPERATION_TIMEDOUT);
    }

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    exchange.response.status = static_cast<int>(status);
    return std::move(exchange.response);
}

void CurlTransport::abortInFlight() {
    ++m_abortEpoch;
}
