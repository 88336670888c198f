#pragma once

// Counts the library's live objects and server locks, so that the library
// says it can be unloaded only when nothing of it is in use.
namespace component {

void AddObject();
void ReleaseObject();
// An unlock without a matching lock is ignored.
void LockServer(bool lock);
// True when no object and no lock is alive.
bool CanUnload();

// Keeps the library counted for as long as the owning object lives.
class ObjectCount {
 public:
  ObjectCount() { AddObject(); }
  ObjectCount(const ObjectCount&) { AddObject(); }
  ObjectCount& operator=(const ObjectCount&) = default;
  ~ObjectCount() { ReleaseObject(); }
};

}  // namespace component
