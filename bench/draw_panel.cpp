// Repainting the draw panel with a 6000 x 4000 picture against a small one: the decoded and
// composed picture is kept, so a repaint costs the same whatever the picture's size. The first
// paint after a new picture (decode and compose) is shown beside it for contrast.

#include "app/draw_panel.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <map>
#include <memory>

namespace {

// A JPEG of the given size with some structure in it.
quillore::Bytes PictureBytes(int width, int height) {
  static std::map<std::pair<int, int>, quillore::Bytes> made;
  auto& bytes = made[{width, height}];
  if (bytes.empty()) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QLinearGradient(0, 0, width, height));
    for (int i = 0; i < 50; ++i) {
      painter.fillRect(i * width / 50, i * height / 50, width / 20, height / 20,
                       QColor::fromHsv(i * 7, 200, 200));
    }
    painter.end();
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    bytes.assign(data.begin(), data.end());
  }
  return bytes;
}

// The panel as it sits on the window: 619 x 248 on a shown top-level widget.
struct Panel {
  std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
  quillore::DrawPanel* panel = new quillore::DrawPanel(window.get());

  Panel(int pictureMode) {
    window->resize(625, 554);
    panel->setGeometry(0, 0, 619, 248);
    panel->SetPictureMode(pictureMode);
    window->show();
    QApplication::processEvents();
  }
};

// state.range(0): picture width (height is two thirds of it); state.range(1): picture mode.
void BM_Repaint(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  Panel setup(static_cast<int>(state.range(1)));
  setup.panel->SetPicture(PictureBytes(width, width * 2 / 3));
  setup.panel->repaint(); // decodes and composes once
  for (auto _ : state) {
    setup.panel->repaint();
  }
}

void BM_FirstPaintAfterNewPicture(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  Panel setup(static_cast<int>(state.range(1)));
  const quillore::Bytes bytes = PictureBytes(width, width * 2 / 3);
  for (auto _ : state) {
    setup.panel->SetPicture({}); // forget the decoded picture
    setup.panel->SetPicture(bytes);
    setup.panel->repaint();
  }
}

// {picture width, mode}: 300 x 200 and 6000 x 4000, natural size (0) and centred-shrunk (2).
BENCHMARK(BM_Repaint)
    ->Args({300, 0})
    ->Args({6000, 0})
    ->Args({300, 2})
    ->Args({6000, 2})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FirstPaintAfterNewPicture)
    ->Args({300, 0})
    ->Args({6000, 0})
    ->Args({6000, 2})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
