#include "secrets/LibsecretSecretStore.h"
#include "secrets/PlatformSecretStore.h"

#include <libsecret/secret.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

// RAII for the GLib objects used here.
struct GErrorDeleter {
    void operator()(GError* e) const { g_error_free(e); }
};
struct HashTableDeleter {
    void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
struct ObjectDeleter {
    void operator()(gpointer o) const { g_object_unref(o); }
};
struct ValueDeleter {
    void operator()(SecretValue* v) const { secret_value_unref(v); }
};
struct ItemListDeleter {
    void operator()(GList* l) const { g_list_free_full(l, g_object_unref); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
using HashTablePtr = std::unique_ptr<GHashTable, HashTableDeleter>;
using ServicePtr = std::unique_ptr<SecretService, ObjectDeleter>;
using ValuePtr = std::unique_ptr<SecretValue, ValueDeleter>;
using ItemListPtr = std::unique_ptr<GList, ItemListDeleter>;

const SecretSchema* genericSchema() {
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "org.freedesktop.Secret.Generic";
        // Match items of the same attributes whatever schema name another program gave them.
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0].name = "service";
        s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        s.attributes[1].name = "account";
        s.attributes[1].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        s.attributes[2].name = nullptr;
        return s;
    }();
    return &schema;
}

// The attribute table refers to the strings; they must outlive it.
struct Attributes {
    std::string service;
    std::optional<std::string> account;
    HashTablePtr table{g_hash_table_new(g_str_hash, g_str_equal)};

    // With no account the attributes match every account of the service.
    Attributes(std::string_view s, std::optional<std::string_view> a)
        : service(s) {
        if (a)
            account.emplace(*a);
        g_hash_table_insert(table.get(), const_cast<char*>("service"), service.data());
        if (account)
            g_hash_table_insert(table.get(), const_cast<char*>("account"), account->data());
    }
};

int statusOf(const GError* error) {
    if (!error)
        return SecretStatus::internalError;
    if (error->domain == SECRET_ERROR) {
        if (error->code == SECRET_ERROR_IS_LOCKED)
            return SecretStatus::interactionNotAllowed;
        if (error->code == SECRET_ERROR_NO_SUCH_OBJECT)
            return SecretStatus::itemNotFound;
    }
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR || error->domain == G_SPAWN_ERROR)
        return SecretStatus::notAvailable;
    return SecretStatus::internalError;
}

// The service with an open session; null (and the status) when none is reachable.
ServicePtr connect(int& status, GCancellable* cancellable) {
    GError* raw = nullptr;
    ServicePtr service(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, cancellable, &raw));
    ErrorPtr error(raw);
    if (!service)
        status = error ? statusOf(error.get()) : SecretStatus::notAvailable;
    return service;
}

// Every item matching the attributes, unlocked ones with their secrets loaded.
ItemListPtr search(SecretService* service, const Attributes& attributes, int& status,
                   GCancellable* cancellable) {
    GError* raw = nullptr;
    const auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS);
    ItemListPtr items(secret_service_search_sync(service, genericSchema(), attributes.table.get(), flags,
                                                 cancellable, &raw));
    ErrorPtr error(raw);
    status = error ? statusOf(error.get()) : SecretStatus::success;
    return items;
}

ValuePtr makeValue(std::string_view data) {
    return ValuePtr(
        secret_value_new(data.data(), static_cast<gssize>(data.size()), "application/octet-stream"));
}

// Cancels the calls it is handed to once `limit` has passed.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds limit)
        : m_cancellable(g_cancellable_new()) {
        m_watch = std::thread([this, limit] {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait_for(lock, limit, [this] { return m_done; })) {
                m_expired = true;
                g_cancellable_cancel(m_cancellable);
            }
        });
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
    ~Deadline() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_watch.join();
        g_object_unref(m_cancellable);
    }
    GCancellable* get() const { return m_cancellable; }
    bool expired() {
        std::lock_guard lock(m_mutex);
        return m_expired;
    }

private:
    GCancellable* m_cancellable;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    bool m_expired = false;
    std::thread m_watch;
};

std::int64_t steadyNow() {
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

} // namespace

LibsecretSecretStore::LibsecretSecretStore(std::chrono::milliseconds timeout, std::chrono::milliseconds pause)
    : m_timeout(timeout)
    , m_pause(pause) {}

bool LibsecretSecretStore::paused() const {
    return steadyNow() < m_pausedUntil.load();
}

