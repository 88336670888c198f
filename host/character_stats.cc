#include "host/character_stats.h"

#include <utility>

namespace host {

std::wstring CharacterStats::Name() { return name_; }

void CharacterStats::SetName(std::wstring name) { name_ = std::move(name); }

void CharacterStats::RaiseLogin() { Login.Raise(0); }

}  // namespace host
