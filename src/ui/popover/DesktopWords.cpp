#include "popover/DesktopWords.h"

#include "base/Language.h"
#include "base/PlatformWords.h"

QVariantMap DesktopWords::text() {
    const PlatformWords::Words& w = PlatformWords::current;
    // Literals, so NUL-terminated: translated as the core's texts are.
    auto q = [](std::string_view s) { return QString::fromUtf8(TR(s.data())); };
    return {
        {QStringLiteral("disconnected"), q(w.disconnected)},
        {QStringLiteral("connected"), q(w.connected)},
        {QStringLiteral("disconnectedNote"), q(w.disconnectedNote)},
        {QStringLiteral("liveLoginOn"), q(w.liveLoginOn)},
        {QStringLiteral("liveLoginOff"), q(w.liveLoginOff)},
        {QStringLiteral("trayPage"), q(w.trayPage)},
        {QStringLiteral("trayMetricsTitle"), q(w.trayMetricsTitle)},
        {QStringLiteral("trayMetricsNote"), q(w.trayMetricsNote)},
        {QStringLiteral("profilesNote"), q(w.profilesNote)},
    };
}
