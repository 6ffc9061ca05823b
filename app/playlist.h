// The playlist of the player: up to `files` paths, the count and the current index, filled from
// a command-line text, .m3u lists, folders and dropped files. One instance, owned by the main
// window; nothing here knows about windows, so start-up, drag and drop and the handover share it
// and the tests drive it directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/files.h"

namespace vlm {

inline constexpr int PLAYLIST_DEFAULT_FILES = 256;
inline constexpr int PLAYLIST_MAX_FILES = 1024;

struct Playlist {
  std::vector<std::string> entries;  // `count` paths, each as long as it is
  int capacity = 0;                  // `files`, corrected to 1..1024
  int count = 0;
  int index = 0;  // current entry
};
extern Playlist playlist;

// Capacity from the `files` setting: below 1 or above 1024 becomes 1024. Empties the playlist.
int playlistCapacityOf(int files);
void initPlaylist(int files);
void clearPlaylist();
bool playlistFull();
// Entry i (empty text when out of range).
const char* playlistEntry(int i);
// Classifies one path and appends what it names: an .m3u list is loaded, a folder expanded, a
// supported existing file kept; anything else is dropped. Stops when the playlist is full.
void addPlaylistPath(const char* path);
// Appends the names in a command-line text: double quotes group a name; an unquoted name runs
// over spaces unless the text after a space starts a new absolute path ('/' or '~/').
void addPathsToPlaylist(const char* text);
void addDirectory(const char* path);
void loadPlaylistFile(const char* path);
// Writes every entry followed by CR LF, atomically. 0 when it could not be written.
int savePlaylistFile(const char* path);
// Random permutation of the entries (the current one keeps its place as the current index).
void shufflePlaylist(uint32_t seed);

// The names of a command-line text, split as addPathsToPlaylist splits them (for tests and for
// the handover of a second start).
std::vector<std::string> splitCommandLine(const char* text);
// Joins program arguments into one command-line text that splitCommandLine gives back (names
// with spaces in double quotes).
std::string joinCommandLine(const std::vector<std::string>& args);

}  // namespace vlm
