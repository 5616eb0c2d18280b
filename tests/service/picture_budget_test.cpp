// Pictures made to cost the service memory or time, sent through the real server: an animated GIF of
// huge frames, a PNG of text chunks that inflate to megabytes, a progressive JPEG that repeats its last
// scan. And the ordinary pictures that decode differently now: GIF frames, EXIF orientation.
#include "exif_jpeg.h"
#include "fake_engine.h"
#include "service/certificate.h"
#include "service/picture.h"
#include "service/picture_decoders.h"
#include "service/server.h"
#include "tests/support/https_client.h"
#include "tests/support/sanitizer.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <leptonica/allheaders.h>
#include <zlib.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

namespace quillore::service {
namespace {

using testing::HttpReply;
using testing::PostPicture;

constexpr std::int64_t kLimit = 40'000'000; // the default limit

// ---- the process's memory

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) {
      return std::stol(line.substr(prefix.size()));
    }
  }
  return -1;
}

// The peak resident memory, in MB, that `work` adds to what the process holds when it starts.
template <typename Work> double PeakGrowthMb(Work&& work) {
  std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from the current size
  const long before = StatusKb("VmRSS");
  work();
  return (StatusKb("VmHWM") - before) / 1024.0;
}

std::unique_ptr<Server> StartServer() {
  static const CertificatePair pair = [] {
    CertificatePair made;
    std::string error;
    MakeSelfSignedCertificate(made, error);
    return made;
  }();
  ServiceConfig config;
  config.port = 0;
  config.workers = 1;
  config.maxBody = 16 * 1024 * 1024;
  config.certificatePem = pair.certificatePem;
  config.keyPem = pair.keyPem;
  std::string error;
  auto server =
      Server::Start(config, testing::FakeEngines(std::make_shared<testing::Gate>()), nullptr, error);
  EXPECT_TRUE(server) << error;
  return server;
}

std::string Encode(const QImage& image, const char* format, bool progressive = false) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  writer.setQuality(90);
  writer.setProgressiveScanWrite(progressive);
  writer.write(image);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// ---- GIF

int WriteToString(GifFileType* gif, const GifByteType* bytes, int count) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(bytes), count);
  return count;
}

// A GIF with a black-and-white colour table whose frames are `frame` (rows of indices), each placed
// at its offset; a transparent index for the first frame when `transparent` is 0 or 1.
struct GifFrame {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<GifPixelType> pixels; // empty: all 0
};

std::string MakeGif(int screenWidth, int screenHeight, const std::vector<GifFrame>& frames,
                    int transparent = -1) {
  std::string out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteToString, &error);
  EXPECT_NE(gif, nullptr);
  EGifSetGifVersion(gif, true);
  const GifColorType colours[] = {{255, 255, 255}, {0, 0, 0}};
  ColorMapObject* map = GifMakeMapObject(2, colours);
  EGifPutScreenDesc(gif, screenWidth, screenHeight, 1, 0, map);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const GifFrame& frame = frames[f];
    if (f == 0 && transparent >= 0) {
      GraphicsControlBlock control{};
      control.TransparentColor = transparent;
      GifByteType block[4];
      EGifGCBToExtension(&control, block);
      EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, block);
    }
    EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, false, nullptr);
    std::vector<GifPixelType> row(static_cast<std::size_t>(frame.width), 0);
    for (int y = 0; y < frame.height; ++y) {
      if (!frame.pixels.empty()) {
        std::copy_n(frame.pixels.begin() + static_cast<std::ptrdiff_t>(y) * frame.width, frame.width,
                    row.begin());
      }
      EGifPutLine(gif, row.data(), frame.width);
    }
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

// `count` frames of side x side: one is encoded, then its bytes repeated, which is what a hostile
// client would do too (16 frames of 6000 x 6000 make about 400 KB).
std::string ManyFrameGif(int side, int count) {
  const std::string one = MakeGif(side, side, {{0, 0, side, side, {}}});
  const std::size_t frameStart = 13 + 6; // header, screen, two-colour table
  const std::string frame = one.substr(frameStart, one.size() - 1 - frameStart);
  std::string gif = one.substr(0, frameStart);
  for (int i = 0; i < count; ++i) {
    gif += frame;
  }
  return gif + ";";
}

std::uint32_t PixelValue(Pix* pix, int x, int y) {
  l_uint32 value = 0;
  pixGetPixel(pix, x, y, &value);
  if (PIXCMAP* map = pixGetColormap(pix)) {
    l_int32 r = 0, g = 0, b = 0;
    pixcmapGetColor(map, static_cast<l_int32>(value), &r, &g, &b);
    return static_cast<std::uint32_t>(r << 16 | g << 8 | b);
  }
  return value >> 8;
}

