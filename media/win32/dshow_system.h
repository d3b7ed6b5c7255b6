// The system's COM and DirectShow headers (mingw-w64), and the few names they lack.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <ole2.h>
#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>
#include <strmif.h>
#include <control.h>
#include <uuids.h>
#include <evcode.h>
#include <vfwmsgs.h>
#include <amvideo.h>
#include <dvdmedia.h>

// mingw-w64 declares IKsObject only for the DirectShow base classes; its identifier comes
// from libksguid.
struct IKsObject : public IUnknown {
  virtual HANDLE STDMETHODCALLTYPE KsGetObjectHandle() = 0;
};
EXTERN_C const IID IID_IKsObject;

// In libstrmiids but not declared by uuids.h.
EXTERN_C const GUID MEDIASUBTYPE_I420;
// Not known to the system headers at all: the FOURCC form {59555956-0000-0010-8000-00AA00389B71}.
inline constexpr GUID MEDIASUBTYPE_VYUY = {
    0x59555956, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
