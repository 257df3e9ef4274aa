#pragma once
// Single-instance guard: an exclusive flock on a file named after the executable in
// $XDG_RUNTIME_DIR (else /tmp). The kernel drops the lock when the process dies, so a crashed
// instance never blocks the next start.

#include <string>

namespace lunadio {

class InstanceGuard {
 public:
  // `programName`: the executable's file name (argv[0] or /proc/self/exe), path part ignored.
  explicit InstanceGuard(const std::string& programName);
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  // True when another live process already holds the guard.
  bool anotherInstanceRuns() const { return anotherInstance_; }
  const std::string& lockPath() const { return lockPath_; }

 private:
  int fd_ = -1;
  bool anotherInstance_ = false;
  std::string lockPath_;
};

// The file name of the running executable.
std::string currentProgramName();

}  // namespace lunadio
