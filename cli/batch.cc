#include "cli/batch.h"

#include <dirent.h>
#include <sched.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "cli/output.h"
#include "common/atomic_file.h"

namespace {

using FileId = std::pair<dev_t, ino_t>;
using Clock = std::chrono::steady_clock;

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

std::string BaseName(std::string path) {
  while (path.size() > 1 && path.ends_with('/')) path.pop_back();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsArticleName(std::string_view name) {
  for (std::string_view extension : {".html", ".htm"}) {
    if (name.size() > extension.size() &&
        strcasecmp(name.data() + name.size() - extension.size(), extension.data()) == 0) {
      return true;
    }
  }
  return false;
}

class Planner {
 public:
  Planner(const std::string& output_dir, std::vector<std::string>* failures)
      : output_dir_(output_dir), failures_(failures) {
    struct stat info {};
    if (stat(output_dir.c_str(), &info) == 0) output_dir_id_ = FileId{info.st_dev, info.st_ino};
  }

  void AddInput(const std::string& input) {
    struct stat info {};
    if (stat(input.c_str(), &info) != 0) {
      failures_->push_back(input + ": " + strerror(errno));
    } else if (S_ISDIR(info.st_mode)) {
      Walk(input, "");
    } else {
      Add(input, BaseName(input), info);
    }
  }

  // The planned items, less any whose result would land on an input.
  std::vector<BatchItem> Finish() {
    std::vector<BatchItem> kept;
    for (BatchItem& item : items_) {
      struct stat info {};
      if (stat(item.output.c_str(), &info) == 0 && inputs_.count({info.st_dev, info.st_ino})) {
        failures_->push_back(item.input + ": its result would overwrite the input '" + item.output +
                             "'; choose another -d");
      } else {
        kept.push_back(std::move(item));
      }
    }
    return kept;
  }

 private:
  void Add(const std::string& input, const std::string& relative, const struct stat& info) {
    std::string output = JoinPath(output_dir_, relative);
    auto [claimed, added] = claimed_.emplace(output, input);
    if (!added) {
      failures_->push_back(input + ": its result would go to '" + output + "', as that of '" +
                           claimed->second + "' does");
      return;
    }
    inputs_.insert({info.st_dev, info.st_ino});
    items_.push_back({input, output});
  }

  void Walk(const std::string& folder, const std::string& relative) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
      failures_->push_back(folder + ": " + strerror(errno));
      return;
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
      std::string_view name = entry->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      std::string path = JoinPath(folder, name);
      struct stat info {};
      if (lstat(path.c_str(), &info) != 0) continue;
      if (S_ISDIR(info.st_mode)) {
        if (FileId{info.st_dev, info.st_ino} != output_dir_id_) {
          Walk(path, relative + name + "/");
        }
      } else if (IsArticleName(name)) {
        // A link to a file counts as the file; a dangling one is reported when read.
        if (S_ISLNK(info.st_mode) && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
          continue;
        }
        Add(path, relative + name, info);
      }
    }
  }

  std::string output_dir_;
  std::vector<std::string>* failures_;
  FileId output_dir_id_{};
  std::set<FileId> inputs_;
  std::map<std::string, std::string> claimed_;  // output -> the input it is the result of
  std::vector<BatchItem> items_;
};

int ProcessorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

// The shared state of one batch run.
class Batch {
 public:
  Batch(const std::vector<BatchItem>& items, const ShuffleOptions& options, int err_fd, int workers)
      : items_(items), options_(options), progress_(err_fd), current_(workers) {}

  void Work(int worker) {
    for (size_t i; (i = next_++) < items_.size();) {
      {
        std::lock_guard lock(current_[worker].mutex);
        current_[worker].name = &items_[i].input;
        current_[worker].since = Clock::now();
      }
      std::string error;
      bool done = Shuffle(items_[i], &error);
      {
        std::lock_guard lock(current_[worker].mutex);
        current_[worker].name = nullptr;
      }
      if (!done) progress_.Report(items_[i].input + ": " + error);
      ++(done ? done_ : failed_);
      if (done_ + failed_ == items_.size()) {
        std::lock_guard lock(finish_mutex_);
        finished_.notify_all();
      }
    }
  }

