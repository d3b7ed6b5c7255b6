// What the Windows Imaging Component codecs (media/jpeg, media/png) share: COM for the length
// of one call, and the imaging factory. Windows only.
#pragma once

#include <objbase.h>
#include <wincodec.h>

#include "media/com_ptr.h"

namespace media {

// COM for one call. A thread that has an apartment keeps it; one without (a plain test or
// worker thread) joins the multithreaded apartment until the call returns. Declare it before
// the call's COM objects, so that they go first (the apartment's end may unload their module).
class WicComScope {
 public:
  WicComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~WicComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  WicComScope(const WicComScope&) = delete;
  WicComScope& operator=(const WicComScope&) = delete;
  // Whether the thread had COM before the call (S_FALSE: the MTA already; RPC_E_CHANGED_MODE:
  // a single-threaded apartment), so that objects made now may outlive the call.
  bool ThreadHadCom() const { return hr_ != S_OK; }

 private:
  const HRESULT hr_;
};

// Creates the imaging factory into `factory` unless it holds one already.
inline bool CreateImagingFactory(ComPtr<IWICImagingFactory>* factory) {
  if (factory->get()) return true;
  return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, factory->putVoid()));
}

}  // namespace media
