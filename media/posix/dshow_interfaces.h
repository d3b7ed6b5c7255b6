// DirectShow on Linux: the records and interfaces of strmif.h, control.h, amvideo.h and
// dvdmedia.h with the same names, layouts and method order.
#pragma once

#include "media/posix/com_base.h"

using REFERENCE_TIME = LONGLONG;
using HEVENT = DWORD_PTR;
using HSEMAPHORE = DWORD_PTR;
using OAFilterState = LONG;
using OAEVENT = LONG_PTR;
using OAHWND = LONG_PTR;

using BITMAPINFOHEADER = BitmapInfoHeader;
using PBITMAPINFOHEADER = BITMAPINFOHEADER*;
using LPBITMAPINFOHEADER = BITMAPINFOHEADER*;
inline constexpr DWORD BI_RGB = 0;

struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

inline constexpr int MAX_PIN_NAME = 128;
inline constexpr int MAX_FILTER_NAME = 128;

struct IBaseFilter;
struct IFilterGraph;

struct PIN_INFO {
  IBaseFilter* pFilter;
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;
};

struct ALLOCATOR_PROPERTIES {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
};

// GetBuffer flags.
inline constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
inline constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
inline constexpr DWORD AM_GBF_NOWAIT = 4;
inline constexpr DWORD AM_GBF_NODDSURFACELOCK = 8;

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};

struct VIDEOINFOHEADER2 {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  DWORD dwInterlaceFlags;
  DWORD dwCopyProtectFlags;
  DWORD dwPictAspectRatioX;
  DWORD dwPictAspectRatioY;
  union {
    DWORD dwControlFlags;
    DWORD dwReserved1;
  };
  DWORD dwReserved2;
  BITMAPINFOHEADER bmiHeader;
};

struct VIDEO_STREAM_CONFIG_CAPS {
  GUID guid;
  ULONG VideoStandard;
  SIZE InputSize;
  SIZE MinCroppingSize;
  SIZE MaxCroppingSize;
  int CropGranularityX;
  int CropGranularityY;
  int CropAlignX;
  int CropAlignY;
  SIZE MinOutputSize;
  SIZE MaxOutputSize;
  int OutputGranularityX;
  int OutputGranularityY;
  int StretchTapsX;
  int StretchTapsY;
  int ShrinkTapsX;
  int ShrinkTapsY;
  LONGLONG MinFrameInterval;
  LONGLONG MaxFrameInterval;
  LONG MinBitsPerSecond;
  LONG MaxBitsPerSecond;
};

enum AMPROPERTY_PIN { AMPROPERTY_PIN_CATEGORY = 0, AMPROPERTY_PIN_MEDIUM = 1 };
inline constexpr DWORD KSPROPERTY_SUPPORT_GET = 1;
inline constexpr DWORD KSPROPERTY_SUPPORT_SET = 2;

enum AMTunerModeType {
  AMTUNER_MODE_DEFAULT = 0,
  AMTUNER_MODE_TV = 0x1,
  AMTUNER_MODE_FM_RADIO = 0x2,
  AMTUNER_MODE_AM_RADIO = 0x4,
  AMTUNER_MODE_DSS = 0x8
};
enum TunerInputType { TunerInputCable = 0, TunerInputAntenna = 1 };

// Filter graph event codes.
inline constexpr LONG EC_SYSTEMBASE = 0x00;
inline constexpr LONG EC_USER = 0x8000;
inline constexpr LONG EC_COMPLETE = 0x01;
inline constexpr LONG EC_USERABORT = 0x02;
inline constexpr LONG EC_ERRORABORT = 0x03;
inline constexpr LONG EC_TIME = 0x04;
inline constexpr LONG EC_REPAINT = 0x05;
inline constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
inline constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
inline constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
inline constexpr LONG EC_PALETTE_CHANGED = 0x09;
inline constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;
inline constexpr LONG EC_QUALITY_CHANGE = 0x0B;
inline constexpr LONG EC_SHUTTING_DOWN = 0x0C;
inline constexpr LONG EC_CLOCK_CHANGED = 0x0D;
inline constexpr LONG EC_PAUSED = 0x0E;
inline constexpr LONG EC_OPENING_FILE = 0x10;
inline constexpr LONG EC_BUFFERING_DATA = 0x11;
inline constexpr LONG EC_FULLSCREEN_LOST = 0x12;
inline constexpr LONG EC_ACTIVATE = 0x13;
inline constexpr LONG EC_NEED_RESTART = 0x14;
inline constexpr LONG EC_WINDOW_DESTROYED = 0x15;
inline constexpr LONG EC_DISPLAY_CHANGED = 0x16;
inline constexpr LONG EC_STARVATION = 0x17;
inline constexpr LONG EC_OLE_EVENT = 0x18;
inline constexpr LONG EC_NOTIFY_WINDOW = 0x19;
inline constexpr LONG EC_STREAM_CONTROL_STOPPED = 0x1A;
inline constexpr LONG EC_STREAM_CONTROL_STARTED = 0x1B;
inline constexpr LONG EC_END_OF_SEGMENT = 0x1C;
inline constexpr LONG EC_SEGMENT_STARTED = 0x1D;
inline constexpr LONG EC_LENGTH_CHANGED = 0x1E;
inline constexpr LONG EC_DEVICE_LOST = 0x1F;
inline constexpr LONG EC_STEP_COMPLETE = 0x24;
inline constexpr LONG EC_TIMECODE_AVAILABLE = 0x30;
inline constexpr LONG EC_EXTDEVICE_MODE_CHANGE = 0x31;
inline constexpr LONG EC_STATE_CHANGE = 0x32;
inline constexpr LONG EC_ERRORABORTEX = 0x45;
inline constexpr LONG EC_GRAPH_CHANGED = 0x50;
inline constexpr LONG EC_CLOCK_UNSET = 0x51;

