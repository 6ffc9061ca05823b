// Where the programs' read-only files are (data/ with the voice-name tables, help/, bmp/): beside
// the program in a build tree, in share/vlmplay beside bin/ in an install. Both are found from the
// program's own folder, so an installed tree works wherever it is moved to.
#pragma once

#include <string>
#include <vector>

namespace vlm {

// Folder of the running program (from /proc/self/exe), ending in '/'; empty when unknown.
std::string programDirectory();
// The folders searched for a read-only file of a program living in `programDir` (ending in '/'),
// in order, each ending in '/': the program's own folder (a build tree's bin/), bin/ beside it
// (the tests, tools and benchmarks of a build tree live in sibling folders), and share/vlmplay
// beside it (an install: PREFIX/bin and PREFIX/share/vlmplay).
std::vector<std::string> readOnlyFolders(const std::string& programDir);
// NAME (a file or folder, such as "data" or "help/vlmplay.html") in the first folder of
// readOnlyFolders(programDir) that has it; empty when none has.
std::string findReadOnlyIn(const std::string& programDir, const std::string& name);
// findReadOnlyIn for the running program.
std::string findReadOnly(const std::string& name);
// The read-only data folder, ending in '/'; empty when none exists.
std::string findDataDir();

}  // namespace vlm
