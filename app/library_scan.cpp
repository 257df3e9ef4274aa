#include "app/library_scan.h"

#include <sys/stat.h>

#include <chrono>
#include <utility>

#include "core/strings.h"
#include "core/threads.h"
#include "storage/directory.h"
#include "ui/events.h"

namespace lunadio {
namespace {

// A batch goes to the list when it is this big or this old, whichever comes first: big enough
// that the main thread applies few calls, small enough that rows appear while the walk goes on.
constexpr std::size_t kBatchRows = 1024;
constexpr std::int64_t kHandOverIntervalNs = 20'000'000;

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct EndingStyle {
  std::u16string_view ending;
  RowColours top;
  RowColours sub;
  std::u16string_view type;
};

constexpr EndingStyle kEndingStyles[] = {
    {u".wav",
     {rgb(0, 128, 192), rgb(230, 235, 255)},
     {rgb(0, 128, 192), rgb(230, 235, 255)},
     u"Type : Son Wave"},
    {u".ogg",
     {rgb(0, 145, 110), rgb(230, 235, 255)},
     {rgb(0, 145, 110), rgb(230, 235, 255)},
     u"Type : Ogg Vorbis"},
    {u".mp3",
     {rgb(255, 0, 0), rgb(255, 255, 255)},
     {rgb(255, 0, 0), rgb(255, 235, 235)},
     u"Type : Son compressé mp3"},
    {u".m4a",
     {rgb(255, 0, 0), rgb(255, 255, 255)},
     {rgb(255, 0, 0), rgb(255, 235, 230)},
     u"Type : Bande audio m4a"},
};
constexpr RowColours kOtherColours{rgb(100, 100, 100), rgb(230, 230, 230)};

// Case-blind like the engine's choice: a file that plays is never shown as an unknown type.
const EndingStyle* styleOf(std::u16string_view name) {
  const std::u16string ending = toLower(rightPart(name, 4));
  for (const EndingStyle& style : kEndingStyles) {
    if (ending == style.ending) return &style;
  }
  return nullptr;
}

}  // namespace

std::u16string sizeText(std::int64_t bytes) {
  return padLeft(formatDouble(static_cast<double>(bytes) / 1000000.0, -1), 4, u' ') + u" Mo";
}

RowColours rowColours(std::u16string_view name, RowLevel level) {
  const EndingStyle* style = styleOf(name);
  if (!style) return kOtherColours;
  return level == RowLevel::TopDirectory ? style->top : style->sub;
}

std::u16string typeText(std::u16string_view name) {
  const EndingStyle* style = styleOf(name);
  return std::u16string(style ? style->type : u"Type inconnu");
}

FormatMatcher::FormatMatcher(std::u16string_view formatFilter)
    : loweredFilter_(toLower(formatFilter)) {}

bool FormatMatcher::matches(std::u16string_view name) const {
  // The same test as findString(filter, rightPart(name, 4), 1, FindNoCase) > 0, without lowering
  // the filter again for every file.
  if (name.empty() || loweredFilter_.empty()) return false;
  const std::u16string ending = toLower(rightPart(name, 4));
  return loweredFilter_.find(ending) != std::u16string::npos;
}

bool isWalkedDirectoryName(std::u16string_view name) {
  return !name.empty() && name.back() != u'.';
}

std::u16string joinPath(std::u16string_view directory, std::u16string_view name) {
  std::u16string path;
  path.reserve(directory.size() + 1 + name.size());
  path += directory;
  if (!path.empty() && path.back() != u'/') path += u'/';
  path += name;
  return path;
}

void RowBatch::add(std::u16string_view name, std::u16string_view size, std::u16string fullPath,
                   RowLevel level, std::int32_t itemCounter) {
  const RowColours colours = rowColours(name, level);
  std::u16string text;
  text.reserve(name.size() + 1 + size.size());
  text += name;
  text += u'\n';
  text += size;
  batch_.rows.push_back(GadgetItem{std::move(text), colours.front, colours.back, itemCounter});
  batch_.paths.push_back(std::move(fullPath));
}

ScanBatch RowBatch::take() { return std::exchange(batch_, ScanBatch{}); }

std::optional<DirectoryIdentity> identifyDirectory(std::u16string_view path) {
  const std::string bytes = path.empty() ? std::string(".") : toUtf8(path);
  struct stat info {};
  if (::stat(bytes.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  return DirectoryIdentity{static_cast<std::uint64_t>(info.st_dev),
                           static_cast<std::uint64_t>(info.st_ino)};
}

ScanJob::ScanJob(std::u16string_view formatFilter, std::intptr_t generation,
                 std::int32_t nextItemCounter)
    : matcher_(formatFilter), generation_(generation), itemCounter_(nextItemCounter) {}

void ScanJob::addPendingDirectory(std::u16string path) {
  pending_.selectElement(pending_.listSize() - 1);
  if (std::u16string* element = pending_.addElement()) *element = std::move(path);
}

void ScanJob::markVisited(std::u16string_view directory) { firstVisit(directory); }

bool ScanJob::firstVisit(std::u16string_view directory) {
  const std::optional<DirectoryIdentity> identity = identifyDirectory(directory);
  return identity && visited_.insert(*identity).second;
}

int ScanJob::start(std::shared_ptr<ScanJob> self) {
  thread_ = createThread([job = std::move(self)](void*) { job->run(); }, nullptr);
  return thread_;
}

bool ScanJob::waitUntilEnded(int timeoutMs) {
  if (thread_ == 0) return true;
  requestThreadStop(thread_);
  return waitThread(thread_, timeoutMs);
}

void ScanJob::run() {
  postEvent(EventScanStarted, 0, 0, 0, generation_);
  lastHandOverNs_ = nowNs();
  pending_.resetList();
  while (const std::u16string* next = pending_.nextElement()) {
    if (stopped()) return;
    const int progressPercent =
        static_cast<int>(static_cast<double>(pending_.listIndex()) / pending_.listSize() * 100.0);
    // A copy: the walk inserts elements next to this one.
    const std::u16string directory = *next;
    if (!firstVisit(directory)) continue;  // a link led back to a directory already walked
    walkDirectory(directory, progressPercent);
  }
  if (stopped()) return;
  handOver(100, {});
  postEvent(EventScanFinished, 0, 0, 0, generation_);
}

void ScanJob::walkDirectory(const std::u16string& directory, int progressPercent) {
  const std::int32_t listing = examineDirectory(ObjectAny, directory, u"*.*");
  if (listing == 0) return;  // unreadable: skipped without a message
  std::int32_t itemCounter = itemCounter_.load(std::memory_order_relaxed);
  walkEntries(
      listing, directory, RowLevel::Subdirectory, matcher_, itemCounter, batch_,
      [this](std::u16string path) {
        // Right after the directory being read, with the cursor back on it: depth first.
        if (std::u16string* element = pending_.addElement()) {
          *element = std::move(path);
          pending_.previousElement();
        }
      },
      [&](const std::u16string& path) {
        if (stopped()) return false;
        if (batch_.size() >= kBatchRows || nowNs() - lastHandOverNs_ >= kHandOverIntervalNs) {
          itemCounter_.store(itemCounter, std::memory_order_release);
          handOver(progressPercent, path);
        }
        return true;
      });
  itemCounter_.store(itemCounter, std::memory_order_release);
  finishDirectory(listing);
}

void ScanJob::handOver(int progressPercent, std::u16string_view examinedPath) {
  lastHandOverNs_ = nowNs();
  // The path field and the bar change once per hand-over, not for each of 100,000 entries.
  ScanBatch batch = batch_.take();
  batch.examinedPath = examinedPath;
  batch.progressPercent = progressPercent;
  {
    std::lock_guard lock(outboxMutex_);
    outbox_.push_back(std::move(batch));
  }
  postEvent(EventScanRows, 0, 0, 0, generation_);
}

std::vector<ScanBatch> ScanJob::takeBatches() {
  std::lock_guard lock(outboxMutex_);
  return std::exchange(outbox_, {});
}

}  // namespace lunadio
