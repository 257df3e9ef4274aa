#include "storage/user_folders.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "core/strings.h"

namespace lunadio {
namespace {

bool isDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The XDG_MUSIC_DIR line of user-dirs.dirs: "$HOME/Musique" or an absolute path, in quotes.
std::string musicDirFromUserDirs(const std::string& home) {
  std::string configHome;
  if (const char* value = std::getenv("XDG_CONFIG_HOME"); value && *value == '/') {
    configHome = value;
  } else if (!home.empty()) {
    configHome = home + "/.config";
  } else {
    return {};
  }
  std::ifstream in(configHome + "/user-dirs.dirs");
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    const std::string key = "XDG_MUSIC_DIR=";
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
    std::string value = line.substr(start + key.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) {
      value = home + value.substr(5);
    } else if (value.empty() || value.front() != '/') {
      continue;
    }
    found = value;  // the last definition wins, as in a shell
  }
  while (found.size() > 1 && found.back() == '/') found.pop_back();
  return found;
}

}  // namespace

std::u16string musicFolder() {
  // A folder named in the environment overrides the desktop's file, as xdg-user-dir does.
  if (const char* fromEnvironment = std::getenv("XDG_MUSIC_DIR");
      fromEnvironment && isDirectory(fromEnvironment)) {
    return fromUtf8(fromEnvironment);
  }
  const char* homeValue = std::getenv("HOME");
  const std::string home = homeValue ? homeValue : "";
  const std::string music = musicDirFromUserDirs(home);
  if (isDirectory(music)) return fromUtf8(music);
  std::string folder = home.empty() ? "/" : home;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return fromUtf8(folder);
}

}  // namespace lunadio
