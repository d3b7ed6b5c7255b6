// Small pin and filter walks shared by the graph manager and the capture graph builder.
#pragma once

#include <vector>

#include "media/com_ptr.h"
#include "media/dshow.h"
#include "media/media_type.h"

namespace media {

// Every pin of `filter` in its enumeration order; empty when it cannot be enumerated.
inline std::vector<ComPtr<IPin>> FilterPins(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> pinEnum;
  if (!filter || FAILED(filter->EnumPins(pinEnum.put())) || !pinEnum) return pins;
  pinEnum->Reset();
  for (;;) {
    ComPtr<IPin> pin;
    ULONG fetched = 0;
    if (pinEnum->Next(1, pin.put(), &fetched) != S_OK || fetched != 1 || !pin) break;
    pins.push_back(std::move(pin));
  }
  return pins;
}

// The pin's direction; false when it does not say.
inline bool PinDirection(IPin* pin, PIN_DIRECTION* dir) {
  return pin && SUCCEEDED(pin->QueryDirection(dir));
}

// The filter a pin belongs to (a new reference), or empty.
inline ComPtr<IBaseFilter> PinOwner(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info))) return {};
  return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

// The pin this one is connected to, or empty.
inline ComPtr<IPin> ConnectedPeer(IPin* pin) {
  ComPtr<IPin> peer;
  if (!pin || FAILED(pin->ConnectedTo(peer.put()))) return {};
  return peer;
}

}  // namespace media
