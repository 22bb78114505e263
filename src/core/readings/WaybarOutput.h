#pragma once

#include "base/DateTime.h"

#include <nlohmann/json.hpp>

#include <string>

// `ulmet --waybar`: one line of waybar's custom-module JSON (also read by i3blocks and polybar
// scripts) made from a readings document as `ulmet --json` prints it. "text" is the shown
// profile's session and weekly figures ("62% · 26%"), "alt" its name, "tooltip" every profile,
// "class" the level of the higher figure (normal, warning from 70, critical from 90, as the
// glyphs colour it) and "percentage" that figure, 0-100. Texts are escaped for Pango markup,
// which waybar applies. A document of another shape gives the line for no reading.
namespace WaybarOutput {

std::string line(const nlohmann::json& readings, Instant now);
// While no MeterKeeper runs (`--watch` waits for one).
std::string notRunningLine();
// "normal", "warning" or "critical" for a utilization in percent.
const char* level(double utilization);

} // namespace WaybarOutput
