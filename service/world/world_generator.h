#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace service {

struct GeneratorOptions {
  std::size_t places = 100000;
  std::uint64_t seed = 1;
};

// Writes a synthetic world for load tests into `folder` (created if needed)
// as the data files LoadWorld reads: places with unique invented names
// spread over a square of land, roads and paths to near neighbours (a chain
// through all places keeps the world connected), a one-way portal from each
// town to a dungeon, levels for dungeons and a few notes. The same options
// always give the same files. Throws std::runtime_error when a file cannot
// be written.
void GenerateWorld(const GeneratorOptions& options, const std::filesystem::path& folder);

}  // namespace service
