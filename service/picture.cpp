#include "service/picture.h"

#include "service/picture_decoders.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace quillore::service {
namespace {

// GIF: the logical screen and the first frame's descriptor, which is all that decoding reads. Walking
// the blocks costs no pixels, unlike Leptonica's header reader, which decodes every frame.
PictureError CheckGifHeader(std::string_view b, std::int64_t maxPixels, PictureSize& size) {
  const auto u8 = [&](std::size_t i) { return static_cast<unsigned char>(b[i]); };
  const auto u16 = [&](std::size_t i) { return u8(i) | (u8(i + 1) << 8); };
  if (b.size() < 13) {
    return PictureError::Undecodable;
  }
  const int screenWidth = u16(6);
  const int screenHeight = u16(8);
  if (static_cast<std::int64_t>(screenWidth) * screenHeight > maxPixels) {
    return PictureError::TooManyPixels;
  }
  std::size_t pos = 13;
  if (u8(10) & 0x80) {
    pos += 3u << ((u8(10) & 7) + 1);
  }
  for (int record = 0; record < kMaxGifRecordsBeforeFrame && pos < b.size(); ++record) {
    const unsigned char kind = u8(pos);
    if (kind == 0x21) {
      pos += 2;
      while (pos < b.size() && u8(pos) != 0) {
        pos += 1 + u8(pos);
      }
      pos += 1;
      continue;
    }
    if (kind != 0x2C || pos + 10 > b.size()) {
      return PictureError::Undecodable; // the end, or something else, before any frame
    }
    const int frameWidth = u16(pos + 5);
    const int frameHeight = u16(pos + 7);
    if (frameWidth <= 0 || frameHeight <= 0) {
      return PictureError::Undecodable;
    }
    if (static_cast<std::int64_t>(frameWidth) * frameHeight > maxPixels) {
      return PictureError::TooManyPixels;
    }
    // As decoding does: a screen of no size takes the frame's.
    const bool useScreen = screenWidth > 0 && screenHeight > 0;
    size = {useScreen ? screenWidth : frameWidth, useScreen ? screenHeight : frameHeight};
    return PictureError::None;
  }
  return PictureError::Undecodable;
}

bool Supported(l_int32 format) {
  return format == IFF_PNG || format == IFF_JFIF_JPEG || format == IFF_BMP || format == IFF_GIF ||
         format == IFF_WEBP || L_FORMAT_IS_TIFF(format);
}

} // namespace

void PixDeleter::operator()(Pix* pix) const noexcept {
  pixDestroy(&pix);
}

const char* PictureErrorMessage(PictureError error) noexcept {
  switch (error) {
  case PictureError::None:
    return "";
  case PictureError::Empty:
    return "the picture is empty";
  case PictureError::UnknownFormat:
    return "the picture is not PNG, JPEG, BMP, GIF, TIFF or WebP";
  case PictureError::Undecodable:
    return "the picture cannot be decoded";
  case PictureError::TooManyPixels:
    return "the picture has more pixels than allowed";
  case PictureError::TooManyScans:
    return "the progressive picture has more scans than allowed";
  }
  return "";
}

PictureError CheckPicture(std::string_view bytes, std::int64_t maxPixels, PictureSize* size) {
  if (bytes.empty()) {
    return PictureError::Empty;
  }
  const auto* data = reinterpret_cast<const l_uint8*>(bytes.data());
  l_int32 format = IFF_UNKNOWN;
  // The format sniffer reads up to 12 bytes.
  if (bytes.size() < 12 || findFileFormatBuffer(data, &format) != 0 || !Supported(format)) {
    return PictureError::UnknownFormat;
  }
  if (format == IFF_GIF) {
    PictureSize gifSize;
    const PictureError header = CheckGifHeader(bytes, maxPixels, gifSize);
    if (header == PictureError::None && size != nullptr) {
      *size = gifSize;
    }
    return header;
  }
  l_int32 w = 0, h = 0, bps = 0, spp = 0, iscmap = 0;
  if (pixReadHeaderMem(data, bytes.size(), &format, &w, &h, &bps, &spp, &iscmap) != 0 || w <= 0 || h <= 0) {
    return PictureError::Undecodable;
  }
  if (static_cast<std::int64_t>(w) * h > maxPixels) {
    return PictureError::TooManyPixels;
  }
  if (size != nullptr) {
    *size = {w, h};
  }
  return PictureError::None;
}

PictureError DecodePicture(std::string_view bytes, std::int64_t maxPixels, PixPtr& out) {
  out.reset();
  const PictureError checked = CheckPicture(bytes, maxPixels);
  if (checked != PictureError::None) {
    return checked;
  }
  // PNG, JPEG and GIF are read by our own code, which keeps to the budgets; Leptonica reads the rest.
  l_int32 format = IFF_UNKNOWN;
  findFileFormatBuffer(reinterpret_cast<const l_uint8*>(bytes.data()), &format);
  PixPtr pix;
  PictureError error = PictureError::Undecodable;
  if (format == IFF_PNG) {
    pix = DecodePngPix(bytes, maxPixels, error);
  } else if (format == IFF_JFIF_JPEG) {
    int orientation = 1;
    pix = DecodeJpegPix(bytes, maxPixels, error, orientation);
    pix = ApplyOrientation(std::move(pix), orientation);
  } else if (format == IFF_GIF) {
    pix = DecodeGifPix(bytes, maxPixels, error);
  } else {
    pix.reset(pixReadMem(reinterpret_cast<const l_uint8*>(bytes.data()), bytes.size()));
  }
  if (!pix) {
    return error != PictureError::None ? error : PictureError::Undecodable;
  }
  const std::int64_t w = pixGetWidth(pix.get());
  const std::int64_t h = pixGetHeight(pix.get());
  if (w <= 0 || h <= 0) {
    return PictureError::Undecodable;
  }
  if (w * h > maxPixels) {
    return PictureError::TooManyPixels;
  }
  out = std::move(pix);
  return PictureError::None;
}