template <class Body>
int LibsecretSecretStore::guarded(Body&& body) {
    if (paused())
        return SecretStatus::notAvailable;
    Deadline deadline(m_timeout);
    int status = SecretStatus::success;
    if (ServicePtr connection = connect(status, deadline.get()))
        status = body(connection.get(), deadline.get());
    if (deadline.expired()) {
        m_pausedUntil =
            steadyNow() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(m_pause).count();
        return SecretStatus::notAvailable;
    }
    return status;
}

SecretRead LibsecretSecretStore::read(std::string_view service, std::optional<std::string_view> account) {
    SecretRead result;
    result.status = guarded([&](SecretService* connection, GCancellable* cancellable) {
        // An empty account means any account, as a missing one does.
        const Attributes attributes(service, account && !account->empty() ? account : std::nullopt);
        int status = SecretStatus::success;
        ItemListPtr items = search(connection, attributes, status, cancellable);
        if (status != SecretStatus::success)
            return status;
        bool sawLocked = false;
        for (GList* node = items.get(); node; node = node->next) {
            auto* item = static_cast<SecretItem*>(node->data);
            if (secret_item_get_locked(item)) {
                sawLocked = true;
                continue;
            }
            ValuePtr value(secret_item_get_secret(item));
            if (!value) {
                GError* raw = nullptr;
                if (!secret_item_load_secret_sync(item, cancellable, &raw)) {
                    ErrorPtr error(raw);
                    return statusOf(error.get());
                }
                value.reset(secret_item_get_secret(item));
            }
            if (!value)
                continue;
            gsize length = 0;
            const gchar* bytes = secret_value_get(value.get(), &length);
            result.data.assign(bytes ? bytes : "", bytes ? length : 0);
            return SecretStatus::success;
        }
        return sawLocked ? SecretStatus::interactionNotAllowed : SecretStatus::itemNotFound;
    });
    if (result.status != SecretStatus::success)
        result.data.clear();
    return result;
}

int LibsecretSecretStore::store(std::string_view service, std::string_view account, std::string_view data) {
    return guarded([&](SecretService*, GCancellable* cancellable) {
        const Attributes attributes(service, account);
        const std::string label = std::string(service) + " (" + std::string(account) + ")";
        ValuePtr value = makeValue(data);
        GError* raw = nullptr;
        // Creates the item, or replaces the secret of the item with the same attributes in one step.
        const gboolean ok = secret_password_storev_binary_sync(genericSchema(), attributes.table.get(),
                                                               SECRET_COLLECTION_DEFAULT, label.c_str(),
                                                               value.get(), cancellable, &raw);
        ErrorPtr error(raw);
        return ok ? SecretStatus::success : statusOf(error.get());
    });
}

int LibsecretSecretStore::update(std::string_view service, std::string_view data) {
    return guarded([&](SecretService* connection, GCancellable* cancellable) {
        const Attributes attributes(service, std::nullopt);
        int status = SecretStatus::success;
        ItemListPtr items = search(connection, attributes, status, cancellable);
        if (status != SecretStatus::success)
            return status;
        ValuePtr value = makeValue(data);
        bool updated = false;
        bool sawLocked = false;
        for (GList* node = items.get(); node; node = node->next) {
            auto* item = static_cast<SecretItem*>(node->data);
            if (secret_item_get_locked(item)) {
                sawLocked = true;
                continue;
            }
            GError* raw = nullptr;
            if (!secret_item_set_secret_sync(item, value.get(), cancellable, &raw)) {
                ErrorPtr error(raw);
                return statusOf(error.get());
            }
            updated = true;
        }
        if (updated)
            return SecretStatus::success;
        return sawLocked ? SecretStatus::interactionNotAllowed : SecretStatus::itemNotFound;
    });
}

int LibsecretSecretStore::remove(std::string_view service, std::string_view account) {
    return guarded([&](SecretService*, GCancellable* cancellable) {
        const Attributes attributes(service, account);
        GError* raw = nullptr;
        const gboolean removed =
            secret_password_clearv_sync(genericSchema(), attributes.table.get(), cancellable, &raw);
        ErrorPtr error(raw);
        if (error)
            return statusOf(error.get());
        return removed ? SecretStatus::success : SecretStatus::itemNotFound;
    });
}

std::unique_ptr<SecretStore> makePlatformSecretStore() {
    return std::make_unique<LibsecretSecretStore>();
}
