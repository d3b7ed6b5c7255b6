// What kestrel-host sees of each frame the virtual-camera stand-in delivers.
#include "outside/host/stand_in_controls.h"

#include "outside/filters/test_pattern.h"
#include "pixel/frame_format.h"

void OnFrame(const BitmapInfoHeader* header, const uint8_t* pixels, uint32_t size, int64_t arrivalNs,
             void* context) {
  auto* d = static_cast<Deliveries*>(context);
  if (!header || !pixels) return;
  const uint32_t w = static_cast<uint32_t>(header->biWidth);
  const uint32_t h = static_cast<uint32_t>(header->biHeight < 0 ? -header->biHeight : header->biHeight);
  const uint32_t stride = DibStride(w, 16);
  // The camera's frame number, read from the picture, gives the time it left the camera.
  uint32_t sw = 0, sh = 0;
  uint64_t latest = 0, number = 0;
  int64_t sentNs = 0;
  bool read = false, stamped = false;
  if (d->camera && static_cast<uint64_t>(stride) * h <= size &&
      d->camera->frameSent(UINT64_MAX, &latest, &sentNs, &sw, &sh) == 1) {
    read = filters::ReadFrameNumber(pixels, w, h, stride, sw, sh, &number);
    stamped = read && d->camera->frameSent(number, nullptr, &sentNs, nullptr, nullptr) == 1;
  }
  std::lock_guard<std::mutex> g(d->lock);
  const uint64_t index = d->count++;
  d->width = w;
  d->height = h;
  if (stamped) {
    d->window.push_back(arrivalNs - sentNs);
    d->all.push_back(arrivalNs - sentNs);
  }
  if (read) {
    if (d->haveNumber && number == d->lastNumber) ++d->repeated;
    if (!d->haveNumber) d->firstNumber = number;
    d->haveNumber = true;
    d->lastNumber = number;
  } else {
    ++d->unreadable;
  }
  if (d->framesLog) {
    std::fprintf(d->framesLog, "%llu %lld %.3f %.3f\n", static_cast<unsigned long long>(index),
                 read ? static_cast<long long>(number) : -1LL, static_cast<double>(arrivalNs - d->startNs) / 1e6,
                 stamped ? static_cast<double>(arrivalNs - sentNs) / 1e6 : -1.0);
  }
}
