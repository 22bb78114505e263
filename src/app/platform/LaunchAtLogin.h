#pragma once

#include <QString>

#include <filesystem>
#include <optional>

// Starting the application at login, through an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/ulmet.desktop, default ~/.config/autostart).
namespace LaunchAtLogin {

std::filesystem::path entryPath();

// Whether the entry exists and is neither hidden nor disabled.
bool isEnabled();

// Writes or removes the entry for `executable`; none on success or when nothing had to change,
// else a description of what failed (the state is left as it was).
std::optional<QString> set(bool enabled, const QString& executable);

} // namespace LaunchAtLogin
