// Runs against a real Secret Service (gnome-keyring) on a private session bus; see
// tests/support/with-secret-service.sh. With ULMET_TEST_NO_SECRET_SERVICE=1 the bus has no
// Secret Service and only the tests of that case run.

#include "claude/ActiveCredentialStore.h"
#include "claude/ProfileSlotStore.h"
#include "secrets/LibsecretSecretStore.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool withoutService() {
    const char* v = std::getenv("ULMET_TEST_NO_SECRET_SERVICE");
    return v && std::string(v) == "1";
}

class RealSecretService : public testing::Test {
protected:
    void SetUp() override {
        if (withoutService())
            GTEST_SKIP() << "no Secret Service on this bus";
    }
    LibsecretSecretStore store;
};

TEST_F(RealSecretService, StoreReadReplaceAndRemove) {
    EXPECT_EQ(store.read("ulmet.test", "a").status, SecretStatus::itemNotFound);
    EXPECT_EQ(store.store("ulmet.test", "a", "first"), SecretStatus::success);
    EXPECT_EQ(store.store("ulmet.test", "a", "second"), SecretStatus::success);
    EXPECT_EQ(store.store("ulmet.test", "b", "other"), SecretStatus::success);
    SecretRead r = store.read("ulmet.test", "a");
    EXPECT_EQ(r.status, SecretStatus::success);
    EXPECT_EQ(r.data, "second");
    EXPECT_EQ(store.remove("ulmet.test", "a"), SecretStatus::success);
    EXPECT_EQ(store.read("ulmet.test", "a").status, SecretStatus::itemNotFound);
    EXPECT_EQ(store.remove("ulmet.test", "a"), SecretStatus::itemNotFound);
    EXPECT_EQ(store.read("ulmet.test", "b").data, "other") << "removing one account leaves the others";
}

TEST_F(RealSecretService, BinaryDataRoundTrips) {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<char>(i));
    bytes += std::string(100000, '\0');
    ASSERT_EQ(store.store("ulmet.test", "bin", bytes), SecretStatus::success);
    EXPECT_EQ(store.read("ulmet.test", "bin").data, bytes);
}

TEST_F(RealSecretService, AnEmptyOrMissingAccountMatchesAnyAccount) {
    ASSERT_EQ(store.store("ulmet.any", "someone", "data"), SecretStatus::success);
    EXPECT_EQ(store.read("ulmet.any", std::nullopt).data, "data");
    EXPECT_EQ(store.read("ulmet.any", "").data, "data");
    EXPECT_EQ(store.read("ulmet.any", "nobody").status, SecretStatus::itemNotFound);
}

TEST_F(RealSecretService, UpdateChangesEveryItemOfTheService) {
    EXPECT_EQ(store.update("ulmet.upd", "x"), SecretStatus::itemNotFound);
    store.store("ulmet.upd", "a", "1");
    store.store("ulmet.upd", "b", "2");
    EXPECT_EQ(store.update("ulmet.upd", "new"), SecretStatus::success);
    EXPECT_EQ(store.read("ulmet.upd", "a").data, "new");
    EXPECT_EQ(store.read("ulmet.upd", "b").data, "new");
}

TEST_F(RealSecretService, FindsItemsThatAnotherProgramStoredUnderTheSameAttributes) {
    SecretSchema other{};
    other.name = "com.example.OtherTool";
    other.flags = SECRET_SCHEMA_NONE;
    other.attributes[0].name = "service";
    other.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
    other.attributes[1].name = "account";
    other.attributes[1].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
    other.attributes[2].name = nullptr;
    GError* error = nullptr;
    ASSERT_TRUE(secret_password_store_sync(&other, SECRET_COLLECTION_DEFAULT, "other tool", "theirs", nullptr,
                                           &error, "service", "Claude Code-credentials", "account", "me",
                                           nullptr));
    testsupport::TempDir home;
    EXPECT_EQ(ActiveCredentialStore::read(store, home.path()), "theirs");
    ActiveCredentialStore::write(store, home.path(), "switched");
    EXPECT_EQ(ActiveCredentialStore::read(store, home.path()), "switched");
}

