// The registry as a .reg text file named by KESTREL_REGISTRY_FILE. Every open reads the
// file afresh, so a test or an administrator may edit it while the service runs.
#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/reg_file.h"

namespace platform {

namespace {

// kErrorSuccess with the hive, kErrorFileNotFound when there is no file, kErrorBadDb when
// it lacks the header line.
long LoadHive(RegHive& hive) {
  hive.clear();
  const char* path = std::getenv(kRegistryFileVariable);
  if (!path || !*path) return kErrorFileNotFound;
  std::ifstream in(path, std::ios::binary);
  if (!in) return kErrorFileNotFound;
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  return ParseRegFile(bytes, &hive) ? kErrorSuccess : kErrorBadDb;
}

// Written beside the old file and renamed over it, so readers see one or the other.
long StoreHive(const RegHive& hive) {
  const char* path = std::getenv(kRegistryFileVariable);
  if (!path || !*path) return kErrorFileNotFound;
  const std::string temp = std::string(path) + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return kErrorFileNotFound;
    out << SerializeRegFile(hive);
    if (!out.flush()) return kErrorBadDb;
  }
  if (std::rename(temp.c_str(), path) != 0) return kErrorBadDb;
  return kErrorSuccess;
}

struct KeyValues {
  std::vector<RegValue> values;
};

}  // namespace

RegistryKey::~RegistryKey() { Close(); }

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

long RegistryKey::Open(RegistryRoot root, const char* subkey, RegistryAccess) {
  Close();
  if (!subkey) return kErrorInvalidParameter;
  RegHive hive;
  if (const long rc = LoadHive(hive); rc != kErrorSuccess) return rc;
  const std::string path = RegRootedPath(root, subkey);
  bool exists = false;
  auto values = std::make_unique<KeyValues>();
  for (RegKeyRecord& k : hive) {
    if (!RegPathIsAtOrBelow(k.path, path)) continue;
    exists = true;  // a key exists when it or any key below it was written
    if (RegNameEquals(k.path, path)) values->values = std::move(k.values);
  }
  if (!exists) return kErrorFileNotFound;
  handle_ = values.release();
  return kErrorSuccess;
}

bool RegistryKey::IsOpen() const { return handle_ != nullptr; }

void RegistryKey::Close() {
  delete static_cast<KeyValues*>(handle_);
  handle_ = nullptr;
}

long RegistryKey::Query(const char* valueName, uint32_t* type, void* data, uint32_t* size) const {
  if (!handle_ || (data && !size)) return kErrorInvalidParameter;
  const std::string_view name = valueName ? valueName : "";
  for (const RegValue& v : static_cast<const KeyValues*>(handle_)->values) {
    if (!RegNameEquals(v.name, name)) continue;
    if (type) *type = v.type;
    const uint32_t needed = static_cast<uint32_t>(v.data.size());
    if (data) {
      if (*size < needed) {
        *size = needed;
        return kErrorMoreData;
      }
      if (needed) std::memcpy(data, v.data.data(), needed);
    }
    if (size) *size = needed;
    return kErrorSuccess;
  }
  return kErrorFileNotFound;
}

long SetRegistryValue(RegistryRoot root, const char* subkey, const char* valueName, uint32_t type,
                      const void* data, uint32_t size) {
  if (!subkey || (size && !data)) return kErrorInvalidParameter;
  RegHive hive;
  if (const long rc = LoadHive(hive); rc == kErrorBadDb) return rc;
  RegValue v;
  v.name = valueName ? valueName : "";
  v.type = type;
  if (size) v.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  SetRegValue(FindOrAddRegKey(hive, RegRootedPath(root, subkey)), std::move(v));
  return StoreHive(hive);
}

long DeleteRegistryTree(RegistryRoot root, const char* subkey) {
  if (!subkey) return kErrorInvalidParameter;
  RegHive hive;
  if (const long rc = LoadHive(hive); rc != kErrorSuccess) return rc;
  if (!DeleteRegTree(hive, RegRootedPath(root, subkey))) return kErrorFileNotFound;
  return StoreHive(hive);
}

}  // namespace platform
