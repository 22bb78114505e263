#include "base/Modules.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// A program module is loaded only when it and its folder are ours (or root's) and nobody else
// may write them: anyone who can replace the file or its folder would run code as us.
TEST(Modules, OnlyAModuleAndFolderWritableByUsAloneAreLoaded) {
    TempDir tmp;
    const fs::path dir = tmp / "lib";
    const fs::path module = dir / "ulmet-full.so";
    writeFile(module, "not really a module");
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(module.c_str(), 0755), 0);
    EXPECT_EQ(Modules::unsafeToLoad(module), "");

    const struct {
        fs::path path;
        mode_t mode;
    } writable[] = {{module, 0775}, {module, 0757}, {dir, 0775}, {dir, 0757}};
    for (const auto& w : writable) {
        ASSERT_EQ(::chmod(w.path.c_str(), w.mode), 0);
        EXPECT_EQ(Modules::unsafeToLoad(module), w.path.string() + " is writable by other users; not loaded")
            << std::oct << w.mode;
        std::string errors;
        EXPECT_EQ(Modules::entry(module, "ulmet_main", errors), nullptr);
        EXPECT_EQ(errors, "\n  " + w.path.string() + " is writable by other users; not loaded");
        ASSERT_EQ(::chmod(w.path.c_str(), 0755), 0);
    }

    // Another user's file (root may hand it over; anyone else cannot).
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(module.c_str(), 12345, 12345), 0);
        EXPECT_EQ(Modules::unsafeToLoad(module), module.string() + " belongs to another user; not loaded");
        ASSERT_EQ(::chown(module.c_str(), 0, 0), 0);
    }

    // Safe to load, but not a module: dlopen's own reason.
    std::string errors;
    EXPECT_EQ(Modules::entry(module, "ulmet_main", errors), nullptr);
    EXPECT_NE(errors.find(module.string()), std::string::npos) << errors;
    EXPECT_EQ(Modules::unsafeToLoad(dir / "missing.so"),
              (dir / "missing.so").string() + ": No such file or directory");
}

// A module reached through a link is checked where it really is: a safe folder holding a link to
// a file in a folder others may write is refused.
TEST(Modules, ALinkIsCheckedAtTheRealFile) {
    TempDir tmp;
    const fs::path safe = tmp / "lib";
    const fs::path open = tmp / "open";
    writeFile(open / "ulmet-full.so", "not really a module");
    fs::create_directories(safe);
    ASSERT_EQ(::chmod(safe.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    ASSERT_EQ(::chmod((open / "ulmet-full.so").c_str(), 0755), 0);
    fs::create_symlink(open / "ulmet-full.so", safe / "ulmet-full.so");
    const std::string why = open.string() + " is writable by other users; not loaded";
    EXPECT_EQ(Modules::unsafeToLoad(safe / "ulmet-full.so"), why);
    std::string errors;
    EXPECT_EQ(Modules::entry(safe / "ulmet-full.so", "ulmet_main", errors), nullptr);
    EXPECT_EQ(errors, "\n  " + why);
}

} // namespace
