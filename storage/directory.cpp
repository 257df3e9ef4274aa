#include "storage/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "core/strings.h"
#include "storage/name_pattern.h"

namespace lunadio {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

struct Entry {
  std::string name;  // bytes as the file system holds them
  bool isDirectory = false;
  bool isLink = false;
  std::optional<std::int64_t> sizeBytes;  // read on demand: most walkers never ask
};

struct Listing {
  DirHandle dir;                       // null for a listing that matched nothing
  std::optional<NamePattern> pattern;  // none: every name
  bool matchesNothing = false;
  bool started = false;  // the first entry has been handed out
  bool ended = false;
  Entry current;
};

// The per-object record; live while it holds a listing.
struct DirectoryListing {
  std::unique_ptr<Listing> listing;
  bool isLive() const { return listing != nullptr; }
};

void statEntry(int dirFd, Entry& entry) {
  struct stat info {};
  if (::fstatat(dirFd, entry.name.c_str(), &info, 0) != 0 &&
      ::fstatat(dirFd, entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    entry.sizeBytes = 0;  // vanished since it was listed
    return;
  }
  entry.isDirectory = S_ISDIR(info.st_mode);
  entry.sizeBytes = entry.isDirectory ? 0 : static_cast<std::int64_t>(info.st_size);
}

// Reads entries until one matches; false at the end of the directory.
bool readMatching(Listing& listing) {
  DIR* dir = listing.dir.get();
  while (true) {
    errno = 0;
    const dirent* raw = ::readdir(dir);
    if (!raw) return false;
    if (listing.pattern && !listing.pattern->matches(fromUtf8(raw->d_name))) continue;
    Entry& entry = listing.current;
    entry.name.assign(raw->d_name);
    entry.isLink = raw->d_type == DT_LNK;
    entry.isDirectory = raw->d_type == DT_DIR;
    entry.sizeBytes.reset();
    if (raw->d_type == DT_DIR) {
      entry.sizeBytes = 0;
    } else if (raw->d_type != DT_REG) {
      // Links take the type of their target; some file systems give no type at all.
      struct stat info {};
      if (raw->d_type == DT_UNKNOWN &&
          ::fstatat(::dirfd(dir), raw->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        entry.isLink = S_ISLNK(info.st_mode);
      }
      statEntry(::dirfd(dir), entry);
    }
    return true;
  }
}

struct DirectoryRegistry {
  std::mutex mutex;
  // -- guarded by mutex: the table, every listing in it
  std::unique_ptr<ObjectTable<DirectoryListing>> table;  // made by the first examineDirectory
};

DirectoryRegistry& registry() {
  static DirectoryRegistry instance;
  return instance;
}

using Lock = std::lock_guard<std::mutex>;

// The table's free callback: runs inside allocate() and freeAll(), so the mutex is already held.
void closeListingLocked(ObjectNumber number) {
  auto& table = *registry().table;
  if (DirectoryListing* record = table.lookup(number)) record->listing.reset();
  table.release(number);
}

ObjectTable<DirectoryListing>& tableLocked(const Lock&) {
  auto& r = registry();
  if (!r.table) r.table = std::make_unique<ObjectTable<DirectoryListing>>(16, &closeListingLocked);
  return *r.table;
}

Listing* lookupLocked(const Lock&, ObjectNumber number) {
  auto& r = registry();
  if (!r.table) return nullptr;
  DirectoryListing* record = r.table->lookup(number);
  return record ? record->listing.get() : nullptr;
}

// Opens the directory and reads up to the first match. Null when the directory cannot be read.
std::unique_ptr<Listing> openListing(std::u16string_view directory, std::u16string_view pattern) {
  // The search path is the directory, one "/", then the pattern; a "/" inside the pattern moves
  // its leading part into the directory.
  std::u16string path(directory);
  if (!path.empty() && path.back() != u'/') path += u'/';
  path += pattern.empty() ? std::u16string_view(u"*.*") : pattern;
  const std::size_t slash = path.rfind(u'/');
  std::string dirBytes = slash == std::u16string::npos ? "." : toUtf8(path.substr(0, slash + 1));
  const std::u16string namePattern = slash == std::u16string::npos ? path : path.substr(slash + 1);

  // A zero unit would cut the path short at the system call and list another directory.
  if (path.find(u'\0') != std::u16string::npos) return nullptr;
  auto listing = std::make_unique<Listing>();
  listing->dir.reset(::opendir(dirBytes.c_str()));
  if (!listing->dir) return nullptr;
  if (namePattern.empty()) {
    listing->dir.reset();
    return listing;  // a pattern of nothing matches nothing
  }
  NamePattern compiled(namePattern);
  if (!compiled.matchesEverything()) listing->pattern.emplace(std::move(compiled));
  if (!readMatching(*listing)) {
    if (errno != 0) return nullptr;  // the read itself failed
    listing->dir.reset();            // an existing directory with no match
  }
  return listing;
}

}  // namespace

std::int32_t examineDirectory(ObjectNumber number, std::u16string_view directory,
                              std::u16string_view pattern) {
  // Opening and the first read happen outside the lock: they are the slow part.
  std::unique_ptr<Listing> listing;
  try {
    listing = openListing(directory, pattern);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  Lock lock(registry().mutex);
  try {
    auto& table = tableLocked(lock);
    const auto allocation = table.allocate(number);
    if (!allocation.record) return 0;
    if (!listing) {
      table.release(allocation.id);
      return 0;
    }
    allocation.record->listing = std::move(listing);
    return number == ObjectAny ? allocation.id : 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::int32_t nextDirectoryEntry(ObjectNumber number) {
  Lock lock(registry().mutex);
  Listing* listing = lookupLocked(lock, number);
  if (!listing || !listing->dir || listing->ended) return 0;
  if (!listing->started) {
    listing->started = true;
    return 1;
  }
  try {
    if (readMatching(*listing)) return 1;
  } catch (const std::bad_alloc&) {
  }
  listing->ended = true;  // the entry data keeps the last entry
  return 0;
}

std::u16string directoryEntryName(ObjectNumber number) {
  Lock lock(registry().mutex);
  Listing* listing = lookupLocked(lock, number);
  if (!listing || !listing->dir) return {};
  try {
    return fromUtf8(listing->current.name);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::int64_t directoryEntrySize(ObjectNumber number) {
  Lock lock(registry().mutex);
  Listing* listing = lookupLocked(lock, number);
  if (!listing || !listing->dir) return 0;
  Entry& entry = listing->current;
  if (!entry.sizeBytes) statEntry(::dirfd(listing->dir.get()), entry);
  return *entry.sizeBytes;
}

std::int32_t directoryEntryType(ObjectNumber number) {
  Lock lock(registry().mutex);
  Listing* listing = lookupLocked(lock, number);
  if (!listing) return 0;
  return listing->dir && listing->current.isDirectory ? EntryDirectory : EntryFile;
}

std::int32_t directoryEntryIsLink(ObjectNumber number) {
  Lock lock(registry().mutex);
  Listing* listing = lookupLocked(lock, number);
  return listing && listing->dir && listing->current.isLink ? 1 : 0;
}

void finishDirectory(ObjectNumber number) {
  Lock lock(registry().mutex);
  auto& r = registry();
  if (!r.table) return;
  if (number == ObjectAll) {
    r.table->freeAll();
  } else if (r.table->isObject(number)) {
    closeListingLocked(number);
  }
}

void endDirectories() { finishDirectory(ObjectAll); }

std::u16string currentDirectory() {
  try {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
      buffer.resize(buffer.size() * 2);
    }
    std::string path(buffer.data());
    if (path.empty()) return {};
    if (path.back() != '/') path += '/';
    return fromUtf8(path);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

}  // namespace lunadio
