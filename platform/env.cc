#include "platform/env.h"

namespace platform {

namespace {
// The Env a ScopedEnv installed on this thread; null means Default().
thread_local Env* t_installed = nullptr;
}  // namespace

Env* Env::Current() { return t_installed != nullptr ? t_installed : Default(); }

ScopedEnv::ScopedEnv(Env* env) : previous_(t_installed) { t_installed = env; }

ScopedEnv::~ScopedEnv() { t_installed = previous_; }

}  // namespace platform
