// Walks a generated tree of 100,000 files in 5,000 directories the way the library scan does
// (examineDirectory / nextDirectoryEntry on listings 1 and 2, pending directories in an ordered
// list), once reading names and types and once also every file's size, and times each against the
// `find` run that does the same work over the same tree.
//
// Usage: storage_directory_walk_bench [runs]   (best of `runs`, default 5)

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/strings.h"
#include "storage/directory.h"
#include "storage/ordered_list.h"

extern char** environ;

namespace {

using namespace lunadio;
using Clock = std::chrono::steady_clock;

constexpr int kTopDirectories = 50;
constexpr int kSubdirectoriesEach = 99;  // 50 + 50 * 99 = 5,000 directories
constexpr int kFilesEach = 20;           // 5,000 * 20 = 100,000 files

// find reads names and types from the directory alone; a size costs one stat per file, so each
// walk is compared with the find run that does the same work.
enum class Sizes { Skip, Read };

struct WalkResult {
  long files = 0;
  long directories = 0;
  std::int64_t bytes = 0;
};

void makeFiles(const std::string& dir, int salt) {
  static const char* kEndings[] = {".wav", ".ogg", ".mp3", ".flac", ".txt"};
  for (int f = 0; f < kFilesEach; ++f) {
    const std::string path = dir + "/piste " + std::to_string(f) + kEndings[f % 5];
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) std::exit(1);
    if (::ftruncate(fd, 1000 * (f + 1) + salt) != 0) std::exit(1);  // sparse: no data blocks
    ::close(fd);
  }
}

std::string makeTree() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lunadio-walk-XXXXXX").string();
  std::string root = ::mkdtemp(pattern.data());
  for (int t = 0; t < kTopDirectories; ++t) {
    const std::string top = root + "/Album " + std::to_string(t);
    ::mkdir(top.c_str(), 0755);
    makeFiles(top, t);
    for (int s = 0; s < kSubdirectoriesEach; ++s) {
      const std::string sub = top + "/CD " + std::to_string(s);
      ::mkdir(sub.c_str(), 0755);
      makeFiles(sub, s);
    }
  }
  return root;
}

void readListing(ObjectNumber number, const std::u16string& directory,
                 OrderedList<std::u16string>& pending, Sizes sizes, WalkResult& result) {
  while (nextDirectoryEntry(number)) {
    const std::u16string name = directoryEntryName(number);
    if (directoryEntryType(number) == EntryFile) {
      ++result.files;
      if (sizes == Sizes::Read) result.bytes += directoryEntrySize(number);
    } else if (name.back() != u'.') {
      ++result.directories;
      *pending.addElement() = directory + u"/" + name;
      pending.previousElement();  // stay on the directory being read: depth first
    }
  }
}

WalkResult walk(const std::string& root, Sizes sizes) {
  WalkResult result;
  OrderedList<std::u16string> pending;
  const std::u16string top = fromUtf8(root);
  if (!examineDirectory(1, top, u"*.*")) std::exit(1);
  *pending.addElement() = top;  // the cursor sits on it, so children go after it
  readListing(1, top, pending, sizes, result);
  finishDirectory(1);
  pending.resetList();
  pending.nextElement();  // the top directory itself
  while (const std::u16string* d = pending.nextElement()) {
    const std::u16string directory = *d;
    if (examineDirectory(2, directory, u"*.*")) readListing(2, directory, pending, sizes, result);
    finishDirectory(2);
  }
  return result;
}

double runFind(const std::string& root, Sizes sizes) {
  const auto start = Clock::now();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  char find[] = "find";
  std::string rootArg = root;
  char printfOption[] = "-printf";
  char format[] = "%s\n";
  char* argv[] = {find, rootArg.data(), printfOption, format, nullptr};
  if (sizes == Sizes::Skip) argv[2] = nullptr;
  pid_t pid = 0;
  if (posix_spawnp(&pid, "find", &actions, nullptr, argv, environ) != 0) std::exit(1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double timeWalk(const std::string& root, Sizes sizes, WalkResult& result) {
  const auto start = Clock::now();
  result = walk(root, sizes);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::printf("generating %d files in %d directories...\n",
              kTopDirectories * (kSubdirectoriesEach + 1) * kFilesEach,
              kTopDirectories * (kSubdirectoriesEach + 1));
  const std::string root = makeTree();

  WalkResult result;
  runFind(root, Sizes::Skip);  // every run starts from a warm directory cache
  timeWalk(root, Sizes::Skip, result);
  double find = 1e300, findSizes = 1e300, walkNames = 1e300, walkSizes = 1e300;
  bool complete = true;
  for (int run = 0; run < runs; ++run) {
    find = std::min(find, runFind(root, Sizes::Skip));
    walkNames = std::min(walkNames, timeWalk(root, Sizes::Skip, result));
    complete &= result.files == 100000 && result.directories == 5000;
    findSizes = std::min(findSizes, runFind(root, Sizes::Read));
    walkSizes = std::min(walkSizes, timeWalk(root, Sizes::Read, result));
    complete &= result.files == 100000 && result.directories == 5000 && result.bytes > 0;
  }
  std::filesystem::remove_all(root);

  std::printf("walked: %ld files, %ld directories, %lld bytes\n", result.files, result.directories,
              static_cast<long long>(result.bytes));
  std::printf("best of %d runs each\n", runs);
  std::printf("names and types:  find %8.1f ms   walk %8.1f ms   ratio %5.2fx (target <= 1.5x)\n",
              find, walkNames, walkNames / find);
  std::printf("with file sizes:  find -printf %%s %8.1f ms   walk %8.1f ms   ratio %5.2fx\n",
              findSizes, walkSizes, walkSizes / findSizes);
  if (!complete) std::printf("the walk missed entries\n");
  return complete ? 0 : 1;
}
