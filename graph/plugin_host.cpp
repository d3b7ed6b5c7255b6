// The video plug-in host: loading "Frameport.dll", its instance, the abort at each graph
// stop and the release; also where the companion application's path comes from.
#include "graph/plugin_binding.h"

#include "graph/diagnostics.h"
#include "graph/rend_graph.h"
#include "platform/exception_guard.h"
#include "platform/file.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {

constexpr uintptr_t kFailedInstance = static_cast<uintptr_t>(-1);
constexpr uintptr_t kFailedInstance32 = 0xFFFFFFFFu;

}  // namespace

PluginBinding::LoadResult PluginBinding::Load(const char* fileName) {
  pluginModule = platform::LoadModule(fileName);
  if (!pluginModule) return LoadResult::Unbound;
  // Every entry point is looked for, even after one is missing.
  bool bound = platform::BindModuleSymbol(pluginModule, "Frameport_Initialize", &pfnInitialize);
  bound &= platform::BindModuleSymbol(pluginModule, "Frameport_ProcessVideoFrame", &pfnProcessVideoFrame);
  bound &= platform::BindModuleSymbol(pluginModule, "Frameport_UnInitialize", &pfnUnInitialize);
  bound &= platform::BindModuleSymbol(pluginModule, "Frameport_Abort", &pfnAbort);
  if (!bound) return LoadResult::Unbound;
  const uintptr_t instance = platform::Guarded(uintptr_t{0}, [this] { return pfnInitialize(); });
  if (instance == 0 || instance == kFailedInstance || instance == kFailedInstance32) {
    platform::UnloadModule(pluginModule);
    pluginModule = nullptr;
    pluginInstance.store(0);
    pfnInitialize = nullptr;
    pfnProcessVideoFrame = nullptr;
    pfnUnInitialize = nullptr;
    return LoadResult::Refused;
  }
  pluginInstance.store(instance);
  return LoadResult::Ready;
}

void PluginBinding::Abort() const {
  const uintptr_t instance = pluginInstance.load();
  // The worker may be ended by force while stopping: the guard lets that unwind pass.
  if (pfnAbort && instance) platform::GuardedVoid([&] { pfnAbort(instance); });
}

void PluginBinding::Unload() {
  const uintptr_t instance = pluginInstance.load();
  if (pfnUnInitialize && instance) {
    platform::GuardedVoid([&] {
      if (pfnAbort) pfnAbort(instance);
      pfnUnInitialize(instance);
    });
    pluginInstance.store(0);
  }
  if (pluginModule) platform::UnloadModule(pluginModule);
  pluginModule = nullptr;
  pluginInstance.store(0);
  pfnInitialize = nullptr;
  pfnProcessVideoFrame = nullptr;
  pfnUnInitialize = nullptr;
  pfnAbort = nullptr;
}

void PluginBinding::ProcessFrame(BitmapInfoHeader* header, uint8_t* pixels) const {
  const uintptr_t instance = pluginInstance.load(std::memory_order_relaxed);
  if (pfnProcessVideoFrame && instance) {
    platform::GuardedVoid([&] { pfnProcessVideoFrame(instance, header, pixels); });
  }
}

void CVDRendGraphImpl::LoadFramePlugin() {
  const PluginBinding::LoadResult result = plugin.Load(pluginFileName);
  if (result == PluginBinding::LoadResult::Unbound) return;
  if (result == PluginBinding::LoadResult::Refused) {
    companionPath[0] = u'\0';
    debugOutput(u"m_pfnFrameportInit(L\"OruVLM\")\n");
    return;
  }
  ReadRegistryString(platform::RegistryRoot::LocalMachine, "SOFTWARE\\Quillon\\Photoria 5\\Photoria",
                     "AppName", u"", companionPath, sizeof(companionPath));
  companionPath[259] = u'\0';
  if (companionPath[0] != u'\0' &&
      !platform::FileExists(platform::Utf16ToUtf8(companionPath).c_str())) {
    companionPath[0] = u'\0';
  }
}

void CVDRendGraphImpl::AbortFramePlugin() { plugin.Abort(); }

void CVDRendGraphImpl::UnloadFramePlugin() { plugin.Unload(); }

void CVDRendGraphImpl::StartCompanionIfNeeded() {
  if (companionPath[0] == u'\0' || !isProcessRunning || !launchCompanionApp) return;
  if (!isProcessRunning(companionPath)) launchCompanionApp(companionPath);
}
