#pragma once

#include <QQuickImageProvider>

class UsageStore;

// "image://glyph/label/<n>": the wide label of the store's metrics now, light marks for a dark
// background (n only makes a new address when something changed); "image://glyph/tile/<style>":
// one glyph of that style at 60 % with half the window gone, in green, dark marks for a light
// background. Both at twice the pixel density.
class GlyphImageProvider : public QQuickImageProvider {
public:
    explicit GlyphImageProvider(const UsageStore* store);
    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;

private:
    const UsageStore* m_store;
};
