#include "service/answer/database_workers.h"

#include <algorithm>

namespace service {

DatabaseWorkers::DatabaseWorkers(std::size_t threads, std::size_t max_queued)
    : max_queued_(std::max<std::size_t>(max_queued, 1)) {
  for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) {
    threads_.emplace_back([this] { Work(); });
  }
}

DatabaseWorkers::~DatabaseWorkers() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool DatabaseWorkers::Submit(std::function<void()> job) {
  {
    const std::lock_guard lock(mutex_);
    if (jobs_.size() >= max_queued_) return false;
    jobs_.push_back(std::move(job));
  }
  ready_.notify_one();
  return true;
}

std::size_t DatabaseWorkers::Queued() const {
  const std::lock_guard lock(mutex_);
  return jobs_.size();
}

void DatabaseWorkers::Work() {
  while (true) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    try {
      job();
    } catch (...) {
    }
  }
}

}  // namespace service
