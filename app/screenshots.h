// Pictures of the window for the documentation: the main window with a song loaded, with the
// playlist, the channel monitor and the karaoke display, each menu opened, and the dialogs.
#pragma once

#include <string>

namespace vlm {

class MainWindow;

// Writes PNG files into `dir` (created when missing); returns how many were written.
int writeScreenshots(MainWindow* window, const std::string& dir);

}  // namespace vlm
