// Where the player finds the read-only files (help/, data/; see util/paths.h), the setup tool and
// pvconv, and where it may write (extracted voices go to the temporary folder).
#pragma once

#include <string>

namespace vlm {

// The folder of the running program, with a trailing '/'.
std::string programDir();
// A read-only file NAME (for example "help/vlmplay.html") beside the program in a build tree or
// in the install's share/vlmplay; empty when neither has it.
std::string findBesideProgram(const std::string& name);
// An executable: beside the program first, then on PATH; empty when there is none.
std::string findProgram(const std::string& name);

}  // namespace vlm
