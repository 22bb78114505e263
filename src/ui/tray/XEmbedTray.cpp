#include "tray/XEmbedTray.h"

#include <QCoreApplication>
#include <QGuiApplication>

#ifndef __APPLE__
#include <xcb/xcb.h>
#endif

#include <cstdlib>
#include <memory>

namespace {

#ifndef __APPLE__
xcb_connection_t* x11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

// 0 when the atom does not exist (and `onlyIfExists`) or the server did not answer.
xcb_atom_t atom(xcb_connection_t* connection, const QByteArray& name, bool onlyIfExists) {
    ReplyPtr<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, onlyIfExists, static_cast<uint16_t>(name.size()), name.constData()),
            nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The selection of the default screen: the number after the dot of DISPLAY (":0.1"), else 0.
QByteArray selectionName() {
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype dot = display.lastIndexOf('.');
    const int screen = dot > display.lastIndexOf(':') ? display.mid(dot + 1).toInt() : 0;
    return "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
}

xcb_window_t selectionOwner(xcb_connection_t* connection, xcb_atom_t selection) {
    ReplyPtr<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr),
        &std::free);
    return owner ? owner->owner : xcb_window_t(XCB_WINDOW_NONE);
}

// Adds `mask` to the events this connection takes from `window`, keeping what Qt asked for.
void addEventMask(xcb_connection_t* connection, xcb_window_t window, uint32_t mask) {
    ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr),
        &std::free);
    if (!attributes)
        return; // gone already
    const uint32_t value = attributes->your_event_mask | mask;
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &value);
    xcb_flush(connection);
}
#endif

} // namespace

XEmbedTray::XEmbedTray(QObject* parent)
    : QObject(parent) {
#ifndef __APPLE__
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    m_selection = atom(connection, selectionName(), false);
    m_manager = atom(connection, "MANAGER", false);
    if (!m_selection || !m_manager)
        return;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return;
    // MANAGER messages go to the root window with StructureNotify.
    addEventMask(connection, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    QCoreApplication::instance()->installNativeEventFilter(this);
    follow(selectionOwner(connection, m_selection));
#endif
}

XEmbedTray::~XEmbedTray() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool XEmbedTray::present() {
#ifdef __APPLE__
    return false;
#else
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return false;
    const xcb_atom_t selection = atom(connection, selectionName(), true);
    return selection != XCB_ATOM_NONE && selectionOwner(connection, selection) != XCB_WINDOW_NONE;
#endif
}

void XEmbedTray::follow(std::uint32_t owner) {
#ifndef __APPLE__
    m_owner = owner;
    // The owner's DestroyNotify tells that the tray went away.
    if (owner)
        addEventMask(x11Connection(), owner, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
#else
    (void)owner;
#endif
}

bool XEmbedTray::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
#ifndef __APPLE__
    if (eventType != "xcb_generic_event_t" || !m_selection)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
    case XCB_CLIENT_MESSAGE: {
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        if (client->type == m_manager && client->format == 32 && client->data.data32[1] == m_selection &&
            client->data.data32[2] != m_owner) {
            follow(client->data.data32[2]);
            emit appeared();
        }
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
        if (m_owner && destroyed->window == m_owner) {
            m_owner = 0;
            emit vanished();
        }
        break;
    }
    default:
        break;
    }
#else
    (void)eventType;
    (void)message;
#endif
    return false; // Qt's own tray code reads these events too
}
