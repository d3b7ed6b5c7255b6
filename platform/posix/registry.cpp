// The registry as a .reg text file named by KESTREL_REGISTRY_FILE. The parsed file is kept
// and read again whenever it changed (another inode, size or time), so a test or an
// administrator may edit it while the service runs without every read parsing it anew.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/reg_file.h"

namespace platform {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// One parsed file, never changed once published: open keys share it.
struct Snapshot {
  RegHive hive;
  std::map<std::string, size_t> index;  // lower-case path -> position in hive

  explicit Snapshot(RegHive h) : hive(std::move(h)) {
    for (size_t i = 0; i < hive.size(); ++i) index.emplace(Lower(hive[i].path), i);
  }
};

// What tells one version of the file from another.
struct Stamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};

  static Stamp Of(const struct stat& st) {
    return Stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  }
  bool operator==(const Stamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

struct Cache {
  std::mutex lock;
  std::string path;
  Stamp stamp;
  // A file changed in place within one tick of the file system's clock keeps its stamp, so
  // the bytes of a file read while its stamp was that fresh are kept and compared instead.
  std::optional<std::string> freshBytes;
  std::shared_ptr<const Snapshot> snapshot;
};

Cache& TheCache() {
  static Cache* cache = new Cache;  // never destroyed: readers may run during exit
  return *cache;
}

std::optional<std::string> FilePath() {
  const char* path = std::getenv(kRegistryFileVariable);
  if (!path || !*path) return std::nullopt;
  return std::string(path);
}

bool ReadAll(int fd, size_t sizeHint, std::string* bytes) {
  bytes->clear();
  bytes->reserve(sizeHint);
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes->append(chunk, static_cast<size_t>(n));
  }
}

// True when a change made now could still leave the stamp as it is.
bool StampIsFresh(const Stamp& stamp) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const auto ns = [](const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; };
  constexpr int64_t kClockTickNs = 1000000000;  // generous: coarse clocks and FAT-like times
  return ns(now) - std::max(ns(stamp.mtime), ns(stamp.ctime)) < kClockTickNs;
}

// kErrorSuccess with the current hive, kErrorFileNotFound when there is no file,
// kErrorBadDb when it lacks the header line.
long LoadSnapshot(std::shared_ptr<const Snapshot>* out) {
  out->reset();
  const std::optional<std::string> path = FilePath();
  if (!path) return kErrorFileNotFound;
  const int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kErrorFileNotFound;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return kErrorFileNotFound;
  }
  const Stamp stamp = Stamp::Of(st);
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.lock);
  const bool sameStamp = cache.snapshot && cache.path == *path && cache.stamp == stamp;
  if (sameStamp && !cache.freshBytes) {
    ::close(fd);
    *out = cache.snapshot;
    return kErrorSuccess;
  }
  std::string bytes;
  const bool read = ReadAll(fd, static_cast<size_t>(st.st_size), &bytes);
  ::close(fd);
  if (!read) return kErrorFileNotFound;
  const bool fresh = StampIsFresh(stamp);
  if (sameStamp && *cache.freshBytes == bytes) {
    if (!fresh) cache.freshBytes.reset();
    *out = cache.snapshot;
    return kErrorSuccess;
  }
  RegHive hive;
  if (!ParseRegFile(bytes, &hive)) return kErrorBadDb;
  cache.path = *path;
  cache.stamp = stamp;
  cache.freshBytes.reset();
  if (fresh) cache.freshBytes = std::move(bytes);
  cache.snapshot = std::make_shared<const Snapshot>(std::move(hive));
  *out = cache.snapshot;
  return kErrorSuccess;
}

// The hive to change: the current one, or empty when there is no file yet.
long LoadForWrite(RegHive* hive) {
  std::shared_ptr<const Snapshot> snapshot;
  const long rc = LoadSnapshot(&snapshot);
  if (rc == kErrorBadDb) return rc;
  hive->clear();
  if (snapshot) *hive = snapshot->hive;
  return kErrorSuccess;
}

// Written beside the old file and renamed over it, so readers see one or the other; the
// written hive becomes the cached one.
long StoreHive(RegHive hive) {
  const std::optional<std::string> path = FilePath();
  if (!path) return kErrorFileNotFound;
  const std::string temp = *path + ".new" + std::to_string(::getpid());
  std::string text = SerializeRegFile(hive);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return kErrorFileNotFound;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = done == text.size();
  ::close(fd);
  if (!written || std::rename(temp.c_str(), path->c_str()) != 0) {
    ::unlink(temp.c_str());
    return kErrorBadDb;
  }
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.lock);
  struct stat st;
  if (::stat(path->c_str(), &st) != 0) {
    cache.snapshot.reset();
    return kErrorSuccess;
  }
  cache.path = *path;
  cache.stamp = Stamp::Of(st);
  cache.freshBytes.reset();
  if (StampIsFresh(cache.stamp)) cache.freshBytes = std::move(text);
  cache.snapshot = std::make_shared<const Snapshot>(std::move(hive));
  return kErrorSuccess;
}

