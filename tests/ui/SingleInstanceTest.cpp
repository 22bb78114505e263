#include "shell/SingleInstance.h"

#include "ScopedEnv.h"
#include "TempDir.h"

#include <QDBusConnection>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fs = std::filesystem;
using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

// Without a session bus the lock file is kept only in a folder that is ours alone: in a folder
// others may enter, someone else could hold our lock and keep MeterKeeper from starting, so it
// starts without one.
TEST(SingleInstance, WithoutABusTheLockIsKeptOnlyInAFolderPrivateToUs) {
    const ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    if (QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "this process is on a session bus already";
    const TempDir runtime;
    const ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime.path().string());
    for (const mode_t shared : {0750, 0705, 0755}) {
        ASSERT_EQ(::chmod(runtime.path().c_str(), shared), 0);
        SingleInstance alone;
        EXPECT_TRUE(alone.claim());
        EXPECT_FALSE(fs::exists(runtime / "ulmet.lock")) << std::oct << shared;
    }
    ASSERT_EQ(::chmod(runtime.path().c_str(), 0700), 0);
    SingleInstance first;
    EXPECT_TRUE(first.claim());
    EXPECT_TRUE(fs::exists(runtime / "ulmet.lock"));
    SingleInstance second;
    EXPECT_FALSE(second.claim()) << "the first one holds the lock";
}

} // namespace
