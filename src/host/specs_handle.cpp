#include "host/specs_handle.h"

#include <cstring>

namespace tarvo {

bool UpgradeSpecs(Handle h, HostServices& host) {
  if (!h || !*h) return false;
  // A record the host made itself holds the protocol's 256 bytes; only our
  // own handles can be shorter, and only they can be grown.
  const int32_t size = UsableHandleSize(host, h, kSpecsSize);
  // Version sits in the first two bytes; an empty or one-byte block has none.
  if (size < 2) return false;
  int16_t version;
  std::memcpy(&version, *h, 2);
  if (version != 69 && version != 70 && version != 71) return false;
  // Older records were shorter than 256 bytes: grow the block first.
  if (size < kSpecsSize && !host.SetHandleSize(h, kSpecsSize)) return false;
  auto& s = *reinterpret_cast<TSpecs*>(*h);
  if (version == 69) UpgradeSpecsFrom69(s);
  return UpgradeSpecsFrom70(s);
}

}  // namespace tarvo
