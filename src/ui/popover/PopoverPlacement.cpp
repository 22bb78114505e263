#include "popover/PopoverPlacement.h"

#include <algorithm>

namespace PopoverPlacement {
namespace {
constexpr int kGap = 4;
}

QPoint place(const QRect& anchor, const QSize& window, const QRect& available) {
    const QPoint c = anchor.center();
    int x = c.x() - window.width() / 2;
    int y = 0;
    const auto below = [&] { return std::max(anchor.bottom() + 1, available.top()) + kGap; };
    const auto above = [&] {
        return std::min(anchor.top(), available.bottom() + 1) - kGap - window.height();
    };
    if (anchor.bottom() < available.top()) { // a panel along the top
        y = below();
    } else if (anchor.top() > available.bottom()) { // along the bottom
        y = above();
    } else if (anchor.right() < available.left()) { // on the left: open to its right
        x = available.left() + kGap;
        y = c.y() - window.height() / 2;
    } else if (anchor.left() > available.right()) { // on the right: open to its left
        x = available.right() + 1 - kGap - window.width();
        y = c.y() - window.height() / 2;
    } else { // the pointer, or an icon inside the work area: away from the nearer screen edge
        y = c.y() < available.center().y() ? below() : above();
    }
    const int maxX = std::max(available.left() + kGap, available.right() + 1 - kGap - window.width());
    const int maxY = std::max(available.top() + kGap, available.bottom() + 1 - kGap - window.height());
    return {std::clamp(x, available.left() + kGap, maxX), std::clamp(y, available.top() + kGap, maxY)};
}

} // namespace PopoverPlacement
