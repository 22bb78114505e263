#pragma once

#include "glyphs/GlyphPainter.h"

#include "store/UsageStore.h"

#include <vector>

// Menu metrics as glyphs.
std::vector<GlyphMetric> menuGlyphs(const std::vector<UsageStore::MenuMetric>& metrics);
