#include "tray/PanelShade.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace PanelShade {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool hasDesktop(std::string_view desktops, std::string_view name) {
    // XDG_CURRENT_DESKTOP is a colon-separated list ("ubuntu:GNOME").
    std::size_t start = 0;
    while (start <= desktops.size()) {
        const std::size_t end = std::min(desktops.find(':', start), desktops.size());
        if (lower(desktops.substr(start, end - start)) == lower(name))
            return true;
        start = end + 1;
    }
    return false;
}

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

Shade forDesktop(std::string_view desktop, std::string_view gtkTheme) {
    if (hasDesktop(desktop, "KDE"))
        return Shade::fromPalette;
    if (hasDesktop(desktop, "XFCE"))
        return lower(gtkTheme).find("dark") != std::string::npos ? Shade::dark : Shade::light;
    return Shade::dark;
}

std::string xfceThemeName(const fs::path& configHome, const std::vector<fs::path>& configDirs) {
    std::vector<fs::path> files{configHome};
    files.insert(files.end(), configDirs.begin(), configDirs.end());
    for (const fs::path& dir : files) {
        std::ifstream in(dir / "xfce4/xfconf/xfce-perchannel-xml/xsettings.xml");
        if (!in)
            continue;
        std::ostringstream text;
        text << in.rdbuf();
        // <property name="ThemeName" type="string" value="Adwaita"/>
        const std::string xml = text.str();
        const std::size_t name = xml.find("name=\"ThemeName\"");
        const std::size_t tagEnd = xml.find('>', name);
        const std::size_t value = xml.find("value=\"", name);
        if (name == std::string::npos || value == std::string::npos || value > tagEnd)
            continue;
        const std::size_t start = value + 7;
        const std::size_t end = xml.find('"', start);
        if (end != std::string::npos && end < tagEnd)
            return xml.substr(start, end - start);
    }
    return {};
}

Shade current() {
    const std::string desktop = env("XDG_CURRENT_DESKTOP");
    std::string theme = env("GTK_THEME");
    if (theme.empty() && hasDesktop(desktop, "XFCE")) {
        const std::string home = env("HOME");
        const std::string configHome = env("XDG_CONFIG_HOME");
        std::vector<fs::path> dirs;
        std::stringstream list(env("XDG_CONFIG_DIRS").empty() ? "/etc/xdg" : env("XDG_CONFIG_DIRS"));
        for (std::string dir; std::getline(list, dir, ':');)
            if (!dir.empty())
                dirs.emplace_back(dir);
        theme = xfceThemeName(configHome.empty() ? fs::path(home) / ".config" : fs::path(configHome), dirs);
    }
    return forDesktop(desktop, theme);
}

} // namespace PanelShade
