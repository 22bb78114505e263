#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>

// The X11 system tray (XEmbed) of the default screen: whether one is there, and a watch that says
// when one appears or goes away. A tray manager that takes the selection `_NET_SYSTEM_TRAY_S<n>`
// announces itself with a MANAGER message on the root window; one that goes away destroys the
// window that owned the selection. Nothing is polled. Off X11 no tray is ever there.
class XEmbedTray : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit XEmbedTray(QObject* parent = nullptr);
    ~XEmbedTray() override;

    static bool present();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void appeared();
    void vanished();

private:
    void follow(std::uint32_t owner);

    std::uint32_t m_selection = 0; // the selection's atom
    std::uint32_t m_manager = 0;   // the MANAGER atom
    std::uint32_t m_owner = 0;     // the window that owns the selection, 0 while none does
};
