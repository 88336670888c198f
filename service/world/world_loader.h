#pragma once

#include <filesystem>
#include <stdexcept>

#include "service/world/world.h"

namespace service {

// Reads a world from the data files of one folder:
//   places.csv  name, kind, coords            (required)
//   links.csv   from, to, kind [, label, km, cost, oneway]   (required)
//   levels.csv  place, min [, max]            (optional)
//   notes.csv   place, note                   (optional; one line per row,
//                                              in the order given)
// Each file starts with a header row naming its columns, in any order.
//
// Everything is checked before anything is kept; the first fault found is
// thrown as ImportError, whose text names the file, the line and the record.
class ImportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

World LoadWorld(const std::filesystem::path& folder);

}  // namespace service
