// Where the program's read-only files are: the folder of the running program and its data/.
#pragma once

#include <string>

namespace vlm {

// Folder of the running program (from /proc/self/exe), ending in '/'; empty when unknown.
std::string programDirectory();
// The read-only data folder, ending in '/': "data" beside the program, else the install's
// share/vlmplay/data, else the source tree's data/ (a program run from its build folder).
// Empty when none exists.
std::string findDataDir();

}  // namespace vlm
