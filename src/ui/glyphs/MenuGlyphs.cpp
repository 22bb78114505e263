#include "glyphs/MenuGlyphs.h"

#include "store/UsageStore.h"

std::vector<GlyphMetric> menuGlyphs(const std::vector<UsageStore::MenuMetric>& metrics) {
    std::vector<GlyphMetric> glyphs;
    for (const UsageStore::MenuMetric& m : metrics) {
        GlyphMetric g;
        g.style = m.style;
        g.util = m.util;
        g.elapsed = m.elapsed;
        g.tint = QColor(m.tint.r, m.tint.g, m.tint.b);
        if (m.remaining)
            g.remaining = QString::fromStdString(*m.remaining);
        glyphs.push_back(g);
    }
    return glyphs;
}
