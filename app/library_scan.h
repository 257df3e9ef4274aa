#pragma once
// The library's directory scan: the row texts and colours, the format filter test, the found
// paths shared by both threads, and the scan job that walks the subdirectories on a worker
// thread of its own.
//
// Ownership:
//   TrackPathList -- guarded by its own mutex: the scan thread appends, the main thread reads a
//     row's path and clears the list.
//   ScanJob -- its pending directories belong to the main thread until start() and from the end
//     of the thread on (waitUntilEnded), to the scan thread in between. The stop request and the
//     item counter are atomics. The job hands its rows to the list gadget as batched gadget calls
//     (applied on the main thread in order, dropped once the gadget is gone) and posts
//     EventScanStarted / EventScanFinished with its generation as the event's data.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/object_table.h"
#include "storage/ordered_list.h"
#include "ui/gadgets.h"

namespace lunadio {

// Gadgets of the library window that the scan fills.
inline constexpr ObjectNumber LibraryPathField = 1;
inline constexpr ObjectNumber LibraryTrackList = 3;
inline constexpr ObjectNumber LibraryProgressBar = 25;

enum class RowLevel { TopDirectory, Subdirectory };

// "padLeft(size in MB, 4) Mo": 3,456,789 bytes give "3.45 Mo", 1,000,000 give "   1 Mo".
std::u16string sizeText(std::int64_t bytes);

struct RowColours {
  std::int32_t front;
  std::int32_t back;
};
// By the name's last four characters, ignoring case as the engine's choice does ("Song.WAV" is a
// Wave file).
RowColours rowColours(std::u16string_view name, RowLevel level);
// "Type : Son Wave" and so on; "Type inconnu" for any other ending.
std::u16string typeText(std::u16string_view name);

// Whether a file is listed: its last four characters occur in the filter, ignoring case.
class FormatMatcher {
 public:
  explicit FormatMatcher(std::u16string_view formatFilter);
  bool matches(std::u16string_view name) const;

 private:
  std::u16string loweredFilter_;
};

// A directory entry that is walked: not ".", "..", nor any name that ends with a dot.
bool isWalkedDirectoryName(std::u16string_view name);

// Joins a directory and an entry name with "/" (a directory that already ends with "/" and the
// empty directory, which is the current one, take the name as it is).
std::u16string joinPath(std::u16string_view directory, std::u16string_view name);

// The full paths of the list's rows: element r is row r.
class TrackPathList {
 public:
  void append(std::vector<std::u16string>& paths);
  // The path of row `index`, or nothing outside the list.
  std::optional<std::u16string> pathAt(std::int32_t index);
  void clear();
  std::int32_t size();

 private:
  std::mutex mutex_;
  OrderedList<std::u16string> paths_;  // -- guarded by mutex_
};

// Rows on their way to the list and to the paths, handed over together and in order.
class RowBatch {
 public:
  void add(std::u16string_view name, std::u16string_view size, std::u16string fullPath,
           RowLevel level, std::int32_t itemCounter);
  std::size_t size() const { return items_.size(); }
  // Paths first, so a row the list shows always has its path.
  void handOver(TrackPathList& tracks);

 private:
  std::vector<GadgetItem> items_;
  std::vector<std::u16string> paths_;
};

// The identity of a directory on its file system: a link cycle leads back to one already seen.
struct DirectoryIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const DirectoryIdentity&) const = default;
};
// Follows links; nothing when the directory cannot be read.
std::optional<DirectoryIdentity> identifyDirectory(std::u16string_view path);

class ScanJob {
 public:
  ScanJob(std::u16string_view formatFilter, std::intptr_t generation, TrackPathList& tracks,
          std::int32_t nextItemCounter);

  // -- main thread, before start()
  void addPendingDirectory(std::u16string path);
  void markVisited(std::u16string_view directory);

  // Starts the walk on a new thread; its number, or 0 when no thread could be made.
  int start(std::shared_ptr<ScanJob> self);
  // -- any thread: the walk ends at its next entry and sends nothing more.
  void requestStop() { stopRequested_.store(true, std::memory_order_relaxed); }
  // -- main thread: true once the thread has ended (bounded wait).
  bool waitUntilEnded(int timeoutMs);
  // After waitUntilEnded: the item counter past the last row, and the pending directories.
  std::int32_t nextItemCounter() const { return itemCounter_.load(std::memory_order_acquire); }
  void clearPending() { pending_.clearList(); }

  std::intptr_t generation() const { return generation_; }
  int thread() const { return thread_; }

 private:
  struct IdentityHash {
    std::size_t operator()(const DirectoryIdentity& id) const {
      return std::hash<std::uint64_t>()(id.device * 1000003u ^ id.inode);
    }
  };

  void run();
  bool stopped() const { return stopRequested_.load(std::memory_order_relaxed); }
  bool firstVisit(std::u16string_view directory);
  void walkDirectory(const std::u16string& directory, int progressPercent);
  void handOver(int progressPercent, std::u16string_view examinedPath);

  const FormatMatcher matcher_;
  const std::intptr_t generation_;
  TrackPathList& tracks_;
  int thread_ = 0;
  std::atomic<bool> stopRequested_{false};
  std::atomic<std::int32_t> itemCounter_;

  // -- main thread before start(), then the scan thread until it ends
  OrderedList<std::u16string> pending_;
  std::unordered_set<DirectoryIdentity, IdentityHash> visited_;
  // -- scan thread only
  RowBatch batch_;
  std::int64_t lastHandOverNs_ = 0;
};

}  // namespace lunadio
