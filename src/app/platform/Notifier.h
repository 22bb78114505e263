#pragma once

#include <QString>

// Desktop notifications through the freedesktop notification service on the session bus.
namespace Notifier {

// Posts a new notification (with the default message sound) and returns at once. Without a
// notification service, or when it refuses, nothing happens.
void notify(const QString& title, const QString& body);

} // namespace Notifier