  // Shows the progress line until every item is through.
  void WatchProgress() {
    auto start = Clock::now();
    std::unique_lock lock(finish_mutex_);
    while (done_ + failed_ < items_.size()) {
      finished_.wait_for(lock, std::chrono::milliseconds(200));
      size_t through = done_ + failed_;
      double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      std::string text =
          std::to_string(through) + " of " + std::to_string(items_.size()) + " articles, " +
          std::to_string(static_cast<long>(through / std::max(seconds, 0.001))) + "/s";
      if (std::string slow = SlowestName(); !slow.empty()) text += ", now " + slow;
      progress_.Show(text, true);
    }
    progress_.Clear();
  }

  BatchCounts Counts() const { return {done_, failed_}; }

 private:
  struct Current {
    std::mutex mutex;
    const std::string* name = nullptr;
    Clock::time_point since;
  };

  // The article a worker has been on for more than a second, the longest first.
  std::string SlowestName() {
    std::string name;
    Clock::time_point oldest = Clock::now() - std::chrono::seconds(1);
    for (Current& current : current_) {
      std::lock_guard lock(current.mutex);
      if (current.name && current.since < oldest) {
        oldest = current.since;
        name = *current.name;
      }
    }
    return name;
  }

  bool Shuffle(const BatchItem& item, std::string* error) {
    try {
      std::string article, result;
      if (!ReadArticleFile(item.input, options_.max_bytes, &article, error)) {
        // The reason already begins with the input's name.
        *error = error->substr(std::min(error->size(), item.input.size() + 2));
        return false;
      }
      if (!ShuffleWithOptions(article, options_, &result, error)) return false;
      article = std::string();
      std::string folder = item.output.substr(0, item.output.rfind('/'));
      if (!PrepareFolder(folder, error)) return false;
      if (std::optional<std::string> failure = WriteUserFile(item.output, result)) {
        *error = "cannot write '" + item.output + "': " + *failure;
        return false;
      }
      return true;
    } catch (const std::bad_alloc&) {
      *error = "out of memory";
      return false;
    }
  }

  // Makes `folder` and the folders above it, and clears a killed run's temporary files from it.
  bool PrepareFolder(const std::string& folder, std::string* error) {
    {
      std::lock_guard lock(folders_mutex_);
      if (folders_.count(folder)) return true;
    }
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    if (failure) {
      *error = "cannot create the folder '" + folder + "': " + strerror(failure.value());
      return false;
    }
    RemoveStaleTemporaries(folder, kStaleTemporarySeconds);
    std::lock_guard lock(folders_mutex_);
    folders_.insert(folder);
    return true;
  }

  const std::vector<BatchItem>& items_;
  const ShuffleOptions& options_;
  ProgressLine progress_;
  std::vector<Current> current_;
  std::atomic<size_t> next_{0};
  std::atomic<size_t> done_{0};
  std::atomic<size_t> failed_{0};
  std::mutex finish_mutex_;
  std::condition_variable finished_;
  std::mutex folders_mutex_;
  std::set<std::string> folders_;
};

}  // namespace

std::vector<BatchItem> PlanBatch(const std::vector<std::string>& inputs,
                                 const std::string& output_dir,
                                 std::vector<std::string>* failures) {
  Planner planner(output_dir, failures);
  for (const std::string& input : inputs) planner.AddInput(input);
  return planner.Finish();
}

BatchCounts RunBatch(const std::vector<BatchItem>& items, const ShuffleOptions& options,
                     int err_fd) {
  if (items.empty()) return {};
  int workers = options.jobs > 0 ? options.jobs : ProcessorCount();
  workers = static_cast<int>(std::min<size_t>(static_cast<size_t>(workers), items.size()));
  Batch batch(items, options, err_fd, workers);
  std::vector<std::thread> threads;
  for (int worker = 0; worker < workers; ++worker) {
    try {
      threads.emplace_back([&batch, worker] { batch.Work(worker); });
    } catch (const std::system_error&) {
      break;  // the threads already started do the rest
    }
  }
  if (threads.empty()) batch.Work(0);
  batch.WatchProgress();
  for (std::thread& thread : threads) thread.join();
  return batch.Counts();
}
