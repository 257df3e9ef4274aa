#include "storage/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <utility>

#include "core/unique_fd.h"
#include "storage/preferences_testing.h"

namespace lunadio {
namespace {

std::atomic<std::int64_t> g_failAfterBytes{-1};

// Writes everything or fails; the test fault cuts the write short like a full disk.
bool writeAll(int fd, std::string_view bytes) {
  const std::int64_t limit = g_failAfterBytes.load();
  std::size_t allowed = bytes.size();
  if (limit >= 0 && static_cast<std::uint64_t>(limit) < allowed)
    allowed = static_cast<std::size_t>(limit);
  std::size_t done = 0;
  while (done < allowed) {
    const ssize_t n = ::write(fd, bytes.data() + done, allowed - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (allowed < bytes.size()) {
    errno = ENOSPC;
    return false;
  }
  return true;
}

std::string resolveLinks(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

std::string directoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The rename is only durable once the directory entry itself reaches the disk.
void syncDirectory(const std::string& directory) {
  UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
}

bool rewriteInPlace(int fd, std::string_view bytes) {
  if (::lseek(fd, 0, SEEK_SET) != 0) return false;
  if (!writeAll(fd, bytes)) return false;
  if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) return false;
  return ::fsync(fd) == 0;
}

}  // namespace

void failPreferenceSavesAfterBytes(std::int64_t bytes) { g_failAfterBytes.store(bytes); }

ReplaceResult replaceFileContents(const std::string& path, std::string_view bytes, int inPlaceFd) {
  const std::string target = resolveLinks(path);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode))
    return ReplaceResult::Failed;  // never replace a directory or device

  const std::string directory = directoryOf(target);
  const std::string base =
      target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
  static std::atomic<unsigned> counter{0};
  auto temporaryName = [&] {
    return directory + "/." + base + ".save-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
  };
  // The new text goes into a file without a name first, so a process killed while writing it
  // leaves nothing behind; it gets a name (through /proc) only for the rename. Without /proc, or
  // on a file system without unnamed files, it is named from the start.
  UniqueFd out;
  int createError = 0;
  if (::access("/proc/self/fd", X_OK) == 0) {
    out.reset(::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    createError = out ? 0 : errno;
  }
  const bool unnamed = static_cast<bool>(out);
  std::string temporary;
  for (int attempt = 0; attempt < 16 && !out && createError != EACCES && createError != EPERM;
       ++attempt) {
    temporary = temporaryName();
    out.reset(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    createError = out ? 0 : errno;
    if (!out && createError != EEXIST) break;
  }
  if (!out) {
    if ((createError == EACCES || createError == EPERM) && inPlaceFd >= 0) {
      return rewriteInPlace(inPlaceFd, bytes) ? ReplaceResult::Replaced : ReplaceResult::Failed;
    }
    return ReplaceResult::Failed;
  }
  if (exists) {
    ::fchmod(out.get(), old.st_mode & 07777);
    if (::fchown(out.get(), old.st_uid, old.st_gid) != 0) {
      // Only root may give the file away; an ordinary user's file is theirs already.
    }
  }
  bool written = writeAll(out.get(), bytes) && ::fsync(out.get()) == 0;
  if (written && unnamed) {
    const std::string self = "/proc/self/fd/" + std::to_string(out.get());
    for (int attempt = 0; attempt < 16; ++attempt) {
      temporary = temporaryName();
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0)
        break;
      temporary.clear();
      if (errno != EEXIST) break;
    }
    written = !temporary.empty();
  }
  // Some file systems report a failed write only at close.
  written = ::close(out.release()) == 0 && written;
  if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
    if (!temporary.empty()) ::unlink(temporary.c_str());
    return ReplaceResult::Failed;
  }
  syncDirectory(directory);
  return ReplaceResult::Replaced;
}

}  // namespace lunadio
