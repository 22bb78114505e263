#include "shell/Shell.h"

#include "glyphs/GlyphPainter.h"
#include "glyphs/MenuGlyphs.h"
#include "store/UsageStore.h"
#include "tray/PanelShade.h"
#include "tray/TrayIcon.h"
#include "tray/XEmbedTray.h"
#include "usage/UsageWindow.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QPalette>
#include <QTimer>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr int kTrayHostWaitMs = 3000;

GlyphColors panelColors() {
    switch (PanelShade::current()) {
    case PanelShade::Shade::fromPalette:
        return GlyphColors::forBackground(QGuiApplication::palette().color(QPalette::Window));
    case PanelShade::Shade::light:
        return GlyphColors::light();
    case PanelShade::Shade::dark:
        break;
    }
    return GlyphColors::dark();
}

} // namespace

Shell::Shell(UsageStore* store, ProfileListModel* profiles, Scene::Factory makeScene, bool trayWanted,
             QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_profiles(profiles)
    , m_makeScene(std::move(makeScene))
    , m_actions(std::make_unique<PopoverActions>()) {
    connect(m_actions.get(), &PopoverActions::quitRequested, qApp, &QCoreApplication::quit);
    // The panel beside a tray icon gives way to the window it opens, as a popover does; the
    // window that stands in for a missing tray stays, for it is all there is of the program.
    auto giveWay = [this] {
        if (m_panelMode == Scene::PanelMode::popover && m_scene)
            m_scene->hidePanel();
    };
    connect(m_actions.get(), &PopoverActions::settingsRequested, this, [this, giveWay] {
        giveWay();
        if (Scene* s = scene())
            s->openSettings();
    });
    connect(m_actions.get(), &PopoverActions::historyRequested, this, [this, giveWay] {
        giveWay();
        if (Scene* s = scene())
            s->openHistory();
    });

    if (!trayWanted) {
        useWindowInsteadOfTray();
        return;
    }
    followTrayHosts();
    if (TrayIcon::hostReady()) {
        createTray();
        return;
    }
    // A panel may be starting beside us (a login session): its host is waited for a little, on
    // a timer, so that nothing else waits (the bus interface answers meanwhile). Then the window
    // stands in, and the tray takes over whenever a host comes.
    auto* wait = new QTimer(this);
    connect(wait, &QTimer::timeout, this, [this, wait, deadline = QDeadlineTimer(kTrayHostWaitMs)] {
        if (!m_tray && TrayIcon::hostReady())
            createTray();
        if (m_tray || deadline.hasExpired()) {
            wait->deleteLater();
            if (!m_tray && TrayIcon::hostAvailable())
                createTray(); // an XEmbed tray beside a watcher that never got its host
            else if (!m_tray)
                useWindowInsteadOfTray();
        }
    });
    wait->start(50);
}

// A tray host may come later than we do, go away and come back (a panel that starts after us or
// restarts after a configuration change, a theme change or a crash): the icon goes into whichever
// is there, and the window stands in while none is.
void Shell::followTrayHosts() {
    auto* watcher = new QDBusServiceWatcher(kWatcher, QDBusConnection::sessionBus(),
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& oldOwner, const QString& newOwner) {
                if (!oldOwner.isEmpty() && m_tray && m_kind == TrayKind::statusNotifier)
                    useWindowInsteadOfTray();
                if (!newOwner.isEmpty() && !m_tray)
                    returnToTrayWhenHostRegisters();
            });
    QDBusConnection::sessionBus().connect(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                          QStringLiteral("StatusNotifierHostRegistered"), this,
                                          SLOT(enterTrayIfThere()));
    m_xembed = std::make_unique<XEmbedTray>();
    connect(m_xembed.get(), &XEmbedTray::appeared, this, &Shell::enterTrayIfThere);
    connect(m_xembed.get(), &XEmbedTray::vanished, this, [this] {
        if (m_tray && m_kind == TrayKind::xembed)
            useWindowInsteadOfTray();
    });
}

// Qt takes StatusNotifierItem or XEmbed at the first icon of the process and keeps it: a tray of
// the other kind cannot take an icon from this process.
void Shell::enterTrayIfThere() {
    if (m_tray)
        return;
    const bool statusNotifier = TrayIcon::statusNotifierHostRegistered();
    const bool xembed = XEmbedTray::present();
    const bool fits = m_kind == TrayKind::undecided        ? statusNotifier || xembed
                      : m_kind == TrayKind::statusNotifier ? statusNotifier
                                                           : xembed;
    if (!fits)
        return;
    if (m_scene)
        m_scene->hidePanel();
    setPanelMode(Scene::PanelMode::popover);
    createTray();
}