// ---- Interfaces, in the method order of strmif.h and control.h. ----

struct IPin;
struct IEnumPins;
struct IEnumMediaTypes;
struct IEnumFilters;
struct IMediaSample;
struct IMemAllocator;
struct IReferenceClock;
struct IFileSinkFilter;
struct IAMCopyCaptureFileProgress;
struct IAMTunerNotification;

struct IEnumFilters : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cFilters, IBaseFilter** ppFilter,
                                         ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cFilters) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** ppEnum) = 0;
};

struct IEnumPins : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cPins) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumPins** ppEnum) = 0;
};

struct IEnumMediaTypes : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes,
                                         ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cMediaTypes) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** ppEnum) = 0;
};

struct IReferenceClock : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME baseTime,
                                               REFERENCE_TIME streamTime, HEVENT hEvent,
                                               DWORD_PTR* pdwAdviseCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME startTime,
                                                   REFERENCE_TIME periodTime,
                                                   HSEMAPHORE hSemaphore,
                                                   DWORD_PTR* pdwAdviseCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR dwAdviseCookie) = 0;
};

struct IMediaFilter : IPersist {
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
  virtual HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* pClock) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** pClock) = 0;
};

struct IBaseFilter : IMediaFilter {
  virtual HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR Id, IPin** ppPin) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* pInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* pVendorInfo) = 0;
};

struct IPin : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* pConnector,
                                                      const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
  virtual HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pPin) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* pInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* pPinDir) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* Id) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** apPin, ULONG* nPin) = 0;
  virtual HRESULT STDMETHODCALLTYPE EndOfStream() = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginFlush() = 0;
  virtual HRESULT STDMETHODCALLTYPE EndFlush() = 0;
  virtual HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                               double dRate) = 0;
};

struct IMediaSample : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPointer(BYTE** ppBuffer) = 0;
  virtual LONG STDMETHODCALLTYPE GetSize() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTimeStart,
                                            REFERENCE_TIME* pTimeEnd) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* pTimeStart,
                                            REFERENCE_TIME* pTimeEnd) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsSyncPoint() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL bIsSyncPoint) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPreroll() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPreroll(BOOL bIsPreroll) = 0;
  virtual LONG STDMETHODCALLTYPE GetActualDataLength() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** ppMediaType) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* pMediaType) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsDiscontinuity() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL bDiscontinuity) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
};

struct IMemAllocator : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                                  ALLOCATOR_PROPERTIES* pActual) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* pProps) = 0;
  virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
  virtual HRESULT STDMETHODCALLTYPE Decommit() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** ppBuffer,
                                              REFERENCE_TIME* pStartTime,
                                              REFERENCE_TIME* pEndTime, DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* pBuffer) = 0;
};

struct IMemInputPin : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** ppAllocator) = 0;
  virtual HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* pAllocator,
                                                    BOOL bReadOnly) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) = 0;
  virtual HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                                    LONG* nSamplesProcessed) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReceiveCanBlock() = 0;
};

struct IFilterGraph : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* pFilter, LPCWSTR pName) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* pFilter) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* ppinOut, IPin* ppinIn,
                                                  const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reconnect(IPin* ppin) = 0;
  virtual HRESULT STDMETHODCALLTYPE Disconnect(IPin* ppin) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() = 0;
};

struct IGraphBuilder : IFilterGraph {
  virtual HRESULT STDMETHODCALLTYPE Connect(IPin* ppinOut, IPin* ppinIn) = 0;
  virtual HRESULT STDMETHODCALLTYPE Render(IPin* ppinOut) = 0;
  virtual HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR lpcwstrFileName,
                                                    LPCWSTR lpcwstrFilterName,
                                                    IBaseFilter** ppFilter) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR hFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
  virtual HRESULT STDMETHODCALLTYPE ShouldOperationContinue() = 0;
};

