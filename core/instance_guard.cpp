#include "core/instance_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace lunadio {

namespace {
std::string baseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

InstanceGuard::InstanceGuard(const std::string& programName) {
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  std::string dir = (runtimeDir && *runtimeDir) ? runtimeDir : "/tmp";
  std::string name = baseName(programName);
  if (name.empty()) name = "lunadio";
  lockPath_ = dir + "/" + name + ".lock";

  fd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0 && dir != "/tmp") {
    lockPath_ = "/tmp/" + name + ".lock";
    fd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  }
  // Without a lock file we cannot tell; running is better than refusing to start.
  if (fd_ < 0) return;
  int result;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0 && errno == EWOULDBLOCK) anotherInstance_ = true;
}

InstanceGuard::~InstanceGuard() {
  if (fd_ >= 0) ::close(fd_);
}

std::string currentProgramName() {
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return "lunadio";
  buffer[length] = '\0';
  return baseName(buffer);
}

}  // namespace lunadio