TEST(GifBudget, OnlyTheFirstFrameIsDecodedOnItsScreenWithTransparencyWhite) {
  // Screen 8 x 4; the first frame 4 x 4 at x 2, black with one pixel of the transparent index 0;
  // a second frame, all white, that must not show.
  GifFrame first{2, 0, 4, 4, std::vector<GifPixelType>(16, 1)};
  first.pixels[5] = 0; // x 1, y 1 of the frame
  const GifFrame second{0, 0, 8, 4, std::vector<GifPixelType>(32, 0)};
  const std::string gif = MakeGif(8, 4, {first, second}, 0);
  PictureSize size;
  ASSERT_EQ(CheckPicture(gif, kLimit, &size), PictureError::None);
  EXPECT_EQ(size.width, 8);
  EXPECT_EQ(size.height, 4);
  PixPtr pix;
  ASSERT_EQ(DecodePicture(gif, kLimit, pix), PictureError::None);
  ASSERT_EQ(pixGetWidth(pix.get()), 8);
  ASSERT_EQ(pixGetHeight(pix.get()), 4);
  EXPECT_EQ(PixelValue(pix.get(), 0, 0), 0xFFFFFFu); // not covered by the frame
  EXPECT_EQ(PixelValue(pix.get(), 2, 0), 0x000000u); // the frame
  EXPECT_EQ(PixelValue(pix.get(), 3, 1), 0xFFFFFFu); // its transparent pixel
  EXPECT_EQ(PixelValue(pix.get(), 5, 3), 0x000000u);
  EXPECT_EQ(PixelValue(pix.get(), 7, 3), 0xFFFFFFu);
}

TEST(GifBudget, TheHeaderCheckDecodesNoPixels) {
  const std::string gif = ManyFrameGif(6000, 16);
  EXPECT_LT(gif.size(), 1'000'000u);
  PictureError error = PictureError::Empty;
  PictureSize size;
  const auto start = std::chrono::steady_clock::now();
  const double growth = PeakGrowthMb([&] { error = CheckPicture(gif, kLimit, &size); });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(error, PictureError::None);
  EXPECT_EQ(size.width, 6000);
  if (!test::kAddressSanitizer) {
    EXPECT_LT(growth, 8.0); // one frame decoded would be 36 MB at least
  }
  EXPECT_LT(seconds, 0.05);
}

TEST(GifBudget, ManyHugeFramesCostNoMoreThanOneThroughTheServer) {
  const auto server = StartServer();
  ASSERT_TRUE(server);
  const std::string oneFrame = ManyFrameGif(6000, 1);
  const std::string manyFrames = ManyFrameGif(6000, 16);
  HttpReply one, many;
  const double oneGrowth = PeakGrowthMb([&] { one = PostPicture(server->Port(), oneFrame); });
  const auto start = std::chrono::steady_clock::now();
  const double manyGrowth = PeakGrowthMb([&] { many = PostPicture(server->Port(), manyFrames); });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(one.status, 200) << one.body;
  EXPECT_EQ(many.status, 200) << many.body;
  EXPECT_NE(many.body.find("picture 6000x6000"), std::string::npos) << many.body;
  // Every frame decoded added 36 MB or more each; now the later frames are never read.
  if (!test::kAddressSanitizer) {
    EXPECT_LT(manyGrowth, oneGrowth + 24.0) << "one frame: " << oneGrowth << " MB";
  }
  EXPECT_LT(seconds, 5.0);
  std::printf("GIF 6000x6000: 1 frame +%.0f MB, 16 frames +%.0f MB in %.2f s\n", oneGrowth, manyGrowth,
              seconds);
}

// ---- PNG

