#pragma once
// The library's directory scan: the row texts and colours, the format filter test, the found
// paths shared by both threads, and the scan job that walks the subdirectories on a worker
// thread of its own.
//
// Ownership:
//   ScanJob -- its pending directories belong to the main thread until start() and from the end
//     of the thread on (waitUntilEnded), to the scan thread in between. The stop request and the
//     item counter are atomics. The thread calls nothing of the user interface: it puts each
//     batch of rows in the job's outbox and posts EventScanRows, and posts EventScanStarted /
//     EventScanFinished, each with its generation as the event's data. The window's loop takes
//     the batches and applies them, in order; a window that has closed drops them with the job.

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
#include "storage/directory.h"
#include "storage/ordered_list.h"
#include "ui/gadgets.h"

namespace lunadio {

// Gadgets of the library window that the scan fills.
inline constexpr ObjectNumber LibraryPathField = 1;
inline constexpr ObjectNumber LibraryTrackList = 3;
inline constexpr ObjectNumber LibraryProgressBar = 25;

enum class RowLevel { TopDirectory, Subdirectory };

// Posted by the scan thread, with its generation as the data.
inline constexpr int EventScanStarted = 65536;
inline constexpr int EventScanFinished = 65537;
inline constexpr int EventScanRows = 65539;

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

// What the scan hands to the window in one go: rows with their paths (paths[r] belongs to
// rows[r]), the path field's text and the bar's place. Plain data: the thread builds it, the
// window's loop applies it.
struct ScanBatch {
  std::vector<GadgetItem> rows;
  std::vector<std::u16string> paths;
  std::u16string examinedPath;  // empty: the field keeps its text
  int progressPercent = 0;
};

// Rows on their way to a batch.
class RowBatch {
 public:
  void add(std::u16string_view name, std::u16string_view size, std::u16string fullPath,
           RowLevel level, std::int32_t itemCounter);
  std::size_t size() const { return batch_.rows.size(); }
  // The rows so far, emptying this one.
  ScanBatch take();

 private:
  ScanBatch batch_;
};

// Reads every entry of a listing made by examineDirectory: a file the matcher takes becomes a row
// numbered from `itemCounter` on, a directory that is walked goes to `onDirectory(path)`, and
// after each entry `afterEntry(path)` may hand the rows over. The top directory (main thread) and
// the subdirectories (scan thread) share it.
template <class OnDirectory, class AfterEntry>
void walkEntries(std::int32_t listing, const std::u16string& directory, RowLevel level,
                 const FormatMatcher& matcher, std::int32_t& itemCounter, RowBatch& rows,
                 OnDirectory&& onDirectory, AfterEntry&& afterEntry);

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
  ScanJob(std::u16string_view formatFilter, std::intptr_t generation, std::int32_t nextItemCounter);

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

  // -- main thread: the batches posted so far, oldest first.
  std::vector<ScanBatch> takeBatches();

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
  int thread_ = 0;
  std::atomic<bool> stopRequested_{false};
  std::atomic<std::int32_t> itemCounter_;

  // -- main thread before start(), then the scan thread until it ends
  OrderedList<std::u16string> pending_;
  std::unordered_set<DirectoryIdentity, IdentityHash> visited_;
  // -- scan thread only
  RowBatch batch_;
  std::int64_t lastHandOverNs_ = 0;

  // -- guarded by outboxMutex_: filled by the scan thread, emptied by the main thread
  std::mutex outboxMutex_;
  std::vector<ScanBatch> outbox_;
};

template <class OnDirectory, class AfterEntry>
void walkEntries(std::int32_t listing, const std::u16string& directory, RowLevel level,
                 const FormatMatcher& matcher, std::int32_t& itemCounter, RowBatch& rows,
                 OnDirectory&& onDirectory, AfterEntry&& afterEntry) {
  while (nextDirectoryEntry(listing)) {
    const std::u16string name = directoryEntryName(listing);
    const std::u16string path = joinPath(directory, name);
    const std::int32_t type = directoryEntryType(listing);
    if (type == EntryFile && matcher.matches(name)) {
      rows.add(name, sizeText(directoryEntrySize(listing)), path, level, itemCounter++);
    } else if (type == EntryDirectory && isWalkedDirectoryName(name)) {
      onDirectory(std::u16string(path));
    }
    if (!afterEntry(path)) break;
  }
}

}  // namespace lunadio
