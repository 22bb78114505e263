#include "platform/LaunchAtLogin.h"

#if defined(__APPLE__)
#error "macOS: the login item (SMAppService) is not implemented yet; this file is the freedesktop one."
#endif

#include "base/FileIO.h"
#include "base/Paths.h"

#include <QFile>
#include <QSettings>

#include <cstdlib>

namespace fs = std::filesystem;

namespace LaunchAtLogin {
namespace {

QString quoteExec(const QString& path) {
    QString quoted = path;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    quoted.replace(QLatin1Char('"'), QLatin1String("\\\""));
    quoted.replace(QLatin1Char('`'), QLatin1String("\\`"));
    quoted.replace(QLatin1Char('$'), QLatin1String("\\$"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

fs::path entryPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const fs::path base = config && *config == '/' ? fs::path(config) : Paths::homeDir() / ".config";
    return base / "autostart" / "ulmet.desktop";
}

bool isEnabled() {
    const fs::path path = entryPath();
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return false;
    QSettings entry(QString::fromStdString(path.string()), QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    const auto isTrue = [&](const char* key) {
        return entry.value(QLatin1String(key))
                   .toString()
                   .trimmed()
                   .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    };
    const auto isFalse = [&](const char* key) {
        return entry.value(QLatin1String(key))
                   .toString()
                   .trimmed()
                   .compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
    };
    return !isTrue("Hidden") && !isFalse("X-GNOME-Autostart-enabled");
}

std::optional<QString> set(bool enabled, const QString& executable) {
    if (enabled == isEnabled())
        return std::nullopt;
    const fs::path path = entryPath();
    std::error_code error;
    if (enabled) {
        FileIO::createDirectories(path.parent_path(), 0755, error);
        const QString text =
            QStringLiteral("[Desktop Entry]\nType=Application\nName=MeterKeeper\n"
                           "Comment=Claude and Codex rate-limit usage in the tray\nExec=") +
            quoteExec(executable) +
            QStringLiteral(
                "\nIcon=io.github.ulmet.MeterKeeper\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
        const QByteArray bytes = text.toUtf8();
        if (!FileIO::writeAtomic(path,
                                 std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                                 0644, error))
            return QString::fromStdString(path.string() + ": " + error.message());
        return std::nullopt;
    }
    if (!fs::remove(path, error) && error)
        return QString::fromStdString(path.string() + ": " + error.message());
    return std::nullopt;
}

} // namespace LaunchAtLogin
