// COM on Linux: the Windows type names, GUIDs, strings, VARIANT and the base interfaces with
// the method order of the Windows headers, so code written against COM builds unchanged.
// Text is UTF-16 (char16_t), so names keep their 16-bit code units.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixel/frame_format.h"
#include "media/posix/hresult.h"

#define STDMETHODCALLTYPE
#define WINAPI
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT
#define EXTERN_C extern "C"
#define OLESTR(s) u##s
#define HRESULT_FROM_WIN32(x)                                                       \
  (static_cast<HRESULT>(x) <= 0 ? static_cast<HRESULT>(x)                          \
                                : static_cast<HRESULT>((static_cast<uint32_t>(x) & 0xFFFF) | 0x80070000u))

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using UINT = unsigned int;
using INT = int;
using BOOL = int;
using WINBOOL = int;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using DWORDLONG = uint64_t;
using LONG_PTR = intptr_t;
using ULONG_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using SIZE_T = size_t;
using HANDLE = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using PLONG = LONG*;
using LPDWORD = DWORD*;
using WCHAR = char16_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using BSTR = OLECHAR*;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using LCID = DWORD;
using DISPID = LONG;
using SNB = OLECHAR**;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
};
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");
using IID = GUID;
using CLSID = GUID;
using LPGUID = GUID*;
using LPCLSID = CLSID*;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline constexpr bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
};

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SIZE {
  LONG cx;
  LONG cy;
};

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

struct STATSTG {
  LPOLESTR pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
};

struct BIND_OPTS {
  DWORD cbStruct;
  DWORD grfFlags;
  DWORD grfMode;
  DWORD dwTickCountDeadline;
};

struct IUnknown;

// Enough of VARIANT for strings, integers and interfaces.
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_UNKNOWN = 13,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    ULONGLONG ullVal;
    LONG lVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    SHORT iVal;
    USHORT uiVal;
    BYTE bVal;
    VARIANT_BOOL boolVal;
    BSTR bstrVal;
    IUnknown* punkVal;
  };
};

struct EXCEPINFO;
struct DISPPARAMS;
struct ITypeInfo;

// Class contexts, apartment models and registration flags.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
inline constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;
inline constexpr DWORD ROTFLAGS_REGISTRATIONKEEPSALIVE = 0x1;
inline constexpr DWORD ROTFLAGS_ALLOWANYCLIENT = 0x2;

inline constexpr DWORD STGM_DIRECT = 0x00000000;
inline constexpr DWORD STGM_TRANSACTED = 0x00010000;
inline constexpr DWORD STGM_SIMPLE = 0x08000000;
inline constexpr DWORD STGM_READ = 0x00000000;
inline constexpr DWORD STGM_WRITE = 0x00000001;
inline constexpr DWORD STGM_READWRITE = 0x00000002;
inline constexpr DWORD STGM_SHARE_DENY_NONE = 0x00000040;
inline constexpr DWORD STGM_SHARE_DENY_READ = 0x00000030;
inline constexpr DWORD STGM_SHARE_DENY_WRITE = 0x00000020;
inline constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x00000010;
inline constexpr DWORD STGM_PRIORITY = 0x00040000;
inline constexpr DWORD STGM_DELETEONRELEASE = 0x04000000;
inline constexpr DWORD STGM_NOSCRATCH = 0x00100000;
inline constexpr DWORD STGM_CREATE = 0x00001000;
inline constexpr DWORD STGM_CONVERT = 0x00020000;
inline constexpr DWORD STGM_FAILIFTHERE = 0x00000000;
inline constexpr DWORD STGM_NOSNAPSHOT = 0x00200000;
inline constexpr DWORD STGM_DIRECT_SWMR = 0x00400000;

// ---- Base interfaces, each in the method order of the Windows headers. ----

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                   void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};

struct ISequentialStream : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};

struct IStream : ISequentialStream {
  virtual HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                                         ULARGE_INTEGER* plibNewPosition) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE CopyTo(IStream* pstm, ULARGE_INTEGER cb,
                                           ULARGE_INTEGER* pcbRead,
                                           ULARGE_INTEGER* pcbWritten) = 0;
  virtual HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Revert() = 0;
  virtual HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                               DWORD dwLockType) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                                 DWORD dwLockType) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) = 0;
};

