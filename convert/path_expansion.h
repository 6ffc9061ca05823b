// The walks that turn a folder or an .m3u list into the paths they name, shared by the command
// line and the player's playlist. Each walk hands every path to a visitor, which decides what to
// keep; a visitor that answers false (its list is full) stops the walk at once.
#pragma once

#include <functional>
#include <string>

namespace vlm {

// Answers false to stop the walk.
using PathVisitor = std::function<bool(const std::string& path)>;

// Folders below this depth are not entered (guards against link loops and absurd trees).
inline constexpr int PATH_WALK_MAX_DEPTH = 32;

// Every regular file below `folder` (links to files included), depth first; the entries of each
// folder in byte order of their names, a folder's name compared as if it ended in '/', so the
// visits come in the order of the sorted full paths. Links to folders are not entered. Paths are
// `folder` + '/' + the names below it. Returns false when the visitor stopped the walk.
bool walkFolder(const std::string& folder, const PathVisitor& visit);

// The entries of an .m3u list: one per line (lines end in CR, LF or CR LF), blanks around a line
// dropped, empty lines and '#' comment lines skipped. An entry that is not an absolute path is
// taken relative to the list's own folder. Returns false when the visitor stopped the walk; a
// list that cannot be read gives no entries.
bool walkPlaylistFile(const std::string& listPath, const PathVisitor& visit);
// The same over a list already in memory; relative entries are resolved against `baseFolder`
// (empty: left as they stand).
bool walkPlaylistText(const char* text, size_t size, const std::string& baseFolder,
                      const PathVisitor& visit);

}  // namespace vlm
