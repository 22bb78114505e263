#include "StoreFixture.h"

#include "bus/BusInterface.h"
#include "bus/BusService.h"

#include "JsonSchema.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QElapsedTimer>

using namespace storetest;

namespace {

QString latin(const char* s) {
    return QString::fromLatin1(s);
}

// Every ReadingsChanged a client hears, with when it heard it.
class SignalLog : public QObject {
    Q_OBJECT
public:
    std::vector<std::pair<json, qint64>> heard;
    QElapsedTimer clock;
    SignalLog() { clock.start(); }
public slots:
    void changed(const QString& document) {
        heard.emplace_back(json::parse(document.toStdString()), clock.elapsed());
    }
};

// The service on this process's session-bus connection under MeterKeeper's name; the test
// calls it as a script would, over a connection of its own on the same private bus.
class BusTest : public StoreTest {
protected:
    std::unique_ptr<BusService> service;
    QDBusConnection client =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
    SignalLog log;
    std::vector<ProfileConfig> ps;

    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_TRUE(client.isConnected()) << "runs on a private session bus";
        AppConfig config;
        config.keychainConnected = true;
        ps = {claude("a", "a@x"),       claude("b", "b@x"),        claude("c", "c@x"),
              claude("twin", "same@x"), claude("twin2", "same@x"), codexProfile()};
        for (std::size_t i = 0; i < 3; ++i) {
            ProfileConfig& p = ps[i];
            slot(p, "tok-" + p.name);
            answer("tok-" + p.name, ok(usageBody(10.0 * double(i + 1))));
            account("tok-" + p.name, p.name + "@x");
            p.accountIdentity = identityOf(p.name + "@x");
        }
        config.profiles = ps;
        config.activeProfileID = ps[0].id;
        writeFile(ActiveCredentialStore::filePath(home.path()), blob("tok-a"));
        writeFile(home / ".claude.json", identityOf("a@x"));
        start(config);
        finishCycle();
        service = std::make_unique<BusService>(store.get());
        QDBusConnection bus = QDBusConnection::sessionBus();
        ASSERT_TRUE(service->publish(bus));
        ASSERT_TRUE(bus.registerService(latin(BusInterface::kService)));
        client.connect(latin(BusInterface::kService), latin(BusInterface::kPath),
                       latin(BusInterface::kInterface), QStringLiteral("ReadingsChanged"), &log,
                       SLOT(changed(QString)));
    }
    void TearDown() override {
        QDBusConnection::sessionBus().unregisterService(latin(BusInterface::kService));
        QDBusConnection::sessionBus().unregisterObject(latin(BusInterface::kPath));
        service.reset();
        StoreTest::TearDown();
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

    QDBusPendingCall send(const char* method, const QVariantList& args = {}) {
        QDBusMessage m =
            QDBusMessage::createMethodCall(latin(BusInterface::kService), latin(BusInterface::kPath),
                                           latin(BusInterface::kInterface), latin(method));
        m.setArguments(args);
        return client.asyncCall(m, 60'000);
    }
    // Lets the bus and the store run, in virtual time, until every call has its answer.
    void pump(std::initializer_list<QDBusPendingCall*> calls) {
        for (int i = 0; i < 3000; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            sleeper.advance(milliseconds(100));
            if (std::all_of(calls.begin(), calls.end(), [](QDBusPendingCall* c) { return c->isFinished(); }))
                return;
        }
        FAIL() << "no answer";
    }
    QDBusMessage call(const char* method, const QVariantList& args = {}) {
        QDBusPendingCall pending = send(method, args);
        pump({&pending});
        return pending.reply();
    }
    // Real time, for the signal's rate limit.
    void waitReally(int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    json readings() {
        const QDBusMessage reply = call("Readings");
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return json::parse(reply.arguments().value(0).toString().toStdString());
    }
    std::string live() { return readFile(ActiveCredentialStore::filePath(home.path())).value_or(""); }
};

} // namespace

TEST_F(BusTest, SwitchByNameAddressOrIdAndReadingsAsThePanelShowsThem) {
    const json doc = readings();
    const json schema = json::parse(*readFile(fs::path(ULMET_SOURCE_DIR) / "docs/readings.schema.json"));
    EXPECT_EQ(testsupport::schemaErrors(schema, doc), std::vector<std::string>{});
    EXPECT_EQ(doc.dump().find("tok-"), std::string::npos) << "no token, not even a refresh token";
    ASSERT_EQ(doc["profiles"].size(), ps.size());
    for (std::size_t i = 0; i < ps.size(); ++i) {
        const json& p = doc["profiles"][i];
        EXPECT_EQ(p["id"], ps[i].id.toString());
        EXPECT_EQ(p["error"].is_null() ? "" : p["error"].get<std::string>(), message(ps[i].id));
        if (const auto five = fiveHour(ps[i].id)) {
            EXPECT_EQ(p["windows"][0]["utilization"].get<double>(), *five) << ps[i].name;
        }
    }
    EXPECT_EQ(doc["shown"], ps[0].id.toString());

    QDBusMessage reply = call("Switch", {QStringLiteral("b")});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(store->config().activeProfileID, ps[1].id);
    EXPECT_EQ(live(), blob("tok-b"));
    EXPECT_EQ(call("Switch", {QStringLiteral("C@X")}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(store->config().activeProfileID, ps[2].id);
    EXPECT_EQ(call("Switch", {QString::fromStdString(ps[0].id.toString()).toLower()}).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(live(), blob("tok-a"));
    EXPECT_EQ(readings()["shown"], ps[0].id.toString());

    reply = call("Switch", {QStringLiteral("nobody")});
    EXPECT_EQ(reply.errorName(), latin(BusInterface::kUnknownProfile));
    EXPECT_TRUE(reply.errorMessage().startsWith(
        QStringLiteral("「nobody」という名前、メールアドレス、ID のプロファイルはありません\n")));
    reply = call("Switch", {QStringLiteral("same@x")});
    EXPECT_EQ(reply.errorName(), latin(BusInterface::kAmbiguousProfile));
    EXPECT_TRUE(reply.errorMessage().contains(QString::fromStdString(ps[4].id.toString())));
    reply = call("Switch", {QStringLiteral("twin")});
    EXPECT_EQ(reply.errorName(), latin(BusInterface::kSwitchFailed)) << "found, but no identity captured";
    EXPECT_TRUE(reply.errorMessage().contains(QStringLiteral("識別情報が未取得")));
    reply = call("Switch", {QStringLiteral("codex")});
    EXPECT_EQ(reply.errorName(), latin(BusInterface::kSwitchFailed));
    EXPECT_EQ(live(), blob("tok-a")) << "nothing changed by the refused ones";
}

TEST_F(BusTest, TwoSwitchCallsAtOnceTakeTurns) {
    QDBusPendingCall first = send("Switch", {QStringLiteral("b")});
    QDBusPendingCall second = send("Switch", {QStringLiteral("c")});
    pump({&first, &second});
    EXPECT_EQ(first.reply().type(), QDBusMessage::ReplyMessage) << first.reply().errorMessage().toStdString();
    EXPECT_EQ(second.reply().type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(live(), blob("tok-c"));
    EXPECT_EQ(secrets.get(ProfileSlotStore::service, ps[1].id.toString()), blob("tok-b"))
        << "the first one's login went back into its slot when the second switched";
    EXPECT_EQ(store->config().activeProfileID, ps[2].id);
}

TEST_F(BusTest, RefreshStartsACycleAndEveryChangeIsSignalledAtMostOnceASecond) {
    const auto requests = [&] { return requestedTokens().size(); };
    const std::size_t before = requests();
    EXPECT_EQ(call("Refresh").type(), QDBusMessage::ReplyMessage);
    finishCycle();
    EXPECT_GT(requests(), before);
    waitReally(1300);
    EXPECT_EQ(log.heard.size(), 0u) << "the same figures read again are no change";

    answer("tok-a", ok(usageBody(50)));
    call("Refresh");
    finishCycle();
    waitReally(1300);
    ASSERT_EQ(log.heard.size(), 1u);
    EXPECT_EQ(log.heard[0].first["profiles"][0]["windows"][0]["utilization"], 50);

    answer("tok-a", ok(usageBody(60)));
    call("Refresh");
    finishCycle();
    answer("tok-a", ok(usageBody(70)));
    call("Refresh");
    finishCycle();
    call("Switch", {QStringLiteral("b")});
    // The switch's files are flushed to disk, which a loaded machine may take its time over.
    QElapsedTimer waited;
    waited.start();
    while (log.heard.size() < 3 && waited.elapsed() < 10000)
        waitReally(50);
    waitReally(1300); // and nothing more comes
    ASSERT_EQ(log.heard.size(), 3u) << "the last three changes came within a second: two signals";
    EXPECT_GE(log.heard[2].second - log.heard[1].second, 950);
    EXPECT_EQ(log.heard[2].first["profiles"][0]["windows"][0]["utilization"], 70);
    EXPECT_EQ(log.heard[2].first["shown"], ps[1].id.toString());
}

// During the back-off after rate limiting a Refresh is refused (and starts no cycle); once it is
// over, Refresh reads again.
TEST_F(BusTest, RefreshWaitsOutARateLimit) {
    answer("tok-a", {429, "{}", "120"});
    call("Refresh");
    finishCycle();
    ASSERT_TRUE(store->backoffUntil());
    const QDBusMessage refused = call("Refresh");
    EXPECT_EQ(refused.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(refused.errorName(), latin(BusInterface::kRateLimited));
    EXPECT_NE(refused.errorMessage().toStdString().find("レート制限"), std::string::npos);
    finishCycle();

    answer("tok-a", ok(usageBody(5)));
    clock.advance(seconds(121));
    EXPECT_EQ(call("Refresh").type(), QDBusMessage::ReplyMessage);
}

#include "BusServiceTest.moc"
