// The glyphs, probed pixel by pixel at a known scale (not compared as whole images).

#include "glyphs/GlyphPainter.h"
#include "tray/PanelShade.h"

#include "TempDir.h"

#include <fstream>

#include <gtest/gtest.h>

namespace {

constexpr qreal kScale = 4; // device pixels per point: probes fall well inside shapes
const QColor kTint(0x34, 0xC7, 0x59);
const GlyphColors kColors = GlyphColors::dark();

GlyphMetric metric(MenuBarStyle style, double util, std::optional<double> elapsed = std::nullopt) {
    GlyphMetric m;
    m.style = style;
    m.util = util;
    m.elapsed = elapsed;
    m.tint = kTint;
    return m;
}

// The drawing alone on a transparent image, at kScale.
QImage render(const GlyphMetric& m) {
    const QSizeF size = GlyphPainter::drawingSize(m.style, m.util);
    QImage image(static_cast<int>(std::ceil(size.width() * kScale)) + 1,
                 static_cast<int>(std::ceil(size.height() * kScale)) + 1,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(kScale, kScale);
    GlyphPainter::paintDrawing(p, {0, 0}, m, kColors);
    return image;
}

// The colour at a point given in points, without alpha premultiplication.
QColor at(const QImage& image, qreal x, qreal y) {
    return image.pixelColor(static_cast<int>(x * kScale), static_cast<int>(y * kScale)).toRgb();
}

bool near(const QColor& a, const QColor& b, int tolerance = 12) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance && a.alpha() > 200;
}

TEST(GlyphLevels, ColourAndTextUseTheUnroundedAndRoundedValue) {
    EXPECT_EQ(GlyphPainter::levelColor(69.5, kTint, kColors), kTint);
    EXPECT_EQ(GlyphPainter::percentText(69.5), QStringLiteral("70%"));
    EXPECT_EQ(GlyphPainter::levelColor(70, kTint, kColors), kColors.orange);
    EXPECT_EQ(GlyphPainter::levelColor(89.99, kTint, kColors), kColors.orange);
    EXPECT_EQ(GlyphPainter::levelColor(90, kTint, kColors), kColors.red);
    EXPECT_EQ(GlyphPainter::percentText(0), QStringLiteral("0%"));
    EXPECT_EQ(GlyphPainter::percentText(120), QStringLiteral("120%"));
    EXPECT_EQ(GlyphPainter::percentText(2.5), QStringLiteral("3%")) << "halves away from zero";
}

TEST(GlyphBattery, ASliverAtZeroAFullBodyAboveAHundredAndTheMarkerAtTheEnd) {
    const QImage empty = render(metric(MenuBarStyle::batteryClassic, 0));
    EXPECT_TRUE(near(at(empty, 3, 6.5), kTint)) << "2-point sliver from x = 2";
    EXPECT_FALSE(near(at(empty, 5, 6.5), kTint));

    const QImage half = render(metric(MenuBarStyle::batteryClassic, 50));
    EXPECT_TRUE(near(at(half, 12.5, 6.5), kTint)); // 2 + 22 × 0.5 = 13
    EXPECT_FALSE(near(at(half, 13.5, 6.5), kTint));

    const QImage over = render(metric(MenuBarStyle::batteryClassic, 120));
    EXPECT_TRUE(near(at(over, 23.5, 6.5), kColors.red)) << "full and red";

    const QImage marked = render(metric(MenuBarStyle::batteryClassic, 10, 1.0));
    EXPECT_GT(at(marked, 25.5, 6.5).alpha(), 150) << "elapsed 1.0 at W - 1";
    EXPECT_GT(at(marked, 27.5, 6.5).alpha(), 80) << "the terminal";
}

TEST(GlyphBar, SliverFullAndMarker) {
    const QImage empty = render(metric(MenuBarStyle::progressBar, 0));
    const qreal mid = GlyphPainter::drawingSize(MenuBarStyle::progressBar, 0).height() / 2;
    EXPECT_TRUE(near(at(empty, 1, mid), kTint));
    EXPECT_FALSE(near(at(empty, 4, mid), kTint));
    const QImage orange = render(metric(MenuBarStyle::progressBar, 70, 1.0));
    EXPECT_TRUE(near(at(orange, 10, mid), kColors.orange));
    EXPECT_GT(at(orange, 23.5, mid - 4.5).alpha(), 150) << "the marker at W - 1, taller than the bar";
    EXPECT_EQ(at(orange, 20, mid - 4.5).alpha(), 0);
}

TEST(GlyphRing, EmptyAtZeroClosedAboveAHundredStartingAtTheTopClockwise) {
    const QImage zero = render(metric(MenuBarStyle::iconWithBar, 0));
    EXPECT_FALSE(near(at(zero, 7, 1.25), kTint)) << "only the track";
    EXPECT_GT(at(zero, 7, 1.25).alpha(), 20);

    const QImage quarter = render(metric(MenuBarStyle::iconWithBar, 30));
    EXPECT_TRUE(near(at(quarter, 12.6, 5.0), kTint)) << "clockwise from the top: the right side first";
    EXPECT_FALSE(near(at(quarter, 1.4, 5.0), kTint));

    const QImage closed = render(metric(MenuBarStyle::iconWithBar, 120));
    EXPECT_TRUE(near(at(closed, 1.25, 7), kColors.red));
    EXPECT_TRUE(near(at(closed, 12.75, 7), kColors.red));
}

TEST(GlyphTray, SquareCompositionsAt22Pixels) {
    auto session = metric(MenuBarStyle::compact, 40);
    auto week = metric(MenuBarStyle::compact, 95);
    const QImage one = GlyphPainter::trayIcon({session}, 22, kColors);
    EXPECT_EQ(one.size(), QSize(22, 22));
    EXPECT_TRUE(near(one.pixelColor(11, 11), kTint)) << "one metric fills the square";

    const QImage two = GlyphPainter::trayIcon({session, week}, 22, kColors);
    EXPECT_TRUE(near(two.pixelColor(11, 5), kTint)) << "session above";
    EXPECT_TRUE(near(two.pixelColor(11, 16), kColors.red)) << "week below";

    // The battery is wider than tall: it spans the width and stays whole (not cut in half).
    const QImage battery = GlyphPainter::trayIcon({metric(MenuBarStyle::batteryClassic, 100)}, 22, kColors);
    EXPECT_GT(battery.pixelColor(2, 11).alpha(), 100);
    EXPECT_GT(battery.pixelColor(17, 11).alpha(), 100);
    EXPECT_GT(battery.pixelColor(20, 11).alpha(), 50) << "the terminal is inside the square";
    EXPECT_EQ(battery.pixelColor(11, 2).alpha(), 0) << "centred vertically";

    const QImage nothing = GlyphPainter::trayIcon({}, 22, kColors);
    int painted = 0;
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 22; ++x)
            painted += nothing.pixelColor(x, y).alpha() > 0;
    EXPECT_GT(painted, 20) << "the gauge symbol";
}

