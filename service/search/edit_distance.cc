#include "service/search/edit_distance.h"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

namespace service {

int EditDistance(std::u32string_view a, std::u32string_view b, int limit) {
  const int n = static_cast<int>(a.size());
  const int m = static_cast<int>(b.size());
  if (std::abs(n - m) > limit) return limit + 1;
  // Three rows of the table: the one before the previous (for swaps), the
  // previous and the current; on the stack for words of usual length.
  constexpr int kOnStack = 64;
  int stack_rows[3 * (kOnStack + 1)];
  std::vector<int> heap_rows;
  int* rows = stack_rows;
  if (m > kOnStack) {
    heap_rows.resize(3 * static_cast<std::size_t>(m + 1));
    rows = heap_rows.data();
  }
  int* before = rows;
  int* previous = rows + (m + 1);
  int* current = rows + 2 * (m + 1);
  for (int j = 0; j <= m; ++j) previous[j] = j;
  int previous_best = 0;
  for (int i = 1; i <= n; ++i) {
    current[0] = i;
    int row_best = current[0];
    for (int j = 1; j <= m; ++j) {
      const int replace = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      int best = std::min({previous[j] + 1, current[j - 1] + 1, replace});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        best = std::min(best, before[j - 2] + 1);
      }
      current[j] = best;
      row_best = std::min(row_best, best);
    }
    // Every later cell comes from this row, or from the previous one by a
    // swap: once both are past the limit, so is the distance.
    if (row_best > limit && previous_best > limit) return limit + 1;
    previous_best = row_best;
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return std::min(previous[m], limit + 1);
}

}  // namespace service
