// The device enumerator, its moniker enumerator, the device monikers and their property
// bags, written once against the COM names of media/dshow.h.
#include "media/device_enum.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "media/com_object.h"
#include "media/com_ptr.h"
#include "platform/exception_guard.h"
#include "platform/registry.h"
#include "platform/text.h"

#ifndef _WIN32
#include "media/posix/runtime.h"
#endif

namespace media {

namespace {

std::atomic<long> gLiveObjects{0};

// What a property bag answers for a name it does not hold (HRESULT_FROM_WIN32 of
// ERROR_FILE_NOT_FOUND), as the system's device property bags do.
constexpr HRESULT kNoSuchProperty = static_cast<HRESULT>(0x80070002u);

// CLSID_CDeviceMoniker, the class a device moniker reports through IPersist.
const CLSID kDeviceMonikerClass = {0x4315D437, 0x5B8C, 0x11d0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

constexpr char16_t kPnpPrefix[] = u"@device:pnp:";

#ifdef _WIN32
struct CountedBase {};
#else
// On Linux the objects count among the runtime's too.
using CountedBase = RuntimeObject;
#endif

// The module's object count, for every object below.
class Counted : private CountedBase {
 public:
  Counted() { gLiveObjects.fetch_add(1); }
  ~Counted() { gLiveObjects.fetch_sub(1); }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
};

OLECHAR* TaskString(const std::u16string& text) {
  auto* out = static_cast<char16_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(char16_t)));
  if (!out) return nullptr;
  std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  return AsOle(out);
}

std::u16string ToU16(const OLECHAR* text) {
  return text ? std::u16string(AsUtf16(text)) : std::u16string();
}

// A REG_SZ value as text without its terminator; empty when missing or of another type.
std::u16string ReadString(const platform::RegistryKey& key, const char* name) {
  uint32_t type = 0, size = 0;
  if (key.Query(name, &type, nullptr, &size) != platform::kErrorSuccess || type != platform::kRegSz) return {};
  std::vector<uint8_t> bytes(size);
  if (size && key.Query(name, &type, bytes.data(), &size) != platform::kErrorSuccess) return {};
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  if (const size_t end = text.find(u'\0'); end != std::u16string::npos) text.resize(end);
  return text;
}

// ---- The property bag of one device: read-only strings. ----

class DevicePropertyBag final : public ComObject<IPropertyBag>, private Counted {
 public:
  explicit DevicePropertyBag(const CameraEntry& camera)
      : properties_{{u"FriendlyName", camera.friendlyName},
                    {u"DevicePath", DevicePathOf(camera.displayName)},
                    {u"CLSID", camera.classId},
                    {u"Config", camera.config}} {}

  void* InterfaceFor(REFIID iid) override {
    return InterfaceIf<IPropertyBag>(this, iid, {&IID_IUnknown, &IID_IPropertyBag});
  }

  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* var, IErrorLog*) override {
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      if (!name || !var) return E_POINTER;
      const std::u16string wanted = ToU16(name);
      for (const auto& [key, value] : properties_) {
        if (key != wanted) continue;
        // Strings only: an empty variant or one that asks for a string.
        if (var->vt != VT_EMPTY && var->vt != VT_BSTR) return E_FAIL;
        BSTR text = SysAllocStringLen(AsOle(value.c_str()), static_cast<UINT>(value.size()));
        if (!text) return E_OUTOFMEMORY;
        var->vt = VT_BSTR;
        var->bstrVal = text;
        return S_OK;
      }
      return kNoSuchProperty;
    });
  }

  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

 private:
  std::vector<std::pair<std::u16string, std::u16string>> properties_;
};

// ---- A device moniker. ----

class DeviceMoniker final : public ComObject<IMoniker>, private Counted {
 public:
  explicit DeviceMoniker(CameraEntry camera) : camera_(std::move(camera)) {}

  void* InterfaceFor(REFIID iid) override {
    return InterfaceIf<IMoniker>(this, iid, {&IID_IUnknown, &IID_IPersist, &IID_IPersistStream, &IID_IMoniker});
  }

  // IPersist / IPersistStream: the moniker is never saved.
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = kDeviceMonikerClass;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

