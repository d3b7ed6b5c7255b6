// The renderer's and decoder's registry settings.
#include "outside/filters/stand_ins.h"
#include "platform/registry.h"

namespace filters {

uint32_t ReadFilterSetting(const char* name, uint32_t fallback) {
  platform::RegistryKey key;
  if (key.Open(platform::RegistryRoot::LocalMachine, kFiltersKey, platform::RegistryAccess::Read) != 0)
    return fallback;
  uint32_t type = 0, value = 0, size = sizeof(value);
  if (key.Query(name, &type, &value, &size) != 0 || type != platform::kRegDword || size != sizeof(value))
    return fallback;
  return value;
}

}  // namespace filters
