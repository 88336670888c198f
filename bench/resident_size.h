#pragma once

namespace bench {

// The resident size of marlgate-host with the built plug-in, after a number
// of lookups against a loopback service (WriteToChat unticked, as a player
// leaves it).
struct ResidentSizes {
  long after_few_kib = 0;
  long after_many_kib = 0;
  int few = 0;
  int many = 0;
};

ResidentSizes MeasureResidentSizes(int few, int many);

}  // namespace bench
