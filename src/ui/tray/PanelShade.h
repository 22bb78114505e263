#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Whether the panel that holds the tray icon is light or dark, so that the icon's marks stand out.
// No tray protocol says (a StatusNotifierItem host never tells its colours), so it is the
// desktop's habit: GNOME's top bar, waybar and most panels are dark; Xfce's panel follows the GTK
// theme (light Adwaita by default), and Plasma's follows the colour scheme Qt reports.
namespace PanelShade {

enum class Shade { dark, light, fromPalette };

// `desktop`: XDG_CURRENT_DESKTOP; `gtkTheme`: the GTK theme in force (GTK_THEME, or Xfce's
// setting), empty when not known.
Shade forDesktop(std::string_view desktop, std::string_view gtkTheme);

// Xfce's GTK theme, from its settings files (the user's first, then the system's defaults);
// empty when none names one.
std::string xfceThemeName(const std::filesystem::path& configHome,
                          const std::vector<std::filesystem::path>& configDirs);

// The shade of this session's panel, from the environment and those files.
Shade current();

} // namespace PanelShade