int EstimateTextHeight(Pix* grey) {
  PixPtr binary(pixThresholdToBinary(grey, 128));
  if (!binary) {
    return 0;
  }
  BOXA* boxes = pixConnCompBB(binary.get(), 8);
  if (boxes == nullptr) {
    return 0;
  }
  const int pictureHeight = pixGetHeight(grey);
  std::vector<int> heights;
  const int count = boxaGetCount(boxes);
  heights.reserve(count);
  for (int i = 0; i < count; ++i) {
    l_int32 x = 0, y = 0, w = 0, h = 0;
    boxaGetBoxGeometry(boxes, i, &x, &y, &w, &h);
    // Specks and page-sized shapes (frames, rules, photos) say nothing about the text size.
    if (h >= 3 && h < pictureHeight * 0.8 && w < h * 8) {
      heights.push_back(h);
    }
  }
  boxaDestroy(&boxes);
  if (heights.size() < 3) {
    return 0;
  }
  // The tall end of the marks: letters with ascenders and whole Chinese characters rather than dots
  // and strokes.
  const std::size_t k = heights.size() * 3 / 4;
  std::nth_element(heights.begin(), heights.begin() + k, heights.end());
  return heights[k];
}

PreparedPicture PreparePicture(Pix* decoded, const Preparation& preparation) {
  PreparedPicture prepared;
  PixPtr flat;
  if (pixGetDepth(decoded) == 32 && pixGetSpp(decoded) == 4) {
    flat.reset(pixAlphaBlendUniform(decoded, 0xFFFFFF00)); // transparent parts become white
  }
  PixPtr grey(pixConvertTo8(flat ? flat.get() : decoded, 0));
  if (!grey) {
    grey.reset(pixClone(decoded));
  }
  if (preparation.invertDark) {
    l_float32 mean = 255;
    if (pixGetAverageMasked(grey.get(), nullptr, 0, 0, 2, L_MEAN_ABSVAL, &mean) == 0 && mean < 128) {
      pixInvert(grey.get(), grey.get());
      prepared.inverted = true;
    }
  }
  if (preparation.upscale) {
    const int height = EstimateTextHeight(grey.get());
    if (height > 0 && height < kSmallTextHeight) {
      double scale = std::min(kMaxUpscale, static_cast<double>(kTargetTextHeight) / height);
      const double pixels = static_cast<double>(pixGetWidth(grey.get())) * pixGetHeight(grey.get());
      scale = std::min(scale, std::sqrt(kMaxPreparedPixels / pixels));
      if (scale > 1.1) {
        PixPtr scaled(
            pixScaleGrayLI(grey.get(), static_cast<l_float32>(scale), static_cast<l_float32>(scale)));
        if (scaled) {
          grey = std::move(scaled);
          prepared.scale = scale;
        }
      }
    }
  }
  prepared.pix = std::move(grey);
  return prepared;
}

PicturePixels::PicturePixels(PixPtr picture) {
  if (!picture) {
    return;
  }
  const int depth = pixGetDepth(picture.get());
  if ((depth != 8 && depth != 32) || pixGetColormap(picture.get()) != nullptr) {
    picture.reset(pixConvertTo32(picture.get()));
  } else if (pixGetRefcount(picture.get()) > 1) {
    picture.reset(pixCopy(nullptr, picture.get())); // a clone shares its buffer with its other owners
  }
  if (!picture || pixEndianByteSwap(picture.get()) != 0) {
    return;
  }
  channels_ = pixGetDepth(picture.get()) == 8 ? 1 : 4;
  pix_ = std::move(picture);
}

PictureView PicturePixels::View() const {
  if (!pix_) {
    return {};
  }
  return {pixGetWidth(pix_.get()), pixGetHeight(pix_.get()),
          static_cast<std::ptrdiff_t>(pixGetWpl(pix_.get())) * 4, channels_,
          reinterpret_cast<const std::uint8_t*>(pixGetData(pix_.get()))};
}

PixPtr PixFromView(const PictureView& picture) {
  if (picture.Empty() || (picture.channels != 1 && picture.channels != 3 && picture.channels != 4)) {
    return nullptr;
  }
  PixPtr pix(pixCreateNoInit(picture.width, picture.height, picture.channels == 1 ? 8 : 32));
  if (!pix) {
    return nullptr;
  }
  const int wordsPerRow = pixGetWpl(pix.get());
  const auto rowBytes = static_cast<std::size_t>(wordsPerRow) * 4;
  const auto pictureBytes = static_cast<std::size_t>(picture.width) * picture.channels;
  for (int y = 0; y < picture.height; ++y) {
    const std::uint8_t* in = picture.pixels + y * picture.stride;
    std::uint32_t* out = pixGetData(pix.get()) + static_cast<std::ptrdiff_t>(y) * wordsPerRow;
    if (picture.channels == 3) {
      for (int x = 0; x < picture.width; ++x, in += 3) {
        out[x] = (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) | (std::uint32_t{in[2]} << 8);
      }
      continue;
    }
    auto* bytes = reinterpret_cast<std::uint8_t*>(out);
    std::memcpy(bytes, in, pictureBytes);
    std::memset(bytes + pictureBytes, 0, rowBytes - pictureBytes);
    if constexpr (std::endian::native == std::endian::little) {
      for (int i = 0; i < wordsPerRow; ++i) {
        out[i] = __builtin_bswap32(out[i]);
      }
    }
  }
  return pix;
}

} // namespace quillore::service
