#include "imaging/qt_decoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <cstring>

namespace quillore::imaging {
namespace {

const char* ReaderFormat(PictureFormat format) {
  switch (format) {
  case PictureFormat::Bmp:
    return "bmp";
  case PictureFormat::Icon:
  case PictureFormat::Cursor:
    return "ico"; // Qt's icon reader takes cursors too
  default:
    return nullptr;
  }
}

} // namespace

RgbaImage DecodeWithQt(std::span<const std::uint8_t> bytes, PictureFormat format) noexcept {
  RgbaImage result;
  const char* readerFormat = ReaderFormat(format);
  if (readerFormat == nullptr || bytes.empty() || bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
    return result;
  }
  // The reader reads straight from the caller's bytes; nothing is copied.
  const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<qsizetype>(bytes.size()));
  QBuffer buffer;
  buffer.setData(data);
  if (!buffer.open(QIODevice::ReadOnly)) {
    return result;
  }
  QImageReader reader(&buffer, readerFormat);
  // Only the named reader: when it cannot read the bytes, Qt would otherwise try every image plugin
  // on them (a GIF given as a cursor was decoded by Qt's GIF reader, one such file taking seconds).
  reader.setAutoDetectImageFormat(false);
  reader.setAutoTransform(false);
  reader.setAllocationLimit(static_cast<int>(kMaxDecodedBytes >> 20));
  // The header's size, checked before the reader takes any pixel memory.
  const QSize announced = reader.size();
  if (announced.isValid() && !DecodedSizeAllowed(static_cast<std::uint64_t>(announced.width()),
                                                 static_cast<std::uint64_t>(announced.height()))) {
    return result;
  }
  QImage image = reader.read();
  if (image.isNull()) {
    return result;
  }
  image.convertTo(QImage::Format_RGBA8888);
  if (image.isNull() || !AllocateRgba(result, static_cast<std::uint64_t>(image.width()),
                                      static_cast<std::uint64_t>(image.height()), PixelFill::Undefined)) {
    return RgbaImage{};
  }
  for (int y = 0; y < result.height; ++y) {
    std::memcpy(result.Row(y), image.constScanLine(y), result.Stride());
  }
  return result;
}

} // namespace quillore::imaging
