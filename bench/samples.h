#pragma once

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

// Timings gathered by the benchmarks, kept by name so that the summary can
// set each against its floor after the run.
namespace bench {

using Clock = std::chrono::steady_clock;

class Samples {
 public:
  void Add(Clock::duration d) { micros_.push_back(std::chrono::duration<double, std::micro>(d).count()); }
  size_t size() const { return micros_.size(); }
  // The value below which `fraction` of the samples lie (0.5: the median).
  double Quantile(double fraction) const {
    if (micros_.empty()) return 0;
    std::vector<double> sorted = micros_;
    std::sort(sorted.begin(), sorted.end());
    size_t at = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
  }
  void Clear() { micros_.clear(); }

 private:
  std::vector<double> micros_;
};

// Every benchmark's samples, by name ("lookup/plug-in", "lookup/floor", ...).
inline std::map<std::string, Samples>& Recorded() {
  static std::map<std::string, Samples> recorded;
  return recorded;
}

}  // namespace bench