struct IEnumSTATSTG;

struct IStorage : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateStream(const OLECHAR* pwcsName, DWORD grfMode,
                                                 DWORD reserved1, DWORD reserved2,
                                                 IStream** ppstm) = 0;
  virtual HRESULT STDMETHODCALLTYPE OpenStream(const OLECHAR* pwcsName, void* reserved1,
                                               DWORD grfMode, DWORD reserved2,
                                               IStream** ppstm) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateStorage(const OLECHAR* pwcsName, DWORD grfMode,
                                                  DWORD reserved1, DWORD reserved2,
                                                  IStorage** ppstg) = 0;
  virtual HRESULT STDMETHODCALLTYPE OpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority,
                                                DWORD grfMode, SNB snbExclude, DWORD reserved,
                                                IStorage** ppstg) = 0;
  virtual HRESULT STDMETHODCALLTYPE CopyTo(DWORD ciidExclude, const IID* rgiidExclude,
                                           SNB snbExclude, IStorage* pstgDest) = 0;
  virtual HRESULT STDMETHODCALLTYPE MoveElementTo(const OLECHAR* pwcsName, IStorage* pstgDest,
                                                  const OLECHAR* pwcsNewName,
                                                  DWORD grfFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Revert() = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumElements(DWORD reserved1, void* reserved2,
                                                 DWORD reserved3, IEnumSTATSTG** ppenum) = 0;
  virtual HRESULT STDMETHODCALLTYPE DestroyElement(const OLECHAR* pwcsName) = 0;
  virtual HRESULT STDMETHODCALLTYPE RenameElement(const OLECHAR* pwcsOldName,
                                                  const OLECHAR* pwcsNewName) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetElementTimes(const OLECHAR* pwcsName,
                                                    const FILETIME* pctime,
                                                    const FILETIME* patime,
                                                    const FILETIME* pmtime) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetClass(REFCLSID clsid) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStateBits(DWORD grfStateBits, DWORD grfMask) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
};

struct IPersist : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) = 0;
};

struct IPersistStream : IPersist {
  virtual HRESULT STDMETHODCALLTYPE IsDirty() = 0;
  virtual HRESULT STDMETHODCALLTYPE Load(IStream* pStm) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(IStream* pStm, BOOL fClearDirty) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* pcbSize) = 0;
};

struct IEnumString : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppenum) = 0;
};

struct IMoniker;
struct IRunningObjectTable;

struct IBindCtx : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE RegisterObjectBound(IUnknown* punk) = 0;
  virtual HRESULT STDMETHODCALLTYPE RevokeObjectBound(IUnknown* punk) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReleaseBoundObjects() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBindOptions(BIND_OPTS* pbindopts) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBindOptions(BIND_OPTS* pbindopts) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRunningObjectTable(IRunningObjectTable** pprot) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterObjectParam(LPOLESTR pszKey, IUnknown* punk) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetObjectParam(LPOLESTR pszKey, IUnknown** ppunk) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumObjectParam(IEnumString** ppenum) = 0;
  virtual HRESULT STDMETHODCALLTYPE RevokeObjectParam(LPOLESTR pszKey) = 0;
};

struct IEnumMoniker : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker** ppenum) = 0;
};