// One open key: the snapshot it was opened in and its place there.
struct OpenKey {
  std::shared_ptr<const Snapshot> snapshot;
  std::string lowerPath;
  const RegKeyRecord* record = nullptr;  // null for a key that exists only as a parent
  std::optional<std::vector<std::string>> subkeys;
};

std::vector<std::string> ChildNames(const Snapshot& s, const std::string& lowerPath) {
  // Every path below "p" starts with "p\", so the descendants are one run of the index.
  const std::string prefix = lowerPath + "\\";
  std::map<std::string, std::string> children;  // lower-case name -> name as first written
  for (auto it = s.index.lower_bound(prefix); it != s.index.end() && it->first.starts_with(prefix); ++it) {
    const std::string& path = s.hive[it->second].path;
    const size_t end = path.find('\\', prefix.size());
    const std::string name = path.substr(prefix.size(), end == std::string::npos ? std::string::npos : end - prefix.size());
    children.emplace(Lower(name), name);
  }
  std::vector<std::string> names;
  names.reserve(children.size());
  for (auto& [lower, name] : children) names.push_back(std::move(name));
  return names;
}

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
  auto key = std::make_unique<OpenKey>();
  if (const long rc = LoadSnapshot(&key->snapshot); rc != kErrorSuccess) return rc;
  key->lowerPath = Lower(RegRootedPath(root, subkey));
  const Snapshot& s = *key->snapshot;
  // A key exists when it or any key below it was written.
  if (const auto it = s.index.find(key->lowerPath); it != s.index.end()) {
    key->record = &s.hive[it->second];
  } else {
    const std::string prefix = key->lowerPath + "\\";
    const auto below = s.index.lower_bound(prefix);
    if (below == s.index.end() || !below->first.starts_with(prefix)) return kErrorFileNotFound;
  }
  handle_ = key.release();
  return kErrorSuccess;
}

bool RegistryKey::IsOpen() const { return handle_ != nullptr; }

void RegistryKey::Close() {
  delete static_cast<OpenKey*>(handle_);
  handle_ = nullptr;
}

long RegistryKey::Query(const char* valueName, uint32_t* type, void* data, uint32_t* size) const {
  if (!handle_ || (data && !size)) return kErrorInvalidParameter;
  const RegKeyRecord* record = static_cast<const OpenKey*>(handle_)->record;
  if (!record) return kErrorFileNotFound;
  const std::string_view name = valueName ? valueName : "";
  for (const RegValue& v : record->values) {
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

long RegistryKey::EnumSubkey(uint32_t index, std::string* name) const {
  if (!handle_ || !name) return kErrorInvalidParameter;
  OpenKey& key = *static_cast<OpenKey*>(handle_);
  if (!key.subkeys) key.subkeys = ChildNames(*key.snapshot, key.lowerPath);
  if (index >= key.subkeys->size()) return kErrorNoMoreItems;
  *name = (*key.subkeys)[index];
  return kErrorSuccess;
}

long SetRegistryValue(RegistryRoot root, const char* subkey, const char* valueName, uint32_t type,
                      const void* data, uint32_t size) {
  if (!subkey || (size && !data)) return kErrorInvalidParameter;
  RegHive hive;
  if (const long rc = LoadForWrite(&hive); rc != kErrorSuccess) return rc;
  RegValue v;
  v.name = valueName ? valueName : "";
  v.type = type;
  if (size) v.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  SetRegValue(FindOrAddRegKey(hive, RegRootedPath(root, subkey)), std::move(v));
  return StoreHive(std::move(hive));
}

long DeleteRegistryTree(RegistryRoot root, const char* subkey) {
  if (!subkey) return kErrorInvalidParameter;
  std::shared_ptr<const Snapshot> snapshot;
  if (const long rc = LoadSnapshot(&snapshot); rc != kErrorSuccess) return rc;
  RegHive hive = snapshot->hive;
  if (!DeleteRegTree(hive, RegRootedPath(root, subkey))) return kErrorFileNotFound;
  return StoreHive(std::move(hive));
}

}  // namespace platform