void Shell::createTray() {
    if (m_kind == TrayKind::undecided)
        m_kind = TrayIcon::statusNotifierHostRegistered() ? TrayKind::statusNotifier : TrayKind::xembed;
    m_tray = std::make_unique<TrayIcon>();
    connect(m_tray.get(), &TrayIcon::activated, this, [this] {
        // XEmbed tells us where the icon is; a StatusNotifierItem host does not: the pointer is
        // where the user clicked.
        const auto anchor = m_tray->geometry().value_or(QRect(QCursor::pos(), QSize(1, 1)));
        if (Scene* s = scene())
            s->togglePanel(anchor);
    });
    connect(m_tray.get(), &TrayIcon::panelRequested, this, [this] { activate(); });
    connect(m_tray.get(), &TrayIcon::historyRequested, m_actions.get(), &PopoverActions::openHistory);
    connect(m_tray.get(), &TrayIcon::settingsRequested, m_actions.get(), &PopoverActions::openSettings);
    connect(m_tray.get(), &TrayIcon::quitRequested, qApp, &QCoreApplication::quit);
    connect(m_store, &UsageStore::configChanged, this, &Shell::updateTray, Qt::UniqueConnection);
    connect(m_store, &UsageStore::statusesChanged, this, &Shell::updateTray, Qt::UniqueConnection);
    updateTray();
    m_tray->show();
}

// A watcher is back: its panel registers its host a moment later (waybar ~150 ms), and not every
// watcher announces that. Until then, and if it never does, the window stays.
void Shell::returnToTrayWhenHostRegisters() {
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, deadline = QDeadlineTimer(5000)] {
        enterTrayIfThere();
        if (m_tray || deadline.hasExpired())
            poll->deleteLater();
    });
    poll->start(50);
}

Shell::~Shell() = default;

Scene* Shell::scene() {
    if (!m_scene && !m_sceneFailed) {
        m_scene = m_makeScene({m_store, m_profiles, m_actions.get(), m_panelMode});
        m_sceneFailed = !m_scene;
        // Without its windows the program would be invisible where no tray holds its icon.
        if (m_sceneFailed && !m_tray)
            QMetaObject::invokeMethod(
                qApp, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    }
    return m_scene.get();
}

void Shell::setPanelMode(Scene::PanelMode mode) {
    m_panelMode = mode;
    if (m_scene)
        m_scene->setPanelMode(mode);
}

void Shell::activate() {
    Scene* s = scene();
    if (!s)
        return;
    if (m_tray)
        s->showPanel(m_tray->geometry().value_or(QRect(QCursor::pos(), QSize(1, 1))));
    else
        s->showPanel(std::nullopt);
}

void Shell::useWindowInsteadOfTray() {
    m_tray.reset();
    setPanelMode(Scene::PanelMode::window);
    if (Scene* s = scene())
        s->showPanel(std::nullopt);
}

void Shell::updateTray() {
    if (!m_tray)
        return;
    const auto menu = m_store->menuMetrics();
    const std::vector<GlyphMetric> metrics = menuGlyphs(menu);
    QString tip = QStringLiteral("MeterKeeper");
    const auto shown = m_store->activeProfileWindows();
    if (shown)
        tip += QStringLiteral(" — ") + QString::fromStdString(shown->first.name);
    for (std::size_t i = 0; i < metrics.size(); ++i)
        tip += QLatin1Char('\n') +
               (menu[i].id == "session" ? tr("セッション %1") : tr("週 %1"))
                   .arg(GlyphPainter::percentText(metrics[i].util)) +
               (metrics[i].remaining ? QLatin1Char(' ') + *metrics[i].remaining : QString());
    // Figures kept after a failed look say how old they are; without any, why there are none.
    const auto& config = m_store->config();
    if (const ProfileState* state = shown ? m_store->state(shown->first.id) : nullptr;
        state && state->problem)
        tip += QLatin1Char('\n') +
               QString::fromStdString(UsageWindow::readingAge(state->ok()->at, m_store->currentTime()) +
                                      " · " + *state->problem);
    else if (!shown)
        for (const ProfileConfig& p : config.profiles)
            if (const ProfileStatus* status = m_store->status(p.id);
                config.activeProfileID == p.id && status && status->errorValue())
                tip += QStringLiteral(" — ") + QString::fromStdString(p.name) + QLatin1Char('\n') +
                       QString::fromStdString(status->errorValue()->message);
    const GlyphColors colors = panelColors();
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(GlyphPainter::trayIcon(metrics, size, colors)));
    m_tray->setIcon(icon);
    m_tray->setToolTip(tip);
}
