// The synthetic camera's tuner input pin.
#pragma once

#include "outside/filters/filter_kit.h"

namespace filters {

// kTunerNoSignal, by value (the Linux names of the media layer lack it).
constexpr LONG kTunerNoSignal = 0;

// An input pin that a tuner camera has: it takes no connection and answers IAMTVTuner,
// keeping what it is told.
class TunerPin : public KitPin, public IAMTVTuner {
 public:
  explicit TunerPin(KitFilter* filter) : KitPin(filter, PINDIR_INPUT, OLESTR("Analog Video In")) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return KitPin::QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return KitPin::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return KitPin::Release(); }
  void* FindExtra(REFIID riid) override {
    if (riid == IID_IAMTVTuner || riid == IID_IAMTuner) return static_cast<IAMTVTuner*>(this);
    return KitPin::FindExtra(riid);
  }
  HRESULT CheckMediaType(const AM_MEDIA_TYPE&) override { return VFW_E_TYPE_NOT_ACCEPTED; }

  // IAMTuner
  HRESULT STDMETHODCALLTYPE put_Channel(LONG channel, LONG video, LONG audio) override {
    if (channel < kMinChannel || channel > kMaxChannel) return E_INVALIDARG;
    channel_ = channel;
    video_ = video;
    audio_ = audio;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Channel(LONG* channel, LONG* video, LONG* audio) override {
    if (!channel || !video || !audio) return E_POINTER;
    *channel = channel_;
    *video = video_;
    *audio = audio_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ChannelMinMax(LONG* min, LONG* max) override {
    if (!min || !max) return E_POINTER;
    *min = kMinChannel;
    *max = kMaxChannel;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_CountryCode(LONG country) override {
    country_ = country;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CountryCode(LONG* country) override {
    if (!country) return E_POINTER;
    *country = country_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_TuningSpace(LONG space) override {
    space_ = space;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_TuningSpace(LONG* space) override {
    if (!space) return E_POINTER;
    *space = space_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Logon(HANDLE) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Logout() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SignalPresent(LONG* strength) override {
    if (!strength) return E_POINTER;
    *strength = kTunerNoSignal;  // no antenna on a synthetic device
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Mode(AMTunerModeType mode) override {
    if (mode != AMTUNER_MODE_TV) return E_INVALIDARG;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Mode(AMTunerModeType* mode) override {
    if (!mode) return E_POINTER;
    *mode = AMTUNER_MODE_TV;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAvailableModes(LONG* modes) override {
    if (!modes) return E_POINTER;
    *modes = AMTUNER_MODE_TV;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RegisterNotificationCallBack(IAMTunerNotification*, LONG) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnRegisterNotificationCallBack(IAMTunerNotification*) override {
    return E_NOTIMPL;
  }
  // IAMTVTuner
  HRESULT STDMETHODCALLTYPE get_AvailableTVFormats(LONG* standard) override {
    if (!standard) return E_POINTER;
    *standard = kNtscM;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_TVFormat(LONG* standard) override { return get_AvailableTVFormats(standard); }
  HRESULT STDMETHODCALLTYPE AutoTune(LONG channel, LONG* signal) override {
    if (!signal) return E_POINTER;
    const HRESULT hr = put_Channel(channel, video_, audio_);
    *signal = kTunerNoSignal;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE StoreAutoTune() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_NumInputConnections(LONG* number) override {
    if (!number) return E_POINTER;
    *number = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_InputType(LONG index, TunerInputType type) override {
    if (index != 0) return E_INVALIDARG;
    inputType_ = type;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_InputType(LONG index, TunerInputType* type) override {
    if (!type) return E_POINTER;
    if (index != 0) return E_INVALIDARG;
    *type = inputType_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ConnectInput(LONG index) override { return index == 0 ? S_OK : E_INVALIDARG; }
  HRESULT STDMETHODCALLTYPE get_ConnectInput(LONG* index) override {
    if (!index) return E_POINTER;
    *index = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_VideoFrequency(LONG* frequency) override {
    if (!frequency) return E_POINTER;
    *frequency = 55250000 + (channel_ - kMinChannel) * 6000000;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_AudioFrequency(LONG* frequency) override {
    if (!frequency) return E_POINTER;
    *frequency = 59750000 + (channel_ - kMinChannel) * 6000000;
    return S_OK;
  }

 private:
  static constexpr LONG kMinChannel = 2, kMaxChannel = 69;
  static constexpr LONG kNtscM = 0x00000001;  // AnalogVideo_NTSC_M
  LONG channel_ = kMinChannel, video_ = 0, audio_ = 0, country_ = 1, space_ = 0;
  TunerInputType inputType_ = TunerInputCable;
};

}  // namespace filters
