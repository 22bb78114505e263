// Servers that misbehave: each gives a clear error within its bound and nothing else suffers.
#include "net/CurlTransport.h"
#include "usage/AnthropicAPI.h"

#include "ErrorText.h"
#include "ScopedEnv.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <thread>

using namespace std::chrono;
using namespace testsupport;

namespace {

class HostilePeer : public testing::Test {
protected:
    TestHttpServer server;
    ScopedEnv api{"ULMET_API_ORIGIN", server.origin()};
    CurlTransport http;
    std::atomic<bool> stop{false};
    void TearDown() override { stop = true; }
};

TEST_F(HostilePeer, AnAnswerTrickledByteByByteStillEndsAtTheTimeOut) {
    // The time-out bounds the whole exchange, not the silence between bytes.
    server.on("GET", "/slow", [this](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/json", [this](std::size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(milliseconds(50));
            return !stop && sink.write(" ", 1);
        });
    });
    HttpRequest req;
    req.url = server.origin() + "/slow";
    req.timeout = milliseconds(1500);
    const auto start = steady_clock::now();
    std::string text = "<no error>";
    try {
        http.send(req);
    } catch (const TransportError& e) {
        text = e.what();
        EXPECT_TRUE(e.timedOut());
    }
    const auto took = steady_clock::now() - start;
    EXPECT_NE(text.find("timed out"), std::string::npos) << text;
    EXPECT_GE(took, milliseconds(1400));
    EXPECT_LT(took, milliseconds(4000));
}

TEST_F(HostilePeer, AConnectionClosedMidBodyIsATransportError) {
    server.on("GET", "/api/oauth/usage", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(100000, "application/json",
                                 [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                     sink.write(R"({"five_hour": {"utiliz)", 22);
                                     return false; // and hang up
                                 });
    });
    const std::string text = errorText([&] { AnthropicAPI::usage(http, "tok"); });
    EXPECT_NE(text, "<no error>");
    // libcurl's own words vary by version ("transfer closed with 99978 bytes remaining to read",
    // "end of response with 99978 bytes missing"); the count is in both.
    EXPECT_NE(text.find("99978 bytes"), std::string::npos) << text;
}

// Whether a failed request may have reached the server: only a request known never to have left
// may be sent again as if nothing happened (a token renewal spends its token on arrival).
TEST_F(HostilePeer, AFailureSaysWhetherTheRequestMayHaveArrived) {
    HttpRequest req;
    {
        auto gone = std::make_unique<TestHttpServer>();
        req.url = gone->origin() + "/nothing-listens";
    }
    try {
        http.send(req);
        ADD_FAILURE() << "no error";
    } catch (const TransportError& e) {
        EXPECT_FALSE(e.mayHaveArrived()) << e.what();
        EXPECT_FALSE(e.timedOut());
    }
    server.on("GET", "/hang-up", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(100, "text/plain", [](std::size_t, std::size_t, httplib::DataSink& sink) {
            sink.write("x", 1);
            return false;
        });
    });
    req.url = server.origin() + "/hang-up";
    try {
        http.send(req);
        ADD_FAILURE() << "no error";
    } catch (const TransportError& e) {
        EXPECT_TRUE(e.mayHaveArrived()) << e.what();
    }
}

// Quitting ends the exchanges under way, but not one whose answer holds the only copy of new
// tokens: that one runs to its answer.
TEST_F(HostilePeer, QuittingEndsEveryExchangeButAnUnabortableOne) {
    server.on("GET", "/slow", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(milliseconds(1500));
        res.set_content("done", "text/plain");
    });
    HttpRequest abortable;
    abortable.url = server.origin() + "/slow";
    HttpRequest kept = abortable;
    kept.abortable = false;
    std::string first, second;
    std::thread one([&] { first = errorText([&] { http.send(abortable); }); });
    std::thread two([&] {
        try {
            second = http.send(kept).body;
        } catch (const std::exception& e) {
            second = e.what();
        }
    });
    std::this_thread::sleep_for(milliseconds(300));
    http.abortInFlight();
    one.join();
    two.join();
    EXPECT_EQ(first, "Request aborted");
    EXPECT_EQ(second, "done");
}

TEST_F(HostilePeer, GiganticOrDeeplyNestedAnswersAreBadResponses) {
    std::string big = "{\"five_hour\": {\"utilization\": 1, \"x\": [";
    for (int i = 0; i < 1'500'000; ++i)
        big += "12345678,";
    big += "0]}, \"y\": ";
    big += std::string(100000, '[') + std::string(100000, ']') + "}";
    ASSERT_LT(big.size(), 16u << 20);
    server.reply("GET", "/api/oauth/usage", 200, big);
    const auto start = steady_clock::now();
    EXPECT_EQ(errorText([&] { AnthropicAPI::usage(http, "tok"); }), "API レスポンスを解析できませんでした");
    EXPECT_LT(steady_clock::now() - start, seconds(10));

    server.reply("GET", "/api/oauth/usage", 200, std::string(5'000'000, '{'));
    EXPECT_EQ(errorText([&] { AnthropicAPI::usage(http, "tok"); }), "API レスポンスを解析できませんでした");
    server.reply("GET", "/api/oauth/profile", 200, "{\"a\":" + std::string(1'000'000, '[') + "}");
    EXPECT_FALSE(AnthropicAPI::profileEmail(http, "tok"));
}

TEST_F(HostilePeer, ATokenAnswerThatNeverEndsIsCut) {
    ScopedEnv console("ULMET_CONSOLE_ORIGIN", server.origin());
    server.endless("POST", "/v1/oauth/token");
    class Fixed : public Clock {
    public:
        Instant now() const override { return {}; }
    } clock;
    EXPECT_EQ(errorText([&] { AnthropicAPI::refreshTokens(http, clock, R"({"refreshToken":"r"})"); }),
              "Response body larger than 16 MiB");
}

} // namespace
