// Run-time loading of shared libraries by their Windows file name.
#pragma once

#include <utility>

namespace platform {

// An opaque loaded-module handle; null means none.
using ModuleHandle = void*;

// Loads a library by its Windows file name ("OruVCapture.dll"). Windows: LoadLibraryW with
// the plain name (normal search order). Linux: "X.dll" becomes "libX.so", looked for first
// in the directory of the running executable, then on the normal dlopen path. Null on
// failure.
ModuleHandle LoadModule(const char* windowsFileName);

// The address of an exported symbol, or null when the module has none of that name.
void* GetModuleSymbol(ModuleHandle module, const char* name);

// Drops one reference taken by LoadModule; null is ignored.
void UnloadModule(ModuleHandle module);

// The file name the Linux backend looks for: "X.dll" -> "libX.so"; other names unchanged.
// Exposed for tests; on Windows the name is used as given.
const char* MapModuleFileName(const char* windowsFileName, char* out, unsigned outSize);

// Whether a C++ exception thrown inside one loaded library can be caught by its caller in
// another. Linux: yes, one shared unwinder. The win32 build links each library with its own
// static runtime, whose unwinder cannot walk another library's frames, so no.
#ifdef _WIN32
inline constexpr bool kExceptionsCrossModules = false;
#else
inline constexpr bool kExceptionsCrossModules = true;
#endif

// Whether LoadModule maps "X.dll" to "libX.so".
#ifdef _WIN32
inline constexpr bool kModuleNamesMapped = false;
#else
inline constexpr bool kModuleNamesMapped = true;
#endif

// Typed lookup: `fn` receives the symbol cast to its function-pointer type.
template <typename Fn>
bool BindModuleSymbol(ModuleHandle module, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(GetModuleSymbol(module, name));
  return *fn != nullptr;
}

// Move-only owner of one module reference.
class UniqueModule {
 public:
  UniqueModule() = default;
  explicit UniqueModule(ModuleHandle m) : m_(m) {}
  UniqueModule(UniqueModule&& o) noexcept : m_(std::exchange(o.m_, nullptr)) {}
  UniqueModule& operator=(UniqueModule&& o) noexcept {
    if (this != &o) reset(std::exchange(o.m_, nullptr));
    return *this;
  }
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;
  ~UniqueModule() { reset(); }

  ModuleHandle get() const { return m_; }
  ModuleHandle release() { return std::exchange(m_, nullptr); }
  void reset(ModuleHandle m = nullptr) {
    ModuleHandle old = std::exchange(m_, m);
    if (old) UnloadModule(old);
  }
  explicit operator bool() const { return m_ != nullptr; }

 private:
  ModuleHandle m_ = nullptr;
};

}  // namespace platform