TEST_F(RealSecretService, SlotsReplaceInPlace) {
    const Uuid id = Uuid::random();
    ProfileSlotStore::write(store, id, "blob-1");
    ProfileSlotStore::write(store, id, "blob-2");
    EXPECT_EQ(store.read(ProfileSlotStore::service, id.toString()).data, "blob-2");
    // Exactly one item remains.
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    ASSERT_TRUE(service);
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    const std::string account = id.toString();
    g_hash_table_insert(attributes, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
    GList* items =
        secret_service_search_sync(service, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, &error);
    EXPECT_EQ(g_list_length(items), 1u);
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(attributes);
    g_object_unref(service);
    ProfileSlotStore::remove(store, id);
    EXPECT_EQ(store.read(ProfileSlotStore::service, id.toString()).status, SecretStatus::itemNotFound);
}

TEST_F(RealSecretService, ALockedCollectionIsReportedNotMistakenForMissing) {
    ASSERT_EQ(store.store("ulmet.lock", "a", "x"), SecretStatus::success);
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, &error);
    ASSERT_TRUE(service);
    GList* collections = secret_service_get_collections(service);
    GList* locked = nullptr;
    ASSERT_GE(secret_service_lock_sync(service, collections, nullptr, &locked, &error), 1);
    g_list_free_full(locked, g_object_unref);
    g_list_free_full(collections, g_object_unref);
    g_object_unref(service);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(store.read("ulmet.lock", "a").status, SecretStatus::interactionNotAllowed);
    EXPECT_EQ(store.update("ulmet.lock", "y"), SecretStatus::interactionNotAllowed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "no prompt, no hang";
}

TEST(NoSecretService, IsAClearErrorWithinSeconds) {
    if (!withoutService())
        GTEST_SKIP() << "a Secret Service is running on this bus";
    LibsecretSecretStore store;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(store.read("ulmet.test", "a").status, SecretStatus::notAvailable);
    EXPECT_EQ(store.store("ulmet.test", "a", "x"), SecretStatus::notAvailable);
    EXPECT_EQ(store.update("ulmet.test", "x"), SecretStatus::notAvailable);
    EXPECT_EQ(store.remove("ulmet.test", "a"), SecretStatus::notAvailable);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    testsupport::TempDir home;
    try {
        ActiveCredentialStore::read(store, home.path());
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(
            e.what(),
            "キーリング（Secret Service）に接続できません。GNOME Keyring、KeePassXC、KWallet などのキーリング"
            "を起動してから、もう一度試してください");
    }
}

TEST(HungSecretService, ATimeOutThenAPauseInsteadOfAHang) {
    if (!withoutService())
        GTEST_SKIP() << "a Secret Service is running on this bus";
    // A process that owns the service's name and never answers.
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::execl(HUNG_SECRET_SERVICE, HUNG_SECRET_SERVICE, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    char ready[16] = {};
    ASSERT_GT(::read(out[0], ready, sizeof ready - 1), 0);
    ::close(out[0]);

    LibsecretSecretStore store(std::chrono::milliseconds(1000), std::chrono::seconds(60));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(store.read("ulmet.test", "a").status, SecretStatus::notAvailable);
    const auto first = std::chrono::steady_clock::now() - start;
    EXPECT_GE(first, std::chrono::milliseconds(900));
    EXPECT_LT(first, std::chrono::seconds(5));
    // Paused: every further call of a cycle answers at once.
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(store.read(ProfileSlotStore::service, Uuid::random().toString()).status,
                  SecretStatus::notAvailable);
        EXPECT_EQ(store.store("ulmet.test", "a", "x"), SecretStatus::notAvailable);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace
