#include "TestHttpServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace testsupport {

std::string TestHttpServer::Recorded::header(const std::string& lowerName) const {
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

TestHttpServer::TestHttpServer()
    : m_server(std::make_unique<httplib::Server>()) {
    auto handler = [this](const httplib::Request& req, httplib::Response& res) { dispatch(req, res); };
    m_server->Get(".*", handler);
    m_server->Post(".*", handler);
    m_server->Put(".*", handler);
    m_server->Delete(".*", handler);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("cannot bind a loopback port");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    for (int i = 0; i < 1000 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestHttpServer::~TestHttpServer() {
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_stopping.notify_all();
    while (!m_server->is_running() && m_thread.joinable())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_server->stop();
    m_thread.join();
}

std::string TestHttpServer::origin() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void TestHttpServer::on(const std::string& method, const std::string& path, Handler handler) {
    std::lock_guard lock(m_mutex);
    m_routes[{method, path}] = std::move(handler);
}

void TestHttpServer::reply(const std::string& method, const std::string& path, int status, std::string body,
                           std::map<std::string, std::string> headers) {
    on(method, path,
       [status, body = std::move(body), headers = std::move(headers)](const httplib::Request&,
                                                                      httplib::Response& res) {
           res.status = status;
           for (const auto& [k, v] : headers)
               res.set_header(k, v);
           res.set_content(body, "application/json");
       });
}

void TestHttpServer::stall(const std::string& method, const std::string& path,
                           std::chrono::milliseconds duration) {
    on(method, path, [this, duration](const httplib::Request&, httplib::Response& res) {
        std::unique_lock lock(m_mutex);
        m_stopping.wait_for(lock, duration, [this] { return m_stopped; });
        res.status = 200;
        res.set_content("{}", "application/json");
    });
}

void TestHttpServer::endless(const std::string& method, const std::string& path) {
    on(method, path, [](const httplib::Request&, httplib::Response& res) {
        res.status = 200;
        res.set_chunked_content_provider("application/json", [](std::size_t, httplib::DataSink& sink) {
            static const std::string chunk(64 * 1024, ' ');
            return sink.write(chunk.data(), chunk.size());
        });
    });
}

std::vector<TestHttpServer::Recorded> TestHttpServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void TestHttpServer::clearRequests() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

void TestHttpServer::dispatch(const httplib::Request& req, httplib::Response& res) {
    Recorded recorded{req.method, req.path, {}, req.body};
    for (const auto& [name, value] : req.headers) {
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        recorded.headers.emplace(lower, value);
    }
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(std::move(recorded));
        const auto it = m_routes.find({req.method, req.path});
        if (it != m_routes.end())
            handler = it->second;
    }
    if (handler) {
        handler(req, res);
    } else {
        res.status = 404;
        res.set_content("{\"type\":\"error\"}", "application/json");
    }
}

} // namespace testsupport
