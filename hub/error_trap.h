#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "hub/error_report.h"

namespace Hub {

// Records a caught exception (whatever it is) as the current error with
// `line`, and reports it under `label`. Never raises: a failure of the report
// itself ends that report and starts no other.
void ReportCaught(const wchar_t* label, int32_t line) noexcept;

// The error trap of one run of a routine. Each numbered step runs through
// Step or Test; when it fails, the failure is recorded with the step's number
// and reported under the routine's label. Then:
//   kReportAndLeave: the routine ends (Step throws Leave, which Run catches);
//   kReportAndGoOn:  the routine goes on with its next step, and a Test whose
//                    evaluation failed counts as passed.
// Nothing a step raises ever leaves Run.
class ErrorTrap {
 public:
  enum Kind { kReportAndLeave, kReportAndGoOn };

  ErrorTrap(const wchar_t* label, Kind kind) : label_(label), kind_(kind) {}
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Runs the routine's body. Anything raised outside a numbered step is
  // reported without a line; Leave ends the body quietly.
  template <class F>
  void Run(F&& body) noexcept {
    try {
      std::forward<F>(body)();
    } catch (const Leave&) {
    } catch (...) {
      ReportCaught(label_, 0);
    }
  }

  // Runs step `line`. True when it completed.
  template <class F>
  bool Step(int32_t line, F&& step) {
    try {
      std::forward<F>(step)();
      return true;
    } catch (const Leave&) {
      throw;
    } catch (...) {
      ReportCaught(label_, line);
      if (kind_ == kReportAndLeave) throw Leave{};
      return false;
    }
  }

  // Evaluates the test of step `line`. A failed evaluation is reported and,
  // in a kReportAndGoOn trap, counts as passed.
  template <class F>
  bool Test(int32_t line, F&& test) {
    try {
      return static_cast<bool>(std::forward<F>(test)());
    } catch (const Leave&) {
      throw;
    } catch (...) {
      ReportCaught(label_, line);
      if (kind_ == kReportAndLeave) throw Leave{};
      return true;
    }
  }

  // Thrown by Step and Test in a kReportAndLeave trap; only Run catches it.
  struct Leave {};

 private:
  const wchar_t* label_;
  Kind kind_;
};

}  // namespace Hub
