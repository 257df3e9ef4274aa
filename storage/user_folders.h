#pragma once
// The user's own folders as the desktop names them. Any thread (reads the environment and one
// small file).

#include <string>

namespace lunadio {

// The folder $XDG_MUSIC_DIR names when it exists; else XDG_MUSIC_DIR from
// $XDG_CONFIG_HOME/user-dirs.dirs (else ~/.config/user-dirs.dirs) when that folder exists; else
// $HOME, else "/" (UTF-16, no trailing "/").
std::u16string musicFolder();

}  // namespace lunadio
