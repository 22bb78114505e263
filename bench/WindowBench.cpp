// Opening the history window on 30 days of history (5 profiles, one reading a minute: 216,000
// records) and the settings window, offscreen with the software scene graph. Prints the time from
// the click to the first frame with the chart, the longest stall of the main thread meanwhile,
// the settings window's first frame, and, as the baseline of the same run, the history load and
// chart computation alone.

#include "BenchData.h"

#include "base/Clock.h"
#include "config/ConfigStore.h"
#include "history/HistoryChart.h"
#include "history/HistoryModel.h"
#include "net/CurlTransport.h"
#include "scene/SceneWindows.h"
#include "secrets/SecretStore.h"
#include "store/Sleeper.h"
#include "store/UsageStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QQuickItem>
#include <QQuickView>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>

Q_IMPORT_QML_PLUGIN(MeterKeeperPlugin)

namespace {

// No secret store at all: the profiles stay unconnected, nothing goes to the network.
class NoSecrets : public SecretStore {
public:
    SecretRead read(std::string_view, std::optional<std::string_view>) override { return {}; }
    int store(std::string_view, std::string_view, std::string_view) override {
        return SecretStatus::notAvailable;
    }
    int update(std::string_view, std::string_view) override { return SecretStatus::notAvailable; }
    int remove(std::string_view, std::string_view) override { return SecretStatus::notAvailable; }
};

// Runs the event loop until `done`, and reports the longest gap between two turns of a 2 ms timer.
double runUntil(const std::function<bool()>& done, double& longestStallMs) {
    QElapsedTimer total, gap;
    total.start();
    gap.start();
    longestStallMs = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestStallMs = std::max(longestStallMs, gap.nsecsElapsed() / 1e6);
        gap.restart();
    });
    ticker.start(2);
    while (!done() && total.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    longestStallMs = std::max(longestStallMs, gap.nsecsElapsed() / 1e6); // up to the last frame
    return total.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);

    const auto root = benchdata::root() / "window-bench";
    std::filesystem::remove_all(root);
    const auto configDir = root / "config";
    const Instant now = std::chrono::system_clock::now();
    const auto ids = benchdata::writeHistory(configDir / "history", 5, 30, now);
    AppConfig config;
    const char* names[] = {"main", "work", "side", "spare", "lab"};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ProfileConfig p;
        p.id = ids[i];
        p.name = names[i % 5];
        p.colorName = std::string(ColorPalette::all()[i].name);
        config.profiles.push_back(p);
    }
    ConfigStore::save(config, configDir);

    // Baseline: the load and the computation alone, off any window.
    HistoryStore history(configDir / "history");
    QElapsedTimer t;
    t.start();
    std::vector<HistoryChart::ProfileName> profileNames;
    for (const ProfileConfig& p : config.profiles)
        profileNames.push_back({p.id, p.name});
    const auto data =
        HistoryChart::compute(history.load(now - std::chrono::hours(24 * 30)), profileNames, "five_hour");
    const double baseline = t.nsecsElapsed() / 1e6;

    CurlTransport http;
    NoSecrets secrets;
    SystemClock clock;
    TimerSleeper sleeper;
    UsageStore store(
        StoreDependencies{Services{http, secrets, clock, root}, configDir, &history, &sleeper, {}});
    SceneWindows windows(&store);

    double stall = 0;
    // Settings: click → first frame.
    bool settingsFrame = false;
    t.restart();
    windows.openSettings();
    QObject::connect(windows.settings(), &QQuickWindow::frameSwapped, [&] { settingsFrame = true; });
    const double settingsMs = runUntil([&] { return settingsFrame; }, stall);

    // History window over 30 days of files: click → the frame that shows the (24-hour) chart;
    // then the "30日" segment → the frame with the month's chart.
    QObject* model = nullptr;
    auto measure = [&](const std::function<void()>& click, double& stallMs) {
        bool resultArrived = false, chartShown = false;
        QElapsedTimer elapsed;
        elapsed.start();
        click();
        QQuickView* view = windows.history();
        model = view->rootObject()->property("history").value<QObject*>();
        auto c1 = QObject::connect(qobject_cast<HistoryModel*>(model), &HistoryModel::resultChanged,
                                   [&] { resultArrived = true; });
        auto c2 = QObject::connect(view, &QQuickWindow::frameSwapped,
                                   [&] { chartShown = chartShown || resultArrived; });
        runUntil([&] { return chartShown; }, stallMs);
        QObject::disconnect(c1);
        QObject::disconnect(c2);
        return elapsed.nsecsElapsed() / 1e6;
    };
    double openStall = 0, monthStall = 0;
    const double openMs = measure([&] { windows.openHistory(); }, openStall);
    const double monthMs = measure([&] { model->setProperty("range", QStringLiteral("30日")); }, monthStall);

    std::printf(
        "history window on 30 days of files (216,000 records): first chart (24 hours) %.0f ms after the "
        "click; \"30日\" (%zu points drawn) %.0f ms after its click; longest main-thread stall %.0f ms\n",
        openMs, data.points.size(), monthMs, std::max(openStall, monthStall));
    std::printf("  baseline, the 30-day load and computation alone: %.0f ms (ratio %.2f)\n", baseline,
                monthMs / baseline);
    std::printf("settings window: first frame %.0f ms after the click (longest stall %.0f ms)\n", settingsMs,
                stall);
    return 0;
}
