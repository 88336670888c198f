#include "bench/resident_size.h"

#include <string>

#include "bench/loopback_service.h"
#include "tests/hardening/host_process.h"
#include "tests/integration/host_harness.h"

namespace bench {

ResidentSizes MeasureResidentSizes(int few, int many) {
  std::string reply = "<search results=\"";
  for (int i = 0; i < 10; ++i) reply += "Harrow Ford outpost " + std::to_string(i) + "|";
  reply += "\"/>";
  LoopbackService service(reply);
  testing_support::PluginFolder folder;
  hardening::HostProcess host(folder.library(), {"--connect-to", service.ConnectTo()});
  host.Send("init");
  host.Send("type SearchText harrow");

  ResidentSizes sizes;
  sizes.few = few;
  sizes.many = many;
  int done = 0;
  auto run_to = [&](int count) {
    for (; done < count; ++done) {
      host.Send("click SearchButton");
      host.Send("wait");
    }
    host.Sync();
  };
  run_to(few);
  sizes.after_few_kib = host.ResidentKib();
  run_to(many);
  sizes.after_many_kib = host.ResidentKib();
  host.Send("dump SearchList");
  auto dumped = host.Sync();
  host.Finish();
  // The last lookup must have filled the list, or nothing was measured.
  if (dumped.empty() || dumped.back()["controls"]["SearchList"]["rows"].size() != 10u) {
    sizes.after_many_kib = -1;
  }
  return sizes;
}

}  // namespace bench
