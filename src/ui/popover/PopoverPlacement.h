#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

// Where the panel opens: beside the tray icon under XEmbed (its geometry is known), at the
// pointer under StatusNotifierItem (hosts do not say where the icon is), nowhere under Wayland
// (the compositor ignores positions). Pure, so it is table-tested.
namespace PopoverPlacement {

// `anchor`: the icon's rectangle, or a 1 × 1 rectangle at the pointer; `available`: the screen's
// available geometry (without panels). The panel goes on the side of the anchor facing away from
// its panel edge, centred on the anchor, and is kept inside `available` with a small gap.
QPoint place(const QRect& anchor, const QSize& window, const QRect& available);

} // namespace PopoverPlacement
