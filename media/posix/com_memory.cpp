// Task memory, BSTR, VARIANT, GUID text and the structured-storage entry points of the Linux
// COM runtime.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "media/posix/runtime.h"

namespace media {
namespace {
std::atomic<long> gLiveObjects{0};
}  // namespace

long LiveRuntimeObjects() { return gLiveObjects.load(); }
RuntimeObject::RuntimeObject() { gLiveObjects.fetch_add(1); }
RuntimeObject::~RuntimeObject() { gLiveObjects.fetch_sub(1); }

}  // namespace media

extern "C" {

LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb == 0 ? 1 : cb); }

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  if (cb == 0) {
    std::free(pv);
    return nullptr;
  }
  return std::realloc(pv, cb);
}

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

// A BSTR is preceded by its byte length (4 bytes) and ends with a terminator that the
// length does not count.
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > (UINT32_MAX - 6) / sizeof(OLECHAR)) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(4 + (ui + 1) * sizeof(OLECHAR)));
  if (!block) return nullptr;
  uint32_t bytes = ui * sizeof(OLECHAR);
  std::memcpy(block, &bytes, 4);
  auto* text = reinterpret_cast<OLECHAR*>(block + 4);
  if (strIn) {
    std::memcpy(text, strIn, bytes);
  } else {
    std::memset(text, 0, bytes);
  }
  text[ui] = 0;
  return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  UINT n = 0;
  while (psz[n]) ++n;
  return SysAllocStringLen(psz, n);
}

void SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(reinterpret_cast<unsigned char*>(bstrString) - 4);
}

UINT SysStringByteLen(BSTR bstr) {
  if (!bstr) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<unsigned char*>(bstr) - 4, 4);
  return bytes;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

HRESULT StgCreateDocfile(const OLECHAR*, DWORD, DWORD, IStorage** ppstgOpen) {
  if (!ppstgOpen) return STG_E_INVALIDPOINTER;
  *ppstgOpen = nullptr;
  return STG_E_UNIMPLEMENTEDFUNCTION;
}

HRESULT StgOpenStorage(const OLECHAR*, IStorage*, DWORD, SNB, DWORD, IStorage** ppstgOpen) {
  if (!ppstgOpen) return STG_E_INVALIDPOINTER;
  *ppstgOpen = nullptr;
  return STG_E_UNIMPLEMENTEDFUNCTION;
}

// As documented for Win32: the type becomes VT_EMPTY and nothing else is touched, so the
// value slots keep whatever they held (a caller that sets vt to VT_BSTR must also set
// bstrVal before anything may clear the variant).
void VariantInit(VARIANT* pvarg) {
  if (!pvarg) return;
  pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (pvarg->vt == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if (pvarg->vt == VT_UNKNOWN && pvarg->punkVal) {
    pvarg->punkVal->Release();
  }
  std::memset(pvarg, 0, sizeof(*pvarg));
  pvarg->vt = VT_EMPTY;
  return S_OK;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  VARIANT copy = *pvargSrc;
  if (pvargSrc->vt == VT_BSTR && pvargSrc->bstrVal) {
    copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if (pvargSrc->vt == VT_UNKNOWN && pvargSrc->punkVal) {
    pvargSrc->punkVal->AddRef();
  }
  VariantClear(pvargDest);
  *pvargDest = copy;
  return S_OK;
}

namespace {

int HexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits at `*p`; false on anything else.
bool ReadHex(const OLECHAR*& p, int digits, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    int d = HexValue(p[i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  p += digits;
  *value = v;
  return true;
}

}  // namespace

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (!pclsid) return E_INVALIDARG;
  *pclsid = GUID_NULL;
  if (!lpsz) return S_OK;  // as on Windows, a null string is CLSID_NULL
  const OLECHAR* p = lpsz;
  GUID g{};
  uint32_t v = 0;
  auto expect = [&p](OLECHAR c) { return *p++ == c; };
  if (!expect(u'{')) return CO_E_CLASSSTRING;
  if (!ReadHex(p, 8, &v)) return CO_E_CLASSSTRING;
  g.Data1 = v;
  if (!expect(u'-') || !ReadHex(p, 4, &v)) return CO_E_CLASSSTRING;
  g.Data2 = static_cast<uint16_t>(v);
  if (!expect(u'-') || !ReadHex(p, 4, &v)) return CO_E_CLASSSTRING;
  g.Data3 = static_cast<uint16_t>(v);
  if (!expect(u'-')) return CO_E_CLASSSTRING;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !expect(u'-')) return CO_E_CLASSSTRING;
    if (!ReadHex(p, 2, &v)) return CO_E_CLASSSTRING;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  if (!expect(u'}') || *p != 0) return CO_E_CLASSSTRING;
  *pclsid = g;
  return S_OK;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  constexpr int kLength = 39;
  if (!lpsz || cchMax < kLength) return 0;
  static const char kHex[] = "0123456789ABCDEF";
  OLECHAR* out = lpsz;
  auto put = [&out](uint32_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) *out++ = static_cast<OLECHAR>(kHex[(value >> (i * 4)) & 0xF]);
  };
  *out++ = u'{';
  put(rguid.Data1, 8);
  *out++ = u'-';
  put(rguid.Data2, 4);
  *out++ = u'-';
  put(rguid.Data3, 4);
  *out++ = u'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) *out++ = u'-';
    put(rguid.Data4[i], 2);
  }
  *out++ = u'}';
  *out = 0;
  return kLength;
}

}  // extern "C"
