// The video plug-in host: loading "Frameport.dll", its instance, the abort at each graph
// stop and the release; also where the companion application's path comes from.
#include "graph/rend_graph.h"

#include "graph/diagnostics.h"
#include "platform/exception_guard.h"
#include "platform/file.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {

constexpr uintptr_t kFailedInstance = static_cast<uintptr_t>(-1);
constexpr uintptr_t kFailedInstance32 = 0xFFFFFFFFu;

}  // namespace

void CVDRendGraphImpl::LoadFramePlugin() {
  pluginModule = platform::LoadModule(pluginFileName);
  if (!pluginModule) return;
  const bool bound =
      platform::BindModuleSymbol(pluginModule, "Frameport_Initialize", &pfnInitialize) &
      platform::BindModuleSymbol(pluginModule, "Frameport_ProcessVideoFrame",
                                 &pfnProcessVideoFrame) &
      platform::BindModuleSymbol(pluginModule, "Frameport_UnInitialize", &pfnUnInitialize) &
      platform::BindModuleSymbol(pluginModule, "Frameport_Abort", &pfnAbort);
  if (!bound) return;
  const uintptr_t instance = platform::Guarded(uintptr_t{0}, [this] { return pfnInitialize(); });
  if (instance == 0 || instance == kFailedInstance || instance == kFailedInstance32) {
    platform::UnloadModule(pluginModule);
    pluginModule = nullptr;
    pluginInstance.store(0);
    pfnInitialize = nullptr;
    pfnProcessVideoFrame = nullptr;
    pfnUnInitialize = nullptr;
    companionPath[0] = u'\0';
    debugOutput(u"m_pfnFrameportInit(L\"OruVLM\")\n");
    return;
  }
  pluginInstance.store(instance);
  ReadRegistryString(platform::RegistryRoot::LocalMachine, "SOFTWARE\\Quillon\\Photoria 5\\Photoria",
                     "AppName", u"", companionPath, sizeof(companionPath));
  companionPath[259] = u'\0';
  if (companionPath[0] != u'\0' &&
      !platform::FileExists(platform::Utf16ToUtf8(companionPath).c_str())) {
    companionPath[0] = u'\0';
  }
}

void CVDRendGraphImpl::AbortFramePlugin() {
  const uintptr_t instance = pluginInstance.load();
  // The worker may be ended by force while stopping: the guard lets that unwind pass.
  if (pfnAbort && instance) platform::GuardedVoid([&] { pfnAbort(instance); });
}

void CVDRendGraphImpl::UnloadFramePlugin() {
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

void CVDRendGraphImpl::StartCompanionIfNeeded() {
  if (companionPath[0] == u'\0' || !isProcessRunning || !launchCompanionApp) return;
  if (!isProcessRunning(companionPath)) launchCompanionApp(companionPath);
}
