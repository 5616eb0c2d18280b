// PNG, JPEG and GIF decoded with their libraries into Leptonica pictures, with the budgets that
// Leptonica's own readers lack: no text or other ancillary PNG chunk inflated, a cap on progressive
// JPEG scans, only the first frame of a GIF decoded, and the EXIF orientation of a JPEG read.
#pragma once

#include "service/picture.h"

#include <cstdint>
#include <string_view>

namespace quillore::service {

// Progressive JPEGs from common encoders have about ten scans; each scan revisits the whole picture,
// so a file that repeats one scan keeps a worker busy for as long as its author likes.
inline constexpr int kMaxJpegScans = 40;

// Extension blocks before a GIF's first frame beyond this many mark a hostile file.
inline constexpr int kMaxGifRecordsBeforeFrame = 4096;

// Each returns the picture, or null with `error` set (Undecodable, TooManyPixels). `maxPixels` is
// checked against the header's size before any pixel is allocated.
PixPtr DecodePngPix(std::string_view bytes, std::int64_t maxPixels, PictureError& error);
// `orientation` receives the EXIF orientation (1 to 8, 1 when there is none).
PixPtr DecodeJpegPix(std::string_view bytes, std::int64_t maxPixels, PictureError& error, int& orientation);
// The first frame on the logical screen; parts it does not cover, and its transparent colour, white.
PixPtr DecodeGifPix(std::string_view bytes, std::int64_t maxPixels, PictureError& error);

// The orientation tag of an EXIF block (the TIFF structure after "Exif\0\0"), 1 when absent or damaged.
int ExifOrientation(std::string_view tiff);

// The picture turned and mirrored as an EXIF orientation says, so that it stands upright.
PixPtr ApplyOrientation(PixPtr pix, int orientation);

} // namespace quillore::service
