#include "service/reload/world_reloader.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "service/text/escaped_text.h"

namespace service {

namespace {

// A replaced world is let go of this long after the replacement at the
// latest, and then as often until no request holds it.
constexpr std::chrono::milliseconds kRetireInterval{1000};

std::string Milliseconds(std::chrono::duration<double> time) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f ms", time.count() * 1000.0);
  return text;
}

// Throws unless a regular file is at `path` (after symbolic links). It is
// opened without blocking, so that a FIFO or a device there is refused
// rather than holding this thread until something writes to it; the
// database itself is opened only after this.
void RequireRegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return;  // opening the database says why
  struct stat info {};
  const bool checked = ::fstat(fd, &info) == 0;
  ::close(fd);
  if (!checked || S_ISREG(info.st_mode)) return;
  const char* what = S_ISFIFO(info.st_mode)   ? "a FIFO"
                     : S_ISDIR(info.st_mode)  ? "a folder"
                     : S_ISSOCK(info.st_mode) ? "a socket"
                                              : "a device";
  throw std::runtime_error(path + " is " + what +
                           ", not a regular file; only a world database file is served");
}

}  // namespace

WorldReloader::WorldReloader(ReloadOptions options, CurrentWorld& world, RequestLog& log,
                             std::function<void(bool)> on_first)
    : options_(std::move(options)),
      world_(world),
      log_(log),
      on_first_(std::move(on_first)),
      thread_([this] { Run(); }) {}

WorldReloader::~WorldReloader() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void WorldReloader::Request() {
  {
    const std::lock_guard lock(mutex_);
    requested_ = true;
  }
  wake_.notify_all();
}

WorldReloader::FileIdentity WorldReloader::Identify() const {
  struct stat info {};
  if (::stat(options_.path.c_str(), &info) != 0) return {};
  return {info.st_dev, info.st_ino, info.st_size,
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
          true};
}

bool WorldReloader::Load(const std::string& why) {
  const FileIdentity file = Identify();
  const std::shared_ptr<const WorldSnapshot> serving = world_.Get();
  try {
    RequireRegularFile(options_.path);
    auto loaded = std::make_shared<const WorldSnapshot>(options_.path, options_.connections,
                                                        options_.result_limit);
    const WorldFacts& facts = loaded->Facts();
    log_.Note("serving the world " + QuotedField(facts.name) + " (" +
              std::to_string(facts.places) + " places) from " + options_.path +
              ", loaded in " + Milliseconds(facts.load_time) + " (" + why + ")");
    const std::uint64_t number = loaded->Number();
    std::shared_ptr<const WorldSnapshot> replaced = world_.Replace(std::move(loaded));
    if (options_.served) options_.served(number);
    // Any earlier one still waiting has had its time.
    if (replaced) retired_ = std::move(replaced);
    served_ = file;
    ++loaded_;
    return true;
  } catch (const std::exception& error) {
    constexpr int kLongestRetryInterval = 64;
    retry_interval_ =
        file == refused_file_ ? std::min(retry_interval_ * 2, kLongestRetryInterval) : 1;
    looks_to_retry_ = retry_interval_;
    refused_file_ = file;
    ++refused_;
    log_.Note("refused " + options_.path + " (" + why + "): " + error.what() +
              (serving ? "; still serving the world " + QuotedField(serving->Facts().name)
                       : std::string()));
    return false;
  }
}

void WorldReloader::Run() {
  const bool served = Load("start");
  {
    const std::lock_guard lock(mutex_);
    if (!stopping_ && on_first_) on_first_(served);
  }
  last_seen_ = served_;
  const bool watching = options_.watch_interval.count() > 0;
  const std::chrono::milliseconds tick = watching ? options_.watch_interval : kRetireInterval;
  while (true) {
    bool requested = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, tick, [this] { return stopping_ || requested_; });
      if (stopping_) return;
      requested = requested_;
      requested_ = false;
    }
    // Requests in flight end within their deadline; a snapshot nobody else
    // holds is closed here rather than on an event loop.
    if (retired_ && retired_.use_count() == 1) {
      retired_.reset();
      // Give the freed world's memory back to the system, rather than keep
      // it for a next load that may be long in coming.
      ::malloc_trim(0);
    }
    if (requested) {
      Load("on request");
      last_seen_ = Identify();
      continue;
    }
    if (!watching) continue;
    const FileIdentity now = Identify();
    // A replaced file is loaded once it has stayed the same for one look, so
    // that one still being written in place is not read half-done.
    const bool retry = now == refused_file_ && now.modified_ns > served_.modified_ns &&
                       --looks_to_retry_ <= 0;
    if (now.exists && now == last_seen_ && now != served_ && (now != refused_file_ || retry)) {
      Load(now == refused_file_ ? "the replaced file, again" : "the file was replaced");
    }
    last_seen_ = now;
  }
}

}  // namespace service
