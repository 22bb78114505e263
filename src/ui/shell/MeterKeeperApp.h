#pragma once

// The tray application: QApplication, the one UsageStore with the real services, the tray icon
// with the usage glyphs, and the panel. Returns the exit status when the event loop ends.
namespace MeterKeeperApp {

int run(int argc, char** argv);

} // namespace MeterKeeperApp
