// The effects of the sample client, applied in place to one message as the video plug-in
// sends it: the 40-byte BITMAPINFOHEADER followed by the frame's packed YUY2 pixels
// (Y0 U Y1 V per two pixels, rows of ((16 * width + 31) / 32) * 4 bytes).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace oruclient {

enum class Effect {
  kNone,    // leaves the frame as it is
  kInvert,  // every pixel byte b becomes 255 - b, luma and chroma: a photographic negative
  kMirror,  // each row reversed left to right
  kGrey,    // both chroma bytes of every pixel pair set to 128, the luma kept
};

// "none", "invert", "mirror", "grey"; nothing for any other text.
std::optional<Effect> ParseEffect(std::string_view name);
const char* EffectName(Effect effect);

// Applies `effect` to the message of `length` bytes at `message`. Only a YUY2 frame
// (compression 'YUY2', 16 bits per pixel) is changed, and only within both the message and
// the header's biSizeImage, so a message cut short by the channel's capacity or a header
// that claims more than it carries is never written past. Invert and grey work on every
// whole pixel pair there; mirror on every whole row. The header is never changed.
void ApplyEffect(Effect effect, uint8_t* message, uint32_t length);

}  // namespace oruclient
