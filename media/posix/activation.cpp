// COM activation on Linux: apartments counted per thread, the built-in classes, then
// in-process servers registered under HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 in the
// registry file. Loaded modules stay until the last apartment of the process ends and the
// module agrees to go (DllCanUnloadNow).
#include <mutex>
#include <string>
#include <vector>

#include "media/posix/builtin_classes.h"
#include "media/posix/com_object.h"
#include "platform/exception_guard.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace media {
namespace {

using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using DllCanUnloadNowFn = HRESULT (*)();

struct ThreadApartment {
  int count = 0;
  DWORD model = 0;
};
thread_local ThreadApartment tApartment;

struct LoadedModule {
  std::string name;
  platform::UniqueModule module;
  DllGetClassObjectFn getClassObject = nullptr;
  DllCanUnloadNowFn canUnloadNow = nullptr;
};

struct ProcessState {
  std::mutex lock;
  int apartments = 0;         // threads with CoInitialize(Ex) in force
  int multithreaded = 0;      // of them, in the multithreaded apartment
  std::vector<LoadedModule> modules;
};

ProcessState& State() {
  static ProcessState* state = new ProcessState;  // outlives every static destructor
  return *state;
}

// Without an apartment of its own a thread may still use COM while the process has a
// multithreaded apartment, as on Windows.
bool ThreadMayUseCom() {
  if (tApartment.count > 0) return true;
  ProcessState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.multithreaded > 0;
}

// The InprocServer32 default value of the class, UTF-8; empty when not registered.
std::string RegisteredServer(REFCLSID clsid) {
  OLECHAR text[40];
  StringFromGUID2(clsid, text, 40);
  const std::string key = "Software\\Classes\\CLSID\\" + platform::Utf16ToUtf8(text) + "\\InprocServer32";
  platform::RegistryKey reg;
  if (reg.Open(platform::RegistryRoot::LocalMachine, key.c_str(), platform::RegistryAccess::Read) != 0) return {};
  uint32_t type = 0;
  uint32_t size = 0;
  if (reg.Query("", &type, nullptr, &size) != 0 || (type != platform::kRegSz && type != platform::kRegExpandSz)) {
    return {};
  }
  std::u16string value(size / 2 + 1, u'\0');
  uint32_t capacity = static_cast<uint32_t>(value.size() * 2);
  if (reg.Query("", &type, value.data(), &capacity) != 0) return {};
  value.resize(capacity / 2);
  while (!value.empty() && value.back() == u'\0') value.pop_back();
  return platform::Utf16ToUtf8(value);
}

// The loaded module of that name, loading it on first use. Null when it cannot be loaded;
// `*hr` then tells why.
LoadedModule* FindOrLoad(const std::string& name, HRESULT* hr) {
  ProcessState& s = State();
  for (LoadedModule& m : s.modules) {
    if (m.name == name) return &m;
  }
  platform::UniqueModule module(platform::LoadModule(name.c_str()));
  if (!module) {
    *hr = CO_E_DLLNOTFOUND;
    return nullptr;
  }
  LoadedModule loaded;
  if (!platform::BindModuleSymbol(module.get(), "DllGetClassObject", &loaded.getClassObject)) {
    *hr = CO_E_ERRORINDLL;
    return nullptr;
  }
  platform::BindModuleSymbol(module.get(), "DllCanUnloadNow", &loaded.canUnloadNow);
  loaded.name = name;
  loaded.module = std::move(module);
  s.modules.push_back(std::move(loaded));
  return &s.modules.back();
}

// Ends the process's use of its modules once no apartment is left: each goes when it says
// it can (a module without DllCanUnloadNow stays).
void UnloadUnusedModules() {
  std::vector<LoadedModule> leaving;
  {
    ProcessState& s = State();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.apartments > 0) return;
    for (auto it = s.modules.begin(); it != s.modules.end();) {
      if (it->canUnloadNow && it->canUnloadNow() == S_OK) {
        leaving.push_back(std::move(*it));
        it = s.modules.erase(it);
      } else {
        ++it;
      }
    }
  }
  // `leaving` unloads here, outside the lock.
}

}  // namespace
}  // namespace media

using media::State;
using media::tApartment;

extern "C" {

HRESULT CoInitializeEx(LPVOID, DWORD coInit) {
  const DWORD model = (coInit & COINIT_APARTMENTTHREADED) ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED;
  if (tApartment.count > 0) {
    if (tApartment.model != model) return RPC_E_CHANGED_MODE;
    ++tApartment.count;
    return S_FALSE;
  }
  tApartment.count = 1;
  tApartment.model = model;
  media::ProcessState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  ++s.apartments;
  if (model == COINIT_MULTITHREADED) ++s.multithreaded;
  return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (tApartment.count == 0) return;
  if (--tApartment.count > 0) return;
  {
    media::ProcessState& s = State();
    std::lock_guard<std::mutex> hold(s.lock);
    --s.apartments;
    if (tApartment.model == COINIT_MULTITHREADED) --s.multithreaded;
  }
  tApartment.model = 0;
  media::UnloadUnusedModules();
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (!media::ThreadMayUseCom()) return CO_E_NOTINITIALIZED;
  if (!(dwClsContext & CLSCTX_INPROC)) return REGDB_E_CLASSNOTREG;
  return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
    for (const media::BuiltinClass* c = media::BuiltinClasses(); c->clsid; ++c) {
      if (*c->clsid == rclsid)
        return media::HandOut(new media::ClassFactory<media::RuntimeObject>(c->create), riid, ppv);
    }
    const std::string server = media::RegisteredServer(rclsid);
    if (server.empty()) return REGDB_E_CLASSNOTREG;
    media::DllGetClassObjectFn getClassObject = nullptr;
    {
      media::ProcessState& s = State();
      std::lock_guard<std::mutex> hold(s.lock);
      HRESULT hr = S_OK;
      media::LoadedModule* module = media::FindOrLoad(server, &hr);
      if (!module) return hr;
      getClassObject = module->getClassObject;
    }
    // Modules are unloaded only with no apartment left, so this one stays for the call.
    return getClassObject(rclsid, riid, ppv);
  });
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (!factory) return E_UNEXPECTED;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

}  // extern "C"
