// Command-line forms of the main window's conversion values (key, tempo, volume, channel
// selection, range): each option sets one field of the conversion options.
#pragma once

#include <string>

namespace vlm {

// returns args consumed (0 = not a window option, -1 = bad value with message in err)
int parseWindowOption(int argc, char** argv, int i, std::string& err);

// Help text listing the window options, one per line.
const char* windowOptionsHelp();

}  // namespace vlm
