#include "popover/PopoverWindow.h"

#include "models/ProfileListModel.h"
#include "popover/IconProvider.h"
#include "popover/PopoverPlacement.h"
#include "store/UsageStore.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>

PopoverWindow::PopoverWindow(UsageStore* store, ProfileListModel* profiles, PopoverActions* actions,
                             Mode mode, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_profiles(profiles)
    , m_actions(actions)
    , m_mode(mode) {}

PopoverWindow::~PopoverWindow() {
    // The window announces its own end (visibility, activation) while it is half destroyed.
    if (m_view) {
        m_view->removeEventFilter(this);
        disconnect(m_view.get(), nullptr, this, nullptr);
    }
}

namespace {

void polishTree(QQuickItem* item) {
    for (QQuickItem* child : item->childItems())
        polishTree(child);
    item->ensurePolished();
}

} // namespace

void PopoverWindow::create() {
    if (m_view)
        return;
    m_view = std::make_unique<QQuickView>();
    m_view->engine()->addImageProvider(QStringLiteral("icon"), new IconProvider);
    m_view->setTitle(QStringLiteral("MeterKeeper"));
    m_view->setResizeMode(QQuickView::SizeViewToRootObject);
    m_view->setInitialProperties({{QStringLiteral("store"), QVariant::fromValue<QObject*>(m_store)},
                                  {QStringLiteral("profiles"), QVariant::fromValue<QObject*>(m_profiles)},
                                  {QStringLiteral("actions"), QVariant::fromValue<QObject*>(m_actions)},
                                  {QStringLiteral("shown"), false}});
    m_view->setSource(QUrl(QStringLiteral("qrc:/qt/qml/MeterKeeper/qml/Popover.qml")));
    for (const QQmlError& e : m_view->errors())
        qWarning("%s", qPrintable(e.toString()));
    // Layouts work out their size when they are first polished, which is after the window has
    // been mapped: a window manager would place the window by the size it had then (99 px tall,
    // so centred too low and cut off). Polish them now, innermost first, so the window is mapped
    // at its real size. That size is also its least and greatest: a tiling compositor (sway)
    // floats such a toplevel instead of tiling it over the whole screen.
    if (QQuickItem* root = m_view->rootObject()) {
        polishTree(root);
        auto fit = [view = m_view.get(), root] {
            const QSize size = QSizeF(root->width(), root->height()).toSize();
            if (size.isEmpty())
                return;
            view->setMinimumSize(size);
            view->setMaximumSize(size);
            view->resize(size);
        };
        fit();
        connect(root, &QQuickItem::widthChanged, m_view.get(), fit);
        connect(root, &QQuickItem::heightChanged, m_view.get(), fit);
    }
    m_view->installEventFilter(this);
    connect(m_view.get(), &QWindow::activeChanged, this, [this] {
        if (m_mode == Mode::popover && m_view->isVisible() && !m_view->isActive())
            hide();
    });
    connect(m_view.get(), &QWindow::visibleChanged, this, [this](bool visible) {
        if (QQuickItem* root = m_view->rootObject())
            root->setProperty("shown", visible);
        if (visible)
            m_profiles->refreshTime();
        emit shownChanged(visible);
    });
    applyMode();
}

void PopoverWindow::applyMode() {
    if (!m_view)
        return;
    if (m_mode == Mode::popover)
        m_view->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    else
        m_view->setFlags(Qt::Window);
}

void PopoverWindow::setMode(Mode mode) {
    if (mode == m_mode)
        return;
    m_mode = mode;
    const bool visible = isVisible();
    if (visible)
        m_view->hide();
    applyMode();
    if (visible)
        show();
}

void PopoverWindow::show(std::optional<QRect> anchor) {
    create();
    if (m_mode == Mode::popover && anchor && QGuiApplication::platformName() != QStringLiteral("wayland")) {
        QScreen* screen = QGuiApplication::screenAt(anchor->center());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen)
            m_view->setPosition(
                PopoverPlacement::place(*anchor, m_view->size(), screen->availableGeometry()));
    }
    m_view->show();
    m_view->raise();
    m_view->requestActivate();
}

void PopoverWindow::hide() {
    if (m_view && m_view->isVisible()) {
        m_view->hide();
        m_hiddenAt = QDateTime::currentMSecsSinceEpoch();
    }
}

void PopoverWindow::toggle(std::optional<QRect> anchor) {
    // A click on the icon first takes the focus from the panel, which hides it: that same click
    // must not open it again.
    if (isVisible() || QDateTime::currentMSecsSinceEpoch() - m_hiddenAt < 250)
        hide();
    else
        show(anchor);
}

bool PopoverWindow::isVisible() const {
    return m_view && m_view->isVisible();
}

bool PopoverWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view.get() && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && m_mode == Mode::popover) {
        hide();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
