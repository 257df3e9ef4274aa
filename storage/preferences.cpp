#include "storage/preferences.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <new>
#include <optional>

#include "core/strings.h"
#include "core/unique_fd.h"
#include "storage/file_replace.h"

namespace lunadio {
namespace {

// A settings file this big is not one; it is left alone (read-only, no entries).
constexpr std::size_t kMaxFileBytes = 16u << 20;

struct PreferenceState {
  std::mutex mutex;
  // -- guarded by mutex
  UniqueFd file;              // the open file, or none
  std::string path;           // UTF-8 path of the open file, or of the file to create
  bool createOnSave = false;  // opening failed in every mode: closing creates the file
  bool modified = false;
  bool readOnly = false;  // opened for reading only: changes are discarded at close
  std::uint32_t flags = 0;
  PreferenceDocument document;

  bool active() const { return file || createOnSave; }
};

PreferenceState& state() {
  static PreferenceState instance;
  return instance;
}

using Lock = std::lock_guard<std::mutex>;

// Opens a regular file only: a directory, FIFO or device is no settings file (and a FIFO would
// block the read).
UniqueFd openRegular(const std::string& path, int mode) {
  UniqueFd fd(::open(path.c_str(), mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return fd;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return UniqueFd();
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  return fd;
}

std::optional<std::string> readWhole(int fd) {
  std::string bytes;
  char chunk[16384];
  while (true) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) return bytes;
    if (bytes.size() + static_cast<std::size_t>(n) > kMaxFileBytes) return std::nullopt;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

// The caller's number for the open file: never 0, which means failure.
std::int32_t handleOf(const UniqueFd& fd) { return fd.get() + 1; }

void saveLocked(const Lock&, PreferenceState& s) {
  if (!s.modified) return;
  if (s.file && s.readOnly) return;  // read-only: the changes are discarded
  if (!s.active()) return;
  std::string text;
  try {
    text = s.document.serialize(s.flags);
  } catch (const std::bad_alloc&) {
    return;  // the old file stays as it was
  }
  if (replaceFileContents(s.path, text, s.file ? s.file.get() : -1) == ReplaceResult::Replaced) {
    s.modified = false;
    s.readOnly = false;
  }
}

void closeLocked(const Lock& lock, PreferenceState& s) {
  saveLocked(lock, s);
  s.file.reset();
  s.path.clear();
  s.createOnSave = false;
  s.modified = false;
  s.readOnly = false;
  s.flags = 0;
  s.document = PreferenceDocument();
}

std::string keyBytes(std::u16string_view key) { return toUtf8(key); }

// A zero unit would cut the path short at the system call and name another file.
bool usablePath(std::u16string_view path) { return path.find(u'\0') == std::u16string_view::npos; }

template <class Fn>
void withActiveState(Fn&& fn) {
  PreferenceState& s = state();
  Lock lock(s.mutex);
  if (!s.active()) return;
  try {
    fn(s);
  } catch (const std::bad_alloc&) {
    // the write is dropped; the document is as it was or holds the complete entry
  }
}

}  // namespace

std::int32_t openPreferences(std::u16string_view path, std::uint32_t flags) {
  PreferenceState& s = state();
  Lock lock(s.mutex);
  closeLocked(lock, s);
  if (!usablePath(path)) return 0;
  try {
    s.path = toUtf8(path);
    s.flags = flags;
    s.file = openRegular(s.path, O_RDWR);
    if (!s.file) {
      s.file = openRegular(s.path, O_RDONLY);
      s.readOnly = true;
    }
    if (!s.file) {
      s.createOnSave = true;
      return 0;
    }
    const std::optional<std::string> bytes = readWhole(s.file.get());
    if (!bytes) {
      // Unreadable or absurdly big: keep it untouched rather than overwrite what we cannot read.
      s.readOnly = true;
      return handleOf(s.file);
    }
    s.document = PreferenceDocument::fromFileBytes(*bytes);
    return handleOf(s.file);
  } catch (const std::bad_alloc&) {
    s.document = PreferenceDocument();
    s.readOnly = true;
    return s.file ? handleOf(s.file) : 0;
  }
}

std::int32_t createPreferences(std::u16string_view path, std::uint32_t flags) {
  PreferenceState& s = state();
  Lock lock(s.mutex);
  closeLocked(lock, s);
  if (!usablePath(path)) return 0;
  try {
    std::string utf8 = toUtf8(path);
    UniqueFd fd(
        ::open(utf8.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
    s.file = std::move(fd);
    s.path = std::move(utf8);
    s.flags = flags;
    return handleOf(s.file);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

void closePreferences() {
  PreferenceState& s = state();
  Lock lock(s.mutex);
  closeLocked(lock, s);
}

std::int32_t readPreferenceInteger(std::u16string_view key, std::int32_t defaultValue) {
  std::int32_t result = defaultValue;
  withActiveState([&](PreferenceState& s) {
    if (const std::string* value = s.document.find(keyBytes(key)))
      result = parsePreferenceInteger(*value);
  });
  return result;
}

std::u16string readPreferenceString(std::u16string_view key, std::u16string_view defaultValue) {
  std::u16string result(defaultValue);
  withActiveState([&](PreferenceState& s) {
    if (const std::string* value = s.document.find(keyBytes(key))) result = fromUtf8(*value);
  });
  return result;
}

void writePreferenceInteger(std::u16string_view key, std::int32_t value) {
  withActiveState([&](PreferenceState& s) {
    s.document.write(keyBytes(key), std::to_string(value));
    s.modified = true;
  });
}

void writePreferenceString(std::u16string_view key, std::u16string_view value) {
  withActiveState([&](PreferenceState& s) {
    s.document.write(keyBytes(key), toUtf8(value));
    s.modified = true;
  });
}

void preferenceComment(std::u16string_view text) {
  withActiveState([&](PreferenceState& s) {
    s.document.comment(toUtf8(text));
    s.modified = true;
  });
}

}  // namespace lunadio