struct ICaptureGraphBuilder2 : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* pfg) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder** ppfg) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID* pType, LPCOLESTR lpstrFile,
                                                      IBaseFilter** ppf,
                                                      IFileSinkFilter** ppSink) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindInterface(const GUID* pCategory, const GUID* pType,
                                                  IBaseFilter* pf, REFIID riid,
                                                  void** ppint) = 0;
  virtual HRESULT STDMETHODCALLTYPE RenderStream(const GUID* pCategory, const GUID* pType,
                                                 IUnknown* pSource, IBaseFilter* pfCompressor,
                                                 IBaseFilter* pfRenderer) = 0;
  virtual HRESULT STDMETHODCALLTYPE ControlStream(const GUID* pCategory, const GUID* pType,
                                                  IBaseFilter* pFilter, REFERENCE_TIME* pstart,
                                                  REFERENCE_TIME* pstop, WORD wStartCookie,
                                                  WORD wStopCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR lpstr, DWORDLONG dwlSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR lpwstrOld, LPOLESTR lpwstrNew,
                                                    int fAllowEscAbort,
                                                    IAMCopyCaptureFileProgress* pCallback) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPin(IUnknown* pSource, PIN_DIRECTION pindir,
                                            const GUID* pCategory, const GUID* pType,
                                            BOOL fUnconnected, int num, IPin** ppPin) = 0;
};

struct IMediaEventSink : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Notify(LONG EventCode, LONG_PTR EventParam1,
                                           LONG_PTR EventParam2) = 0;
};

struct ICreateDevEnum : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID clsidDeviceClass,
                                                          IEnumMoniker** ppEnumMoniker,
                                                          DWORD dwFlags) = 0;
};

struct IAMStreamConfig : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* piCount, int* piSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamCaps(int iIndex, AM_MEDIA_TYPE** pmt,
                                                  BYTE* pSCC) = 0;
};

struct IKsPropertySet : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Set(REFGUID guidPropSet, DWORD dwPropID,
                                        LPVOID pInstanceData, DWORD cbInstanceData,
                                        LPVOID pPropData, DWORD cbPropData) = 0;
  virtual HRESULT STDMETHODCALLTYPE Get(REFGUID guidPropSet, DWORD dwPropID,
                                        LPVOID pInstanceData, DWORD cbInstanceData,
                                        LPVOID pPropData, DWORD cbPropData,
                                        DWORD* pcbReturned) = 0;
  virtual HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID guidPropSet, DWORD dwPropID,
                                                   DWORD* pTypeSupport) = 0;
};

struct IKsObject : IUnknown {
  virtual HANDLE STDMETHODCALLTYPE KsGetObjectHandle() = 0;
};

struct IAMTuner : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE put_Channel(LONG lChannel, LONG lVideoSubChannel,
                                                LONG lAudioSubChannel) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Channel(LONG* plChannel, LONG* plVideoSubChannel,
                                                LONG* plAudioSubChannel) = 0;
  virtual HRESULT STDMETHODCALLTYPE ChannelMinMax(LONG* lChannelMin, LONG* lChannelMax) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_CountryCode(LONG lCountryCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CountryCode(LONG* plCountryCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_TuningSpace(LONG lTuningSpace) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_TuningSpace(LONG* plTuningSpace) = 0;
  virtual HRESULT STDMETHODCALLTYPE Logon(HANDLE hCurrentUser) = 0;
  virtual HRESULT STDMETHODCALLTYPE Logout() = 0;
  virtual HRESULT STDMETHODCALLTYPE SignalPresent(LONG* plSignalStrength) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Mode(AMTunerModeType lMode) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Mode(AMTunerModeType* plMode) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAvailableModes(LONG* plModes) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterNotificationCallBack(IAMTunerNotification* pNotify,
                                                                 LONG lEvents) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnRegisterNotificationCallBack(
      IAMTunerNotification* pNotify) = 0;
};

struct IAMTVTuner : IAMTuner {
  virtual HRESULT STDMETHODCALLTYPE get_AvailableTVFormats(LONG* lAnalogVideoStandard) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_TVFormat(LONG* plAnalogVideoStandard) = 0;
  virtual HRESULT STDMETHODCALLTYPE AutoTune(LONG lChannel, LONG* plFoundSignal) = 0;
  virtual HRESULT STDMETHODCALLTYPE StoreAutoTune() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NumInputConnections(LONG* plNumInputConnections) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_InputType(LONG lIndex, TunerInputType InputType) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_InputType(LONG lIndex, TunerInputType* pInputType) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ConnectInput(LONG lIndex) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ConnectInput(LONG* plIndex) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_VideoFrequency(LONG* lFreq) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AudioFrequency(LONG* lFreq) = 0;
};

struct IMediaControl : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Run() = 0;
  virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* pfs) = 0;
  virtual HRESULT STDMETHODCALLTYPE RenderFile(BSTR strFilename) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR strFilename, IDispatch** ppUnk) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch** ppUnk) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch** ppUnk) = 0;
  virtual HRESULT STDMETHODCALLTYPE StopWhenReady() = 0;
};

struct IMediaEvent : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* hEvent) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEvent(LONG* lEventCode, LONG_PTR* lParam1,
                                             LONG_PTR* lParam2, LONG msTimeout) = 0;
  virtual HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG msTimeout, LONG* pEvCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG lEvCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG lEvCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE FreeEventParams(LONG lEvCode, LONG_PTR lParam1,
                                                    LONG_PTR lParam2) = 0;
};

struct IMediaEventEx : IMediaEvent {
  virtual HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG lMsg,
                                                    LONG_PTR lInstanceData) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG lNoNotifyFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG* lplNoNotifyFlags) = 0;
};
