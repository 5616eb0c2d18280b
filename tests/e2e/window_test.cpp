// The window, driven offscreen in this process, against quillore-ocrd: a drop and the button fill the
// edit box with the picture's text, and the panel shows the picture with the answer's boxes.
#include "app/intake.h"
#include "local_service.h"
#include "recognition/answer_parsing.h"
#include "recognition/program_values.h"
#include "tests/app/started_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QUrl>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>

namespace quillore::e2e {
namespace {

// A pixel of the boxes' pen (red), as opposed to the picture's grey ink, its paper and the pink
// behind the boxes' texts.
bool IsRed(QColor pixel) {
  return pixel.red() > 200 && pixel.green() < 80 && pixel.blue() < 80;
}

struct Box {
  QPoint corners[4]; // clockwise from the top-left
};

std::vector<Box> BoxesOf(const AnswerCut& cut) {
  std::vector<Box> boxes;
  for (const std::vector<int>& n : cut.groups) {
    if (n.size() >= 8) {
      boxes.push_back({{QPoint(n[0], n[1]), QPoint(n[2], n[3]), QPoint(n[4], n[5]), QPoint(n[6], n[7])}});
    }
  }
  return boxes;
}

// Whether a red pixel lies within `reach` pixels of the point.
bool RedNear(const QImage& image, QPoint at, int reach) {
  for (int dy = -reach; dy <= reach; ++dy) {
    for (int dx = -reach; dx <= reach; ++dx) {
      const QPoint p = at + QPoint(dx, dy);
      if (image.rect().contains(p) && IsRed(image.pixelColor(p))) {
        return true;
      }
    }
  }
  return false;
}

int CountRed(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      count += IsRed(image.pixelColor(x, y));
    }
  }
  return count;
}

// Distance from a point to the segment a-b.
double DistanceToSegment(QPointF p, QPointF a, QPointF b) {
  const QPointF ab = b - a;
  const double length2 = QPointF::dotProduct(ab, ab);
  const double t = length2 == 0 ? 0 : std::clamp(QPointF::dotProduct(p - a, ab) / length2, 0.0, 1.0);
  const QPointF d = p - (a + t * ab);
  return std::hypot(d.x(), d.y());
}

class WindowAgainstService : public ServiceSuite {
protected:
  void SetUp() override {
    ASSERT_TRUE(service_->Error().empty()) << service_->Error();
    // main() moved XDG_CONFIG_HOME into a temporary folder; the window reads the file when created.
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(configHome, nullptr);
    WriteServiceConfig(configHome, service_->Port());
    ASSERT_NO_FATAL_FAILURE(test::OpenMainWindow(window_));
    window_->通用对话框->SetChooser([this](const OpenDialogRequest&) {
      ++chooserCalls_;
      return std::optional<QString>(QString::fromStdString(picturePath_));
    });
    ASSERT_EQ(ServiceUrl, "https://127.0.0.1:" + std::to_string(service_->Port()) + "/api/ocr");
  }
  void TearDown() override { test::CloseMainWindow(window_); }

  void Drop(QWidget* on, const QString& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &drop);
  }
  std::vector<std::string> EditBoxLines() const {
    return Lines(window_->编辑框1->toPlainText().toStdString());
  }
  // The panel's client area as it shows now, in picture coordinates.
  QImage PanelClient() const {
    const QImage grabbed = window_->画板1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    return grabbed.copy(window_->画板1->ClientRect());
  }
  // Share of the picture's pixels the panel shows unchanged (off by at most 2 per channel).
  static double SharePictureShown(const QImage& client, const QImage& picture) {
    const int width = std::min(client.width(), picture.width());
    const int height = std::min(client.height(), picture.height());
    long same = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const QColor a = client.pixelColor(x, y);
        const QColor b = picture.pixelColor(x, y);
        same += std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
                std::abs(a.blue() - b.blue()) <= 2;
      }
    }
    return static_cast<double>(same) / (static_cast<double>(picture.width()) * picture.height());
  }
  static QImage Picture() {
    return QImage::fromData(QByteArray::fromStdString(drawn_->png)).convertToFormat(QImage::Format_RGB32);
  }

  std::unique_ptr<MainWindow> window_;
  int chooserCalls_ = 0;
};

TEST_F(WindowAgainstService, ADropFillsTheEditBoxAndLeavesTheBarePicture) {
  const QImage picture = Picture();
  ASSERT_LE(picture.width(), window_->画板1->ClientRect().width()) << "the picture must show whole";
  ASSERT_LE(picture.height(), window_->画板1->ClientRect().height());

  Drop(window_->编辑框1->viewport(), QString::fromStdString(picturePath_));
  EXPECT_TRUE(ReadAsDrawn(drawn_->lines, EditBoxLines())) << service_->Log();
  EXPECT_FALSE(window_->透明标签2->Visible());
  // The picture written again after the recognition: the next repaint shows it without drawings.
  const QImage client = PanelClient();
  EXPECT_GE(SharePictureShown(client, picture), 0.999);
  EXPECT_EQ(CountRed(client), 0);
}

TEST_F(WindowAgainstService, TheButtonLeavesRedBoxesAroundTheLinesOverThePicture) {
  window_->按钮1->click();
  EXPECT_EQ(chooserCalls_, 1);
  EXPECT_TRUE(ReadAsDrawn(drawn_->lines, EditBoxLines())) << service_->Log();
  EXPECT_TRUE(window_->透明标签2->Visible());

  const std::vector<Box> boxes = BoxesOf(CutAnswer(AnswerText));
  ASSERT_EQ(boxes.size(), drawn_->lines.size()) << AnswerText;
  const QImage client = PanelClient();
  ASSERT_GT(CountRed(client), 0);
  // Along every edge of every box the pen shows, except where the box's own text covers it.
  for (std::size_t b = 0; b < boxes.size(); ++b) {
    int samples = 0;
    int red = 0;
    for (int edge = 0; edge < 4; ++edge) {
      const QPointF from = boxes[b].corners[edge];
      const QPointF to = boxes[b].corners[(edge + 1) % 4];
      for (int step = 0; step <= 20; ++step) {
        ++samples;
        red += RedNear(client, (from + (to - from) * step / 20.0).toPoint(), 1);
      }
    }
    EXPECT_GE(red, samples / 2) << "box " << b << ": " << red << " of " << samples << " edge points red";
  }
  // Red nowhere else: each red pixel lies on a box's edge.
  int stray = 0;
  for (int y = 0; y < client.height(); ++y) {
    for (int x = 0; x < client.width(); ++x) {
      if (!IsRed(client.pixelColor(x, y))) {
        continue;
      }
      double nearest = 1e9;
      for (const Box& box : boxes) {
        for (int edge = 0; edge < 4; ++edge) {
          nearest = std::min(
              nearest, DistanceToSegment(QPointF(x, y), box.corners[edge], box.corners[(edge + 1) % 4]));
        }
      }
      stray += nearest > 2.5;
    }
  }
  EXPECT_EQ(stray, 0) << "red pixels away from every box";
  // Around the drawings the picture is still there.
  EXPECT_GE(SharePictureShown(client, Picture()), 0.5);
}

} // namespace
} // namespace quillore::e2e
