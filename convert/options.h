// The settings file: loading and saving every key of the conversion options, and setting one key
// by its settings-file spelling.
#pragma once

#include "core/conversion_options.h"

namespace vlm {

// Settings file. The file name follows profilePath (a bare name goes to the config folder).
void loadSettings(const char* file);
void saveSettings(const char* file);
// Sets one key by its settings-file spelling (case-insensitive) from text, with the same
// normalisation as loading. False when the key is unknown.
bool setOptionByKey(const char* key, const char* value);
// The names of every scalar settings key, for help texts; null-terminated.
const char* const* settingsKeyNames();

}  // namespace vlm