void AppendChunk(std::string& png, const char* type, const std::string& data) {
  const auto u32 = [&](std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      png += static_cast<char>((v >> shift) & 0xFF);
    }
  };
  u32(static_cast<std::uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  png += body;
  u32(static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

std::string Deflated(std::size_t zeros) {
  const std::string plain(zeros, '\0');
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
            static_cast<uLong>(plain.size()), 9);
  packed.resize(size);
  return packed;
}

// A small PNG with `count` zTXt chunks (and one iCCP chunk) after its header, each inflating to 7.9 MB.
std::string TextBombPng(int count) {
  QImage image(64, 64, QImage::Format_RGB32);
  image.fill(Qt::white);
  const std::string plain = Encode(image, "PNG");
  const std::size_t afterHeader = 8 + 25; // the signature and IHDR
  const std::string packed = Deflated(7'900'000);
  std::string chunks;
  AppendChunk(chunks, "iCCP", std::string("icc\0\0", 5) + packed);
  for (int i = 0; i < count; ++i) {
    AppendChunk(chunks, "zTXt", std::string("Comment\0\0", 9) + packed);
  }
  return plain.substr(0, afterHeader) + chunks + plain.substr(afterHeader);
}

TEST(PngBudget, TextChunksAreNotInflated) {
  const std::string png = TextBombPng(120);
  EXPECT_LT(png.size(), 2'000'000u);
  const auto server = StartServer();
  ASSERT_TRUE(server);
  HttpReply reply;
  const double growth = PeakGrowthMb([&] { reply = PostPicture(server->Port(), png); });
  EXPECT_EQ(reply.status, 200) << reply.body;
  EXPECT_NE(reply.body.find("picture 64x64"), std::string::npos) << reply.body;
  if (!test::kAddressSanitizer) {
    EXPECT_LT(growth, 48.0); // inflated, the chunks held 950 MB
  }
  std::printf("PNG with 120 zTXt bombs: +%.0f MB\n", growth);
}

// ---- JPEG

// A progressive JPEG whose last scan is repeated `repeats` more times before the end.
std::string RepeatedScanJpeg(int side, int repeats) {
  QImage image(side, side, QImage::Format_RGB32);
  image.fill(Qt::white);
  const std::string jpeg = Encode(image, "JPEG", true);
  const std::size_t lastScan = jpeg.rfind("\xFF\xDA");
  const std::size_t end = jpeg.rfind("\xFF\xD9");
  EXPECT_NE(lastScan, std::string::npos);
  EXPECT_GT(end, lastScan);
  const std::string scan = jpeg.substr(lastScan, end - lastScan);
  std::string out = jpeg.substr(0, end);
  for (int i = 0; i < repeats; ++i) {
    out += scan;
  }
  return out + jpeg.substr(end);
}

TEST(JpegBudget, AProgressivePictureWithEndlessScansIsStoppedQuickly) {
  const std::string jpeg = RepeatedScanJpeg(3000, 1000);
  const auto server = StartServer();
  ASSERT_TRUE(server);
  const auto start = std::chrono::steady_clock::now();
  const HttpReply reply = PostPicture(server->Port(), jpeg);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(reply.status, 422) << reply.body;
  EXPECT_NE(reply.body.find("scans"), std::string::npos) << reply.body;
  EXPECT_LT(seconds, 2.0); // every scan was decoded: 5 s or more
  std::printf("progressive JPEG 3000x3000 with 1000 repeated scans: %ld in %.2f s\n", reply.status, seconds);

  // An ordinary progressive picture still reads.
  QImage image(300, 200, QImage::Format_RGB32);
  image.fill(Qt::white);
  PixPtr pix;
  EXPECT_EQ(DecodePicture(Encode(image, "JPEG", true), kLimit, pix), PictureError::None);
  EXPECT_EQ(pixGetWidth(pix.get()), 300);
}

// ---- EXIF orientation

TEST(ExifOrientation, ReadsTheTagInBothByteOrders) {
  std::string motorola("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x08\0\0\0\0\0\0", 26);
  EXPECT_EQ(ExifOrientation(motorola), 8);
  EXPECT_EQ(ExifOrientation(motorola.substr(0, 20)), 1); // cut inside the entry
  EXPECT_EQ(ExifOrientation("II*\0"), 1);
  EXPECT_EQ(ExifOrientation(std::string("II*\0\xFF\xFF\xFF\xFF", 8)), 1); // directory past the end
}

TEST(ExifOrientation, TurnsTheDecodedPictureUpright) {
  // Upright: 40 x 20, black in the top-left 10 x 10 corner.
  QImage upright(40, 20, QImage::Format_RGB32);
  upright.fill(Qt::white);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) {
      upright.setPixel(x, y, 0xFF000000);
    }
  }
  struct Case {
    int orientation;
    QTransform stored; // how the camera stored the upright picture
  };
  const Case cases[] = {{1, QTransform()},
                        {3, QTransform().rotate(180)},
                        {6, QTransform().rotate(-90)},
                        {8, QTransform().rotate(90)},
                        {2, QTransform().scale(-1, 1)}};
  for (const Case& c : cases) {
    const std::string jpeg =
        testing::WithExifOrientation(Encode(upright.transformed(c.stored), "JPEG"), c.orientation);
    PixPtr pix;
    ASSERT_EQ(DecodePicture(jpeg, kLimit, pix), PictureError::None) << c.orientation;
    ASSERT_EQ(pixGetWidth(pix.get()), 40) << c.orientation;
    ASSERT_EQ(pixGetHeight(pix.get()), 20) << c.orientation;
    EXPECT_LT(PixelValue(pix.get(), 4, 4) & 0xFF, 64u) << c.orientation;    // the black corner
    EXPECT_GT(PixelValue(pix.get(), 35, 15) & 0xFF, 192u) << c.orientation; // white opposite
    EXPECT_GT(PixelValue(pix.get(), 35, 4) & 0xFF, 192u) << c.orientation;
  }
}

} // namespace
} // namespace quillore::service
