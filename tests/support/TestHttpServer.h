#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace testsupport {

// A real HTTP server on 127.0.0.1 (a free port) for the lifetime of the object. Routes can be
// set and changed while it runs; every request is recorded.
class TestHttpServer {
public:
    struct Recorded {
        std::string method;
        std::string path;
        std::multimap<std::string, std::string> headers; // names in lower case
        std::string body;
        std::string header(const std::string& lowerName) const;
    };
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    std::string origin() const; // "http://127.0.0.1:<port>"
    int port() const { return m_port; }

    // Routes by method and exact path; unknown routes answer 404.
    void on(const std::string& method, const std::string& path, Handler handler);
    // A canned answer.
    void reply(const std::string& method, const std::string& path, int status, std::string body,
               std::map<std::string, std::string> headers = {});
    // Accepts the request and sends nothing for `duration` (or until the server stops).
    void stall(const std::string& method, const std::string& path, std::chrono::milliseconds duration);
    // Answers 200 with a body that never ends (until the client goes away).
    void endless(const std::string& method, const std::string& path);

    std::vector<Recorded> requests() const;
    void clearRequests();

private:
    void dispatch(const httplib::Request& request, httplib::Response& response);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::map<std::pair<std::string, std::string>, Handler> m_routes;
    std::vector<Recorded> m_requests;
    std::condition_variable m_stopping;
    bool m_stopped = false;
};

} // namespace testsupport