  // Creates the device's filter and hands it the device's property bag; a failing Load
  // fails the bind with its result and the object goes.
  HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** ppv) override {
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      if (!ppv) return E_POINTER;
      *ppv = nullptr;
      CLSID clsid;
      std::u16string text = camera_.classId;
      HRESULT hr = CLSIDFromString(AsOle(text.data()), &clsid);
      if (FAILED(hr)) return hr;
      ComPtr<IUnknown> object;
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid());
      if (FAILED(hr)) return hr;
      ComPtr<IPersistPropertyBag> persist;
      if (SUCCEEDED(object.as(IID_IPersistPropertyBag, &persist))) {
        auto* bag = new DevicePropertyBag(camera_);
        hr = persist->Load(bag, nullptr);
        bag->Release();
        if (FAILED(hr)) return hr;
      }
      return object->QueryInterface(iid, ppv);
    });
  }

  HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID iid, void** ppv) override {
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      if (!ppv) return E_POINTER;
      *ppv = nullptr;
      if (!IsEqualGUID(iid, IID_IPropertyBag) && !IsEqualGUID(iid, IID_IUnknown)) return E_NOINTERFACE;
      return HandOut(new DevicePropertyBag(camera_), iid, ppv);
    });
  }

  HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      if (!name) return E_POINTER;
      *name = TaskString(camera_.displayName);
      return *name ? S_OK : E_OUTOFMEMORY;
    });
  }

  HRESULT STDMETHODCALLTYPE IsEqual(IMoniker* other) override {
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      if (!other) return E_INVALIDARG;
      UniqueTaskMem<OLECHAR> name;
      if (FAILED(other->GetDisplayName(nullptr, nullptr, name.put())) || !name) return S_FALSE;
      return ToU16(name.get()) == camera_.displayName ? S_OK : S_FALSE;
    });
  }

  HRESULT STDMETHODCALLTYPE Hash(DWORD* hash) override {
    if (!hash) return E_POINTER;
    DWORD h = 0;
    for (char16_t c : camera_.displayName) h = h * 31 + c;
    *hash = h;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD* mksys) override {
    if (!mksys) return E_POINTER;
    *mksys = 0;  // MKSYS_NONE
    return S_FALSE;
  }

  // The rest of IMoniker is not offered, as by the system's device monikers.
  HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker** toLeft, IMoniker** reduced) override {
    if (toLeft) *toLeft = nullptr;
    if (reduced) *reduced = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, BOOL, IMoniker** composite) override { return NotOffered(composite); }
  HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker** e) override { return NotOffered(e); }
  HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Inverse(IMoniker** m) override { return NotOffered(m); }
  HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker** m) override { return NotOffered(m); }
  HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker** m) override { return NotOffered(m); }
  HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG* eaten, IMoniker** out) override {
    if (eaten) *eaten = 0;
    return NotOffered(out);
  }

 private:
  template <typename T>
  static HRESULT NotOffered(T** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

  const CameraEntry camera_;
};

// ---- The enumerator of one category's monikers. ----

// Fetched is cleared first and may be missing for up to one moniker.
constexpr EnumRules kMonikerEnumRules{false, true, E_OUTOFMEMORY};
using MonikerEnumerator = Enumerator<Snapshot<IEnumMoniker, CameraEntry>, Counted, kMonikerEnumRules>;

IMoniker* NewMoniker(const CameraEntry& camera) { return new DeviceMoniker(camera); }

// ---- The device enumerator. ----

class SystemDeviceEnum final : public ComObject<ICreateDevEnum>, private Counted {
 public:
  void* InterfaceFor(REFIID iid) override {
    return InterfaceIf<ICreateDevEnum>(this, iid, {&IID_IUnknown, &IID_ICreateDevEnum});
  }

  // Only the video input category has devices here; every other one, like an empty list,
  // answers S_FALSE with no enumerator.
  HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD) override {
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      if (!out) return E_POINTER;
      *out = nullptr;
      if (!IsEqualGUID(category, CLSID_VideoInputDeviceCategory)) return S_FALSE;
      std::vector<CameraEntry> cameras = ReadCameraList();
      if (cameras.empty()) return S_FALSE;
      *out = new MonikerEnumerator({std::move(cameras), NewMoniker});
      return S_OK;
    });
  }
};

// A camera key's number ("0001" is 1); -1 for a name that is not all digits.
long KeyNumber(const std::string& name) {
  if (name.empty() || name.size() > 9) return -1;
  long n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

std::u16string DevicePathOf(const std::u16string& displayName) {
  const std::u16string_view prefix = kPnpPrefix;
  if (displayName.size() >= prefix.size() && displayName.compare(0, prefix.size(), prefix) == 0)
    return displayName.substr(prefix.size());
  return displayName;
}

std::vector<CameraEntry> ReadCameraList() {
  std::vector<std::pair<long, std::string>> keys;
  for (std::string& name : platform::RegistrySubkeys(platform::RegistryRoot::LocalMachine, kCameraListKey))
    if (const long n = KeyNumber(name); n >= 0) keys.emplace_back(n, std::move(name));
  std::sort(keys.begin(), keys.end());
  std::vector<CameraEntry> cameras;
  for (const auto& [number, name] : keys) {
    platform::RegistryKey key;
    const std::string path = std::string(kCameraListKey) + "\\" + name;
    if (key.Open(platform::RegistryRoot::LocalMachine, path.c_str(), platform::RegistryAccess::Read) != platform::kErrorSuccess)
      continue;
    CameraEntry camera{ReadString(key, kCameraDisplayName), ReadString(key, kCameraFriendlyName),
                       ReadString(key, kCameraClass), ReadString(key, kCameraConfig)};
    if (!camera.displayName.empty()) cameras.push_back(std::move(camera));
  }
  return cameras;
}

long LiveDeviceEnumObjects() { return gLiveObjects.load(); }

}  // namespace media

HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv) {
  return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return media::HandOut(new media::SystemDeviceEnum, riid, ppv);
  });
}
