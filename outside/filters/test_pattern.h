// The synthetic camera's picture: colour bars over a grey ramp, a box moving with the frame
// number, and the frame number in digits; and its layout in every subtype the camera offers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace media {
class JpegEncoder;
}

namespace filters {

enum class Subtype : uint8_t { YUY2, YVYU, UYVY, VYUY, YUYV, I420, IYUV, YV12, RGB24, RGB32, MJPG };

inline constexpr Subtype kAllSubtypes[] = {Subtype::YUY2, Subtype::YVYU, Subtype::UYVY,
                                           Subtype::VYUY, Subtype::YUYV, Subtype::I420,
                                           Subtype::IYUV, Subtype::YV12, Subtype::RGB24,
                                           Subtype::RGB32, Subtype::MJPG};

// "YUY2", "RGB24", ...; ParseSubtype is case-insensitive and false for an unknown name.
const char* SubtypeName(Subtype subtype);
bool ParseSubtype(const char* text, size_t length, Subtype* out);

// biCompression (a FOURCC, or 0 for RGB) and biBitCount of the subtype.
uint32_t SubtypeCompression(Subtype subtype);
uint16_t SubtypeBitCount(Subtype subtype);

// Bytes of one uncompressed frame (biSizeImage); for MJPG the largest frame the camera
// sends at this size, which is the YUY2 size.
uint32_t FrameBytes(Subtype subtype, uint32_t width, uint32_t height);

// Draws frame `frameNumber` as top-down B G R X rows of `width` x `height`.
void DrawPattern(uint8_t* bgrx, uint32_t width, uint32_t height, uint64_t frameNumber);

// Reads the frame number the camera drew into a top-down YUY2 picture of `width` x `height`
// (`stride` bytes a row) made from a `sourceWidth` x `sourceHeight` camera frame, scaled to
// fit, possibly with its bytes inverted or mirrored left to right on the way. False when no
// number can be read.
bool ReadFrameNumber(const uint8_t* yuy2, uint32_t width, uint32_t height, uint32_t stride,
                     uint32_t sourceWidth, uint32_t sourceHeight, uint64_t* number);

// Writes the drawn picture in `subtype`'s layout (RGB bottom-up, planes in the subtype's
// order, MJPG encoded with `encoder`) into `out` of `capacity` bytes. Answers the bytes
// written, 0 when it does not fit or the encoder fails.
uint32_t WriteFrame(Subtype subtype, const uint8_t* bgrx, uint32_t width, uint32_t height,
                    media::JpegEncoder* encoder, uint8_t* out, uint32_t capacity);

}  // namespace filters