TEST(GlyphLabel, WideLabelPlacesGlyphsEightPointsApartWithTheBadgeAfterTheFirst) {
    auto session = metric(MenuBarStyle::compact, 40);
    session.remaining = QStringLiteral("→3H");
    const auto week = metric(MenuBarStyle::compact, 10);
    const QImage label = GlyphPainter::wideLabel({session, week}, 2, kColors);
    const qreal width = 1 + GlyphPainter::glyphSize(session).width() + 8 + 8 + 1;
    EXPECT_EQ(label.width(), static_cast<int>(std::ceil(width * 2)))
        << GlyphPainter::glyphSize(session).width();
    EXPECT_FALSE(GlyphPainter::wideLabel({}, 2, kColors).isNull()) << "gauge and dash";
}

// The tray icon's marks follow the panel's shade: Xfce's panel is as light or dark as its GTK
// theme, which its settings files name (the user's over the system's).
TEST(PanelShade, FollowsTheDesktopAndXfcesTheme) {
    using PanelShade::Shade;
    EXPECT_EQ(PanelShade::forDesktop("GNOME", "Adwaita"), Shade::dark);
    EXPECT_EQ(PanelShade::forDesktop("sway", ""), Shade::dark);
    EXPECT_EQ(PanelShade::forDesktop("", ""), Shade::dark);
    EXPECT_EQ(PanelShade::forDesktop("KDE", ""), Shade::fromPalette);
    EXPECT_EQ(PanelShade::forDesktop("XFCE", ""), Shade::light);
    EXPECT_EQ(PanelShade::forDesktop("XFCE", "Adwaita"), Shade::light);
    EXPECT_EQ(PanelShade::forDesktop("xfce", "Greybird-dark"), Shade::dark);
    EXPECT_EQ(PanelShade::forDesktop("ubuntu:XFCE", "Adwaita-Dark"), Shade::dark);

    testsupport::TempDir user, system;
    const auto settings = [](const testsupport::TempDir& dir, const char* theme) {
        const auto file = dir.path() / "xfce4/xfconf/xfce-perchannel-xml/xsettings.xml";
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file)
            << "<?xml version=\"1.0\"?>\n<channel name=\"xsettings\">\n  <property name=\"Net\" "
               "type=\"empty\">\n    <property name=\"ThemeName\" type=\"string\" value=\""
            << theme << "\"/>\n  </property>\n</channel>\n";
    };
    EXPECT_EQ(PanelShade::xfceThemeName(user.path(), {system.path()}), "");
    settings(system, "Adwaita");
    EXPECT_EQ(PanelShade::xfceThemeName(user.path(), {system.path()}), "Adwaita");
    settings(user, "Adwaita-dark");
    EXPECT_EQ(PanelShade::xfceThemeName(user.path(), {system.path()}), "Adwaita-dark");
}

} // namespace
