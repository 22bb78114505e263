// Test helper: owns the Secret Service's bus name and never answers a call (its connection drops
// every incoming method call). Prints "ready" once it owns the name, then waits to be killed.

#include <gio/gio.h>

#include <cstdio>
#include <unistd.h>

namespace {

GDBusMessage* swallowCalls(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) {
    if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
        g_object_unref(message);
        return nullptr; // no reply, ever
    }
    return message;
}

} // namespace

int main() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        std::fprintf(stderr, "no session bus: %s\n", error->message);
        return 1;
    }
    g_dbus_connection_add_filter(bus, swallowCalls, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.secrets", 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
        -1, nullptr, &error);
    if (!reply) {
        std::fprintf(stderr, "cannot own the name: %s\n", error->message);
        return 1;
    }
    g_variant_unref(reply);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
