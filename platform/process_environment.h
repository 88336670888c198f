#pragma once

#include <optional>
#include <string>

namespace platform {

// The value of the process's environment variable `name`, as UTF-8;
// nullopt when it is not set. Reads the operating system's own block, so a
// value one module of the process set is seen by every other.
std::optional<std::string> ProcessEnvironment(const char* name);

}  // namespace platform
