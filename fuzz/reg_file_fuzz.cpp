// The .reg registry file reader: any bytes parsed, and what it understood written out and
// read back, which must give the same keys and values.
#include <cstdint>
#include <string_view>

#include "platform/reg_file.h"

namespace {

bool SameHive(const platform::RegHive& a, const platform::RegHive& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].path != b[i].path || a[i].values.size() != b[i].values.size()) return false;
    for (size_t j = 0; j < a[i].values.size(); ++j) {
      const platform::RegValue& x = a[i].values[j];
      const platform::RegValue& y = b[i].values[j];
      if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::RegHive hive;
  if (!platform::ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size), &hive)) return 0;
  const std::string text = platform::SerializeRegFile(hive);
  platform::RegHive again;
  if (!platform::ParseRegFile(text, &again) || !SameHive(hive, again)) __builtin_trap();
  return 0;
}