struct IMoniker : IPersistStream {
  virtual HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx* pbc, IMoniker* pmkToLeft,
                                                 REFIID riidResult, void** ppvResult) = 0;
  virtual HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx* pbc, IMoniker* pmkToLeft,
                                                  REFIID riid, void** ppvObj) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reduce(IBindCtx* pbc, DWORD dwReduceHowFar,
                                           IMoniker** ppmkToLeft, IMoniker** ppmkReduced) = 0;
  virtual HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker* pmkRight, BOOL fOnlyIfNotGeneric,
                                                IMoniker** ppmkComposite) = 0;
  virtual HRESULT STDMETHODCALLTYPE Enum(BOOL fForward, IEnumMoniker** ppenumMoniker) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsEqual(IMoniker* pmkOtherMoniker) = 0;
  virtual HRESULT STDMETHODCALLTYPE Hash(DWORD* pdwHash) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx* pbc, IMoniker* pmkToLeft,
                                              IMoniker* pmkNewlyRunning) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx* pbc, IMoniker* pmkToLeft,
                                                        FILETIME* pFileTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE Inverse(IMoniker** ppmk) = 0;
  virtual HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker* pmkOther,
                                                     IMoniker** ppmkPrefix) = 0;
  virtual HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker* pmkOther,
                                                   IMoniker** ppmkRelPath) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx* pbc, IMoniker* pmkToLeft,
                                                   LPOLESTR* ppszDisplayName) = 0;
  virtual HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx* pbc, IMoniker* pmkToLeft,
                                                     LPOLESTR pszDisplayName, ULONG* pchEaten,
                                                     IMoniker** ppmkOut) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD* pdwMksys) = 0;
};

struct IRunningObjectTable : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Register(DWORD grfFlags, IUnknown* punkObject,
                                             IMoniker* pmkObjectName, DWORD* pdwRegister) = 0;
  virtual HRESULT STDMETHODCALLTYPE Revoke(DWORD dwRegister) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsRunning(IMoniker* pmkObjectName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetObject(IMoniker* pmkObjectName,
                                              IUnknown** ppunkObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE NoteChangeTime(DWORD dwRegister, FILETIME* pfiletime) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IMoniker* pmkObjectName,
                                                        FILETIME* pfiletime) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumRunning(IEnumMoniker** ppenumMoniker) = 0;
};

// Minimal automation: enough for the vtables of the dual DirectShow interfaces.
struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid,
                                                ITypeInfo** ppTInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                  LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid,
                                           WORD wFlags, DISPPARAMS* pDispParams,
                                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                           UINT* puArgErr) = 0;
};

struct IErrorLog : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddError(LPCOLESTR pszPropName, EXCEPINFO* pExcepInfo) = 0;
};

struct IPropertyBag : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Read(LPCOLESTR pszPropName, VARIANT* pVar,
                                         IErrorLog* pErrorLog) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(LPCOLESTR pszPropName, VARIANT* pVar) = 0;
};

struct IPersistPropertyBag : IPersist {
  virtual HRESULT STDMETHODCALLTYPE InitNew() = 0;
  virtual HRESULT STDMETHODCALLTYPE Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(IPropertyBag* pPropBag, BOOL fClearDirty,
                                         BOOL fSaveAllProperties) = 0;
};

// ---- The COM runtime of this process (libkmedia). ----
// Each behaves as its Windows namesake; differences are noted.

extern "C" {

// Apartments are counted per thread; S_FALSE when the thread was already initialised with
// the same model, RPC_E_CHANGED_MODE for another model.
HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();

// The built-in classes first, then HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 in the
// registry file: the module (a Windows file name or an absolute path) and its
// DllGetClassObject. REGDB_E_CLASSNOTREG for an unknown class, CO_E_DLLNOTFOUND when the
// module cannot be loaded, CO_E_ERRORINDLL when it has no DllGetClassObject,
// CO_E_NOTINITIALIZED on a thread without CoInitialize(Ex). Only in-process contexts serve.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid,
                         LPVOID* ppv);

LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; CO_E_CLASSSTRING when malformed.
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
// Writes the braced form (39 characters with the terminator); 0 when cchMax is too small.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

// The process-wide running object table.
HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** pprot);
HRESULT CreateItemMoniker(LPCOLESTR lpszDelim, LPCOLESTR lpszItem, IMoniker** ppmk);

BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

// Structured storage (compound files) is not offered on Linux: both answer
// STG_E_UNIMPLEMENTEDFUNCTION and leave *ppstgOpen null.
HRESULT StgCreateDocfile(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved, IStorage** ppstgOpen);
HRESULT StgOpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude,
                       DWORD reserved, IStorage** ppstgOpen);

// Sets vt to VT_EMPTY and leaves the rest of the variant as it was, as on Windows.
void VariantInit(VARIANT* pvarg);
// Frees a string, releases an interface; the variant becomes VT_EMPTY.
HRESULT VariantClear(VARIANT* pvarg);
HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);

}  // extern "C"
