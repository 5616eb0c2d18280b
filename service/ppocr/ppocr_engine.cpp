#include "service/ppocr/ppocr_engine.h"

#include "service/cancellation.h"
#include "service/ppocr/ctc_decoding.h"
#include "service/ppocr/fast_layers.h"
#include "service/ppocr/line_images.h"
#include "service/ppocr/model_files.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <mutex>
#include <new>
#include <numeric>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>

namespace quillore::ppocr {
namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The ONNX importer prints its complaints itself before it throws; the engine reports them instead.
class QuietOpenCv {
public:
  QuietOpenCv() : previous_(cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT)) {}
  ~QuietOpenCv() { cv::utils::logging::setLogLevel(previous_); }
  QuietOpenCv(const QuietOpenCv&) = delete;
  QuietOpenCv& operator=(const QuietOpenCv&) = delete;

private:
  cv::utils::logging::LogLevel previous_;
};

std::string Reason(const cv::Exception& e) {
  std::string reason = !e.err.empty() ? e.err : e.what();
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason;
}

// Networks built from one model file, lent out one caller at a time: a cv::dnn::Net must not run
// on two threads at once. A pool grows on demand and keeps what it built.
class NetPool {
public:
  NetPool(std::string what, std::string path, std::string bytes, bool fusion)
      : what_(std::move(what)), path_(std::move(path)), bytes_(std::move(bytes)), fusion_(fusion) {}

  // Builds a network; false with a message when the model cannot be read. The importer only logs
  // some of its errors and returns an empty network, so emptiness counts as failure too.
  bool Build(cv::dnn::Net& net, std::string& error) const {
    RegisterFastLayers(); // the converted models name them
    QuietOpenCv quiet;
    try {
      net = cv::dnn::readNetFromONNX(bytes_.data(), bytes_.size());
    } catch (const cv::Exception& e) {
      error = "cannot load the " + what_ + " model " + path_ + ": " + Reason(e);
      return false;
    }
    if (net.empty()) {
      error = "cannot load the " + what_ + " model " + path_ + ": the file holds no network";
      return false;
    }
    net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    net.enableFusion(fusion_);
    return true;
  }

  class Lease {
  public:
    Lease(NetPool& pool, std::unique_ptr<cv::dnn::Net> net) : pool_(pool), net_(std::move(net)) {}
    ~Lease() { pool_.Return(std::move(net_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    cv::dnn::Net& operator*() { return *net_; }

  private:
    NetPool& pool_;
    std::unique_ptr<cv::dnn::Net> net_;
  };

  // A free network, or a new one. Throws cv::Exception when building fails (it did not at load).
  Lease Acquire() {
    {
      std::lock_guard lock(mutex_);
      if (!free_.empty()) {
        auto net = std::move(free_.back());
        free_.pop_back();
        return Lease(*this, std::move(net));
      }
    }
    auto net = std::make_unique<cv::dnn::Net>();
    std::string error;
    if (!Build(*net, error)) {
      CV_Error(cv::Error::StsError, error);
    }
    std::lock_guard lock(mutex_);
    ++built_;
    return Lease(*this, std::move(net));
  }

  void Adopt(std::unique_ptr<cv::dnn::Net> net) {
    std::lock_guard lock(mutex_);
    ++built_;
    free_.push_back(std::move(net));
  }

  int Built() const {
    std::lock_guard lock(mutex_);
    return built_;
  }

private:
  void Return(std::unique_ptr<cv::dnn::Net> net) {
    std::lock_guard lock(mutex_);
    free_.push_back(std::move(net));
  }

  const std::string what_, path_, bytes_;
  const bool fusion_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<cv::dnn::Net>> free_;
  int built_ = 0;
};

// A stretch of one line, read on its own: a whole line, or a piece of a long one cut at a gap
// between words so that the threads finish together.
struct Piece {
  int line = 0;
  int from = 0, to = 0; // columns of the line's ink profile
  double cost = 0;      // the recogniser's input width, plus what any call costs besides
};

// What one call of the recogniser costs beyond its columns, in columns: the end padding and about
// 25 columns' worth of fixed work (measured: 7.0 ms at 64 columns, 52 ms at 640).
constexpr double kPieceOverhead = kLineEndPadding + 25;

// When all threads take the dearest piece left as soon as they are free, the time until the last
// one finishes, in cost units.
double Makespan(std::vector<double> costs, int threads) {
  std::sort(costs.begin(), costs.end(), std::greater<>());
  std::vector<double> load(static_cast<std::size_t>(std::max(threads, 1)), 0.0);
  for (double cost : costs) {
    *std::min_element(load.begin(), load.end()) += cost;
  }
  return *std::max_element(load.begin(), load.end());
}

// Widths up to this are read together with others of about their width: below it, one pass of
// several lines costs less per line than one pass each (a seventh less at 64 to 128 columns, measured
// with OpenCV 4.6), above it the gain is gone and padding would cost.
constexpr int kMaxBatchedWidth = 192;

std::vector<std::vector<int>> Batches(const std::vector<int>& widths, int maxBatch) {
  std::vector<int> order(widths.size());
  std::iota(order.begin(), order.end(), 0);
  // Widest first, so that the dearest passes start first and do not leave the other threads idle.
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return widths[a] > widths[b]; });
  std::vector<std::vector<int>> batches;
  for (int k : order) {
    if (!batches.empty()) {
      std::vector<int>& last = batches.back();
      const int widest = widths[last.front()];
      // Padding each line by at most a tenth of the widest (8 columns for the narrowest).
      if (widest <= kMaxBatchedWidth && static_cast<int>(last.size()) < maxBatch &&
          widest - widths[k] <= std::max(8, widest / 10)) {
        last.push_back(k);
        continue;
      }
    }
    batches.push_back({k});
  }
  return batches;
}

// Output dimensions of a network for a test input of the given NCHW size; throws cv::Exception.
std::vector<int> OutputShape(cv::dnn::Net& net, int height, int width) {
  const int size[] = {1, 3, height, width};
  cv::Mat input(4, size, CV_32F);
  cv::randu(input, -1, 1);
  net.setInput(input);
  const cv::Mat out = net.forward();
  return std::vector<int>(out.size.p, out.size.p + out.dims);
}

cv::Mat ToBgr(const cv::Mat& picture) {
  cv::Mat bgr;
  switch (picture.type()) {
  case CV_8UC1:
    cv::cvtColor(picture, bgr, cv::COLOR_GRAY2BGR);
    break;
  case CV_8UC3:
    bgr = picture;
    break;
  case CV_8UC4: {
    // Transparent parts become white, as a viewer shows them; dropping the alpha channel would turn
    // the text of a transparent screenshot into dark on black.
    bgr.create(picture.size(), CV_8UC3);
    for (int y = 0; y < picture.rows; ++y) {
      const cv::Vec4b* in = picture.ptr<cv::Vec4b>(y);
      cv::Vec3b* out = bgr.ptr<cv::Vec3b>(y);
      for (int x = 0; x < picture.cols; ++x) {
        const int alpha = in[x][3];
        for (int c = 0; c < 3; ++c) {
          out[x][c] = static_cast<uchar>((in[x][c] * alpha + 255 * (255 - alpha) + 127) / 255);
        }
      }
    }
    break;
  }
  default:
    CV_Error(cv::Error::StsBadArg, "pictures must be 8-bit grey, BGR or BGRA");
  }
  return bgr;
}

struct LineResult {
  std::string text;
  int passes = 0; // of the recogniser, this result's first read counted by the batch's first line
  float confidence = 0;
  int characters = 0; // decoded, before spaces were put back: the confidence's weight
  double latinShare = 0;
  bool reread = false;
  double milliseconds = 0;
  int columns = 0;
  std::string error;
};

} // namespace

class Engine::Impl {
public:
  Impl(EngineOptions options, CharacterSet characters, std::unique_ptr<NetPool> detectors,
       std::unique_ptr<NetPool> recognizers)
      : options_(std::move(options)), characters_(std::move(characters)), detectors_(std::move(detectors)),
        recognizers_(std::move(recognizers)) {}

  std::vector<Line> Recognize(const cv::Mat& picture, Timings& timings) {
    if (picture.empty()) {
      return {};
    }
    const cv::Mat bgr = ToBgr(picture);
    Reading reading = Read(bgr, timings);
    if (!options_.tryUpsideDown || reading.characters == 0 ||
        reading.confidenceSum / reading.characters >= options_.upsideDownConfidence) {
      return std::move(reading.lines);
    }
    const auto start = Clock::now();
    if (!TurnedSampleReadsBetter(bgr, reading, timings)) {
      timings.turned = MillisecondsSince(start);
      return std::move(reading.lines);
    }
    cv::Mat turned;
    cv::rotate(bgr, turned, cv::ROTATE_180);
    Timings turnedTimings;
    Reading other = Read(turned, turnedTimings);
    timings.turned = MillisecondsSince(start);
    timings.detection += turnedTimings.detection;
    timings.cutting += turnedTimings.cutting;
    timings.recognition += turnedTimings.recognition;
    timings.recognitionWork += turnedTimings.recognitionWork;
    timings.turnedLines += turnedTimings.lines;
    if (other.keptScore <= reading.keptScore) {
      return std::move(reading.lines);
    }
    // Boxes back in the picture as sent; corners still clockwise from the top left of the picture.
    for (Line& line : other.lines) {
      const std::array<int, 8> box = line.box;
      for (int corner = 0; corner < 4; ++corner) {
        const int from = (corner + 2) % 4;
        line.box[2 * corner] = bgr.cols - 1 - box[2 * from];
        line.box[2 * corner + 1] = bgr.rows - 1 - box[2 * from + 1];
      }
    }
    return std::move(other.lines);
  }

  int NetworksBuilt() const { return detectors_->Built() + recognizers_->Built(); }

private:
  // One reading of a picture: the lines kept, and how confident the characters of all boxes were.
  struct Reading {
    std::vector<Line> lines;
    int characters = 0;       // over every box read, kept or not
    double confidenceSum = 0; // confidence times characters, over every box
    double keptScore = 0;     // the same over the lines kept
    std::vector<Quad> quads;  // every box, and what it read
    std::vector<LineResult> results;
  };

  // What a line adds to a reading's score: its characters weighted by confidence, when it is kept.
  double KeptScore(const LineResult& r) const {
    return r.text.empty() || r.confidence < options_.minConfidence
               ? 0.0
               : static_cast<double>(r.confidence) * r.characters;
  }

  // Whether the boxes with the most characters read better turned half a turn than as they are. A page
  // that only reads with little confidence (a photograph, small or blurred text) reads worse still
  // upside down, and a handful of its lines tell so at a fraction of reading the whole page again.
  bool TurnedSampleReadsBetter(const cv::Mat& bgr, const Reading& reading, Timings& timings) {
    if (static_cast<int>(reading.quads.size()) <= options_.upsideDownSample) {
      return true; // the sample would be the page
    }
    std::vector<int> boxes(reading.quads.size());
    std::iota(boxes.begin(), boxes.end(), 0);
    std::stable_sort(boxes.begin(), boxes.end(), [&](int a, int b) {
      return reading.results[a].characters > reading.results[b].characters;
    });
    boxes.resize(static_cast<std::size_t>(options_.upsideDownSample));
    std::vector<cv::Mat> cutOuts;
    double asTheyAre = 0;
    for (int box : boxes) {
      cv::Mat cutOut = CutOut(bgr, reading.quads[box]);
      cv::rotate(cutOut, cutOut, cv::ROTATE_180); // what the turned page's box would cut out
      cutOuts.push_back(std::move(cutOut));
      asTheyAre += KeptScore(reading.results[box]);
    }
    Timings sampleTimings;
    double turned = 0;
    for (const LineResult& r : ReadLines(cutOuts, sampleTimings)) {
      turned += KeptScore(r);
    }
    timings.recognitionWork += sampleTimings.recognitionWork;
    timings.turnedLines += static_cast<int>(cutOuts.size());
    return turned > asTheyAre;
  }

  Reading Read(const cv::Mat& bgr, Timings& timings) {
    auto start = Clock::now();
    const std::vector<Quad> quads = Detect(bgr);
    timings.detection = MillisecondsSince(start);
    if (service::Abandoned()) {
      return {}; // nobody waits for the lines
    }

    start = Clock::now();
    std::vector<cv::Mat> cutOuts;
    for (const auto& quad : quads) {
      cutOuts.push_back(CutOut(bgr, quad));
    }
    timings.cutting = MillisecondsSince(start);

    start = Clock::now();
    std::vector<LineResult> results = ReadLines(cutOuts, timings);
    timings.recognition = MillisecondsSince(start);
    timings.lines = static_cast<int>(results.size());

    Reading reading;
    reading.quads = quads;
    reading.results = results;
    for (int index : ReadingOrder(quads)) {
      const LineResult& r = results[index];
      reading.characters += r.characters;
      reading.confidenceSum += static_cast<double>(r.confidence) * r.characters;
      if (r.text.empty() || r.confidence < options_.minConfidence) {
        continue;
      }
      reading.keptScore += static_cast<double>(r.confidence) * r.characters;
      Line line{r.text, {}, r.confidence};
      for (int corner = 0; corner < 4; ++corner) {
        line.box[2 * corner] = static_cast<int>(std::lround(quads[index][corner].x));
        line.box[2 * corner + 1] = static_cast<int>(std::lround(quads[index][corner].y));
      }
      reading.lines.push_back(std::move(line));
    }
    return reading;
  }

  // Boxes in picture pixels, inside the picture.
  std::vector<Quad> Detect(const cv::Mat& bgr) {
    const cv::Size size = DetectionSize(bgr.size(), options_.detectionMaxSide, options_.detectionMinScale,
                                        options_.detectionMaxPixels);
    const cv::Mat blob = DetectionBlob(bgr, size);
    cv::Mat probability;
    {
      auto detector = detectors_->Acquire();
      (*detector).setInput(blob);
      const cv::Mat out = (*detector).forward();
      CV_Assert(out.dims == 4 && out.size[2] == size.height && out.size[3] == size.width);
      probability = cv::Mat(size.height, size.width, CV_32F, const_cast<float*>(out.ptr<float>())).clone();
      if (static_cast<double>(size.area()) > options_.detectorKeepPixels) {
        ShrinkDetector(*detector);
      }
    }
    const float scaleX = static_cast<float>(bgr.cols) / size.width;
    const float scaleY = static_cast<float>(bgr.rows) / size.height;
    std::vector<Quad> quads;
    for (const auto& box : FindTextBoxes(probability, options_.detection)) {
      Quad quad = box.quad;
      for (auto& p : quad) {
        p.x = std::clamp(p.x * scaleX, 0.0f, static_cast<float>(bgr.cols - 1));
        p.y = std::clamp(p.y * scaleY, 0.0f, static_cast<float>(bgr.rows - 1));
      }
      // Boxes squeezed flat against the picture's edge hold nothing readable.
      if (std::hypot(quad[0].x - quad[1].x, quad[0].y - quad[1].y) <= 3 ||
          std::hypot(quad[0].x - quad[3].x, quad[0].y - quad[3].y) <= 3) {
        continue;
      }
      quads.push_back(quad);
    }
    return quads;
  }

  // Lets the detector's buffers for its last input go: a forward pass on the smallest input it takes
  // sizes them for that. What it answers is not needed.
  static void ShrinkDetector(cv::dnn::Net& detector) {
    const int size[] = {1, 3, 32, 32}; // sides are multiples of 32
    detector.setInput(cv::Mat(4, size, CV_32F, cv::Scalar(0)));
    detector.forward();
  }

  // One input of a recogniser pass: a cut-out at a squeeze, and when it is a piece of a line, the whole
  // line's spacing at this squeeze (a piece has too few letters to measure its own); else null.
  struct LineInput {
    cv::Mat cutOut;
    double squeeze = 1;
    const Spacing* spacing = nullptr;
  };

  // Reads several cut-outs in one pass of the recogniser, each padded to the widest.
  std::vector<LineResult> ReadBatch(cv::dnn::Net& net, const std::vector<LineInput>& inputs) {
    const auto start = Clock::now();
    std::vector<cv::Mat> cutOuts, greys;
    std::vector<double> squeezes;
    for (const auto& input : inputs) {
      cutOuts.push_back(input.cutOut);
      squeezes.push_back(input.squeeze);
    }
    net.setInput(LineBatchBlob(cutOuts, squeezes, greys));
    const cv::Mat out = net.forward();
    // [lines, classes, 1, frames]: turned around here, which is several times faster than the network's
    // own Permute layer.
    CV_Assert(out.dims == 4 && out.size[0] == static_cast<int>(inputs.size()) &&
              out.size[1] == characters_.Classes() && out.size[2] == 1);
    const int frames = out.size[3];
    std::vector<LineResult> results(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      LineResult& result = results[i];
      cv::Mat scores;
      cv::transpose(
          cv::Mat(out.size[1], frames, CV_32F, const_cast<float*>(out.ptr<float>(static_cast<int>(i)))),
          scores);
      DecodedLine decoded = DecodeGreedy(scores, characters_);
      result.latinShare = LatinShare(decoded);
      if (options_.restoreSpaces) {
        RestoreWordSpaces(decoded, greys[i], frames, options_.spaceGapRatio * inputs[i].squeeze,
                          inputs[i].spacing);
      }
      result.characters = static_cast<int>(decoded.characters.size());
      result.text = decoded.Text();
      const auto first = result.text.find_first_not_of(' ');
      result.text = first == std::string::npos
                        ? ""
                        : result.text.substr(first, result.text.find_last_not_of(' ') - first + 1);
      result.confidence = decoded.confidence;
      result.columns = greys[i].cols;
    }
    // The pass's time shared out evenly.
    const double milliseconds = MillisecondsSince(start);
    for (auto& result : results) {
      result.milliseconds = milliseconds / static_cast<double>(inputs.size());
    }
    results[0].passes = 1;
    return results;
  }

  LineResult ReadLine(cv::dnn::Net& net, const cv::Mat& cutOut, double squeeze, const Spacing* spacing) {
    return std::move(ReadBatch(net, {{cutOut, squeeze, spacing}})[0]);
  }

  // A cut-out at the recogniser's height and full width: the ink per column, and whether it looks
  // like Chinese: Chinese ink comes in runs about as wide as the text is high, English letters and
  // digits make narrower ones.
  struct LineShape {
    InkProfile ink;
    bool chinese = false;
  };
  LineShape Examine(const cv::Mat& cutOut) const {
    cv::Mat grey;
    cv::cvtColor(cutOut, grey, cv::COLOR_BGR2GRAY);
    cv::resize(grey, grey, cv::Size(LineWidth(cutOut.size()), kLineHeight), 0, 0, cv::INTER_AREA);
    LineShape shape{InkColumns(grey)};
    const double runs = InkRunsPerHeight(shape.ink);
    shape.chinese = runs > 0 && runs < options_.latinInkRuns;
    return shape;
  }

  // Chinese reads as well from a cut-out squeezed to a fraction of its width, and the recogniser's
  // time follows the width; English letters do not survive as much squeeze. A line that looks Chinese
  // is read squeezed first.
  double FirstSqueeze(bool looksChinese) const {
    return looksChinese ? std::min(options_.firstPassSqueeze, options_.latinSqueeze) : options_.latinSqueeze;
  }

  // The spacing a piece of `whole` is judged by, at `squeeze`: measured on the picture the whole line
  // would have been read from.
  static Spacing WholeLineSpacing(const cv::Mat& whole, double squeeze) {
    return MeasureSpacing(InkColumns(LineGrey(whole, squeeze)));
  }

  // Reads a line or piece at its first squeeze, and again at latinSqueeze when a squeezed first read
  // came out mostly English or doubtful, and once more unsqueezed when the read at latinSqueeze is still
  // doubtful (the letters of small or blurred text run together when squeezed); the most confident read
  // counts. For a piece, `whole` is its line's cut-out and `firstSpacing` that line's spacing at the
  // first squeeze; both null for a whole line.
  LineResult ReadAnyLine(cv::dnn::Net& net, const cv::Mat& cutOut, bool looksChinese, const cv::Mat* whole,
                         const Spacing* firstSpacing) {
    return ReadAgainIfDoubtful(net, cutOut, looksChinese, whole,
                               ReadLine(net, cutOut, FirstSqueeze(looksChinese), firstSpacing));
  }

  // The rereads of ReadAnyLine after its first read, `first`.
  LineResult ReadAgainIfDoubtful(cv::dnn::Net& net, const cv::Mat& cutOut, bool looksChinese,
                                 const cv::Mat* whole, LineResult first) {
    const auto readAgain = [&](const LineResult& before, double squeeze) {
      const std::optional<Spacing> spacing =
          whole != nullptr ? std::optional(WholeLineSpacing(*whole, squeeze)) : std::nullopt;
      LineResult again = ReadLine(net, cutOut, squeeze, spacing ? &*spacing : nullptr);
      again.milliseconds += before.milliseconds;
      again.columns += before.columns;
      again.passes += before.passes;
      again.reread = true;
      return again;
    };
    double squeeze = FirstSqueeze(looksChinese);
    LineResult result = std::move(first);
    if (squeeze < options_.latinSqueeze &&
        (result.latinShare >= options_.maxLatinShare || result.confidence < options_.recheckConfidence)) {
      squeeze = options_.latinSqueeze;
      result = readAgain(result, squeeze);
    }
    if (squeeze == options_.latinSqueeze && squeeze < 1 && result.confidence < options_.fullWidthConfidence) {
      LineResult wide = readAgain(result, 1.0);
      if (wide.confidence >= result.confidence) {
        result = std::move(wide);
      } else {
        result.milliseconds = wide.milliseconds;
        result.columns = wide.columns;
        result.passes = wide.passes;
        result.reread = true;
      }
    }
    return result;
  }

  // The lines as pieces: each line whole, then, while it makes the last thread finish sooner by a
  // twentieth or more, the dearest piece cut in two at a gap between words near its middle.
  std::vector<Piece> CutIntoPieces(const std::vector<LineShape>& shapes, int threads) const {
    std::vector<Piece> pieces;
    const auto cost = [&](const Piece& piece) {
      return (piece.to - piece.from) * FirstSqueeze(shapes[piece.line].chinese) + kPieceOverhead;
    };
    for (std::size_t i = 0; i < shapes.size(); ++i) {
      Piece piece{static_cast<int>(i), 0, static_cast<int>(shapes[i].ink.columns.size())};
      piece.cost = cost(piece);
      pieces.push_back(piece);
    }
    std::vector<double> costs;
    for (const auto& piece : pieces) {
      costs.push_back(piece.cost);
    }
    for (int cuts = 0; threads > 1 && !pieces.empty() && cuts < options_.maxCuts; ++cuts) {
      const auto dearest = std::max_element(pieces.begin(), pieces.end(),
                                            [](const Piece& a, const Piece& b) { return a.cost < b.cost; });
      const InkProfile& ink = shapes[dearest->line].ink;
      const int minGap = static_cast<int>(std::ceil(1.5 * options_.spaceGapRatio * ink.bandHeight));
      const int at = SplitColumn(ink, dearest->from, dearest->to, minGap);
      if (at < 0) {
        break;
      }
      Piece left = *dearest, right = *dearest;
      left.to = right.from = at;
      left.cost = cost(left);
      right.cost = cost(right);
      const auto index = static_cast<std::size_t>(dearest - pieces.begin());
      std::vector<double> after = costs;
      after[index] = left.cost;
      after.push_back(right.cost);
      if (Makespan(after, threads) > 0.95 * Makespan(costs, threads)) {
        break;
      }
      pieces[index] = left;
      pieces.push_back(right);
      costs = std::move(after);
    }
    return pieces;
  }

  std::vector<LineResult> ReadLines(const std::vector<cv::Mat>& cutOuts, Timings& timings) {
    std::vector<LineShape> shapes;
    for (const auto& cutOut : cutOuts) {
      shapes.push_back(Examine(cutOut));
    }
    const bool parallel = options_.parallelLines && cv::getNumThreads() > 1;
    std::vector<Piece> pieces = CutIntoPieces(shapes, parallel ? cv::getNumThreads() : 1);
    // Each cut line's spacing at its first squeeze, measured once for all its pieces.
    std::vector<std::optional<Spacing>> spacings(cutOuts.size());
    for (const auto& piece : pieces) {
      if (piece.from > 0 && !spacings[piece.line]) {
        spacings[piece.line] =
            WholeLineSpacing(cutOuts[piece.line], FirstSqueeze(shapes[piece.line].chinese));
      }
    }
    // Each piece's cut-out and the width of its first read.
    std::vector<cv::Mat> pieceCutOuts;
    std::vector<int> firstWidths;
    for (const auto& piece : pieces) {
      const cv::Mat& cutOut = cutOuts[piece.line];
      const int width = static_cast<int>(shapes[piece.line].ink.columns.size());
      // Profile columns to cut-out columns; a whole line keeps its cut-out as it is.
      const int from = piece.from * cutOut.cols / width;
      const int to = piece.to == width ? cutOut.cols : piece.to * cutOut.cols / width;
      pieceCutOuts.push_back(cutOut.colRange(from, std::max(to, from + 1)));
      firstWidths.push_back(
          PaddedLineWidth(pieceCutOuts.back().size(), FirstSqueeze(shapes[piece.line].chinese)));
    }
    const std::vector<std::vector<int>> batches = Batches(firstWidths, options_.maxBatch);
    std::vector<LineResult> read(pieces.size());
    // Read on OpenCV's threads too, which do not see the worker's own.
    const service::Cancellation* cancellation = service::ThisThreadsCancellation();
    const auto readRange = [&](const cv::Range& range) {
      try {
        auto recognizer = recognizers_->Acquire();
        for (int b = range.start; b < range.end; ++b) {
          if (cancellation != nullptr && cancellation->Cancelled()) {
            break; // the checkpoint between passes: nobody waits for the lines
          }
          std::vector<LineInput> inputs;
          for (int k : batches[b]) {
            const auto& spacing = spacings[pieces[k].line];
            inputs.push_back({pieceCutOuts[k], FirstSqueeze(shapes[pieces[k].line].chinese),
                              spacing ? &*spacing : nullptr});
          }
          std::vector<LineResult> firsts = ReadBatch(*recognizer, inputs);
          for (std::size_t i = 0; i < batches[b].size(); ++i) {
            const int k = batches[b][i];
            const Piece& piece = pieces[k];
            read[k] = ReadAgainIfDoubtful(*recognizer, pieceCutOuts[k], shapes[piece.line].chinese,
                                          spacings[piece.line] ? &cutOuts[piece.line] : nullptr,
                                          std::move(firsts[i]));
          }
        }
      } catch (const cv::Exception& e) {
        read[batches[range.start][0]].error = Reason(e);
      } catch (const std::bad_alloc&) {
        read[batches[range.start][0]].error = "out of memory";
      }
    };
    if (parallel && batches.size() > 1) {
      // One stripe per pass: each stripe borrows its own network, and the networks' own parallel
      // loops run serially inside it (OpenCV does not nest them).
      cv::parallel_for_(cv::Range(0, static_cast<int>(batches.size())), readRange,
                        static_cast<double>(batches.size()));
    } else if (!batches.empty()) {
      readRange(cv::Range(0, static_cast<int>(batches.size())));
    }

    // Each line's pieces joined left to right.
    std::vector<int> order(pieces.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
      return std::pair(pieces[a].line, pieces[a].from) < std::pair(pieces[b].line, pieces[b].from);
    });
    std::vector<LineResult> lines(cutOuts.size());
    std::vector<double> weighted(cutOuts.size(), 0.0);
    for (int k : order) {
      const LineResult& r = read[k];
      if (!r.error.empty()) {
        CV_Error(cv::Error::StsError, r.error);
      }
      timings.recognitionWork += r.milliseconds;
      timings.reread += r.reread;
      timings.passes += r.passes;
      timings.columns += r.columns;
      LineResult& line = lines[pieces[k].line];
      if (!r.text.empty()) {
        if (!line.text.empty() && options_.restoreSpaces && MaySpaceBetween(line.text, r.text)) {
          line.text += ' ';
        }
        line.text += r.text;
      }
      line.characters += r.characters;
      weighted[pieces[k].line] += static_cast<double>(r.confidence) * r.characters;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].characters > 0) {
        lines[i].confidence = static_cast<float>(weighted[i] / lines[i].characters);
      }
    }
    timings.pieces = static_cast<int>(pieces.size());
    return lines;
  }

  const EngineOptions options_;
  const CharacterSet characters_;
  std::unique_ptr<NetPool> detectors_;
  std::unique_ptr<NetPool> recognizers_;
};

std::unique_ptr<Engine> Engine::Load(const EngineOptions& options, std::string& error) {
  const std::string directory = ModelsFolder(options.modelsDirectory);
  if (directory.empty()) {
    error = "no models folder: set QUILLORE_MODELS_DIR, XDG_DATA_HOME or HOME";
    return nullptr;
  }
  const ModelPaths paths = ModelPathsIn(directory);
  std::string detection, recognition, dictionary;
  if (!ReadModelFile(paths.detection, kMaxModelBytes, detection, error) ||
      !ReadModelFile(paths.recognition, kMaxModelBytes, recognition, error) ||
      !ReadModelFile(paths.dictionary, kMaxDictionaryBytes, dictionary, error)) {
    return nullptr;
  }
  CharacterSet characters;
  if (!characters.Parse(dictionary, error)) {
    error = paths.dictionary + ": " + error;
    return nullptr;
  }
  cv::setNumThreads(options.threads > 0 ? options.threads : cv::getNumberOfCPUs());

  // The detector returns zeros after its input size changes when OpenCV fuses its layers.
  auto detectors = std::make_unique<NetPool>("detection", paths.detection, std::move(detection), false);
  auto recognizers =
      std::make_unique<NetPool>("recognition", paths.recognition, std::move(recognition), true);
  auto detector = std::make_unique<cv::dnn::Net>();
  auto recognizer = std::make_unique<cv::dnn::Net>();
  if (!detectors->Build(*detector, error) || !recognizers->Build(*recognizer, error)) {
    return nullptr;
  }
  // A damaged model may load and still fail, or answer in the wrong shape, on its first picture.
  QuietOpenCv quiet;
  try {
    const std::vector<int> detected = OutputShape(*detector, 64, 96);
    if (detected != std::vector<int>{1, 1, 64, 96}) {
      error =
          "the detection model " + paths.detection + " does not give a probability map of its input's size";
      return nullptr;
    }
  } catch (const cv::Exception& e) {
    error = "the detection model " + paths.detection + " fails on a test picture: " + Reason(e);
    return nullptr;
  }
  try {
    const std::vector<int> read = OutputShape(*recognizer, kLineHeight, 96);
    // [1, classes, 1, frames]; a three-dimensional answer comes from an older conversion.
    if (read.size() == 3) {
      error = "the recognition model " + paths.recognition +
              " answers in an older layout: it was converted by an older script; run "
              "scripts/install-models.sh again";
      return nullptr;
    }
    if (read.size() != 4 || read[0] != 1 || read[2] != 1 || read[3] < 1) {
      error = "the recognition model " + paths.recognition + " does not give a sequence of class scores";
      return nullptr;
    }
    if (read[1] != characters.Classes()) {
      error = "the recognition model " + paths.recognition + " has " + std::to_string(read[1]) +
              " classes but the dictionary " + paths.dictionary + " makes " +
              std::to_string(characters.Classes());
      return nullptr;
    }
  } catch (const cv::Exception& e) {
    error = "the recognition model " + paths.recognition + " fails on a test picture: " + Reason(e);
    return nullptr;
  }
  detectors->Adopt(std::move(detector));
  recognizers->Adopt(std::move(recognizer));
  // One recogniser per thread that reads lines at once, built now rather than during the first
  // request (a build takes about a tenth of a second).
  for (int i = 1; options.parallelLines && i < cv::getNumThreads(); ++i) {
    auto more = std::make_unique<cv::dnn::Net>();
    if (!recognizers->Build(*more, error)) {
      return nullptr;
    }
    recognizers->Adopt(std::move(more));
  }
  return std::unique_ptr<Engine>(new Engine(
      std::make_unique<Impl>(options, std::move(characters), std::move(detectors), std::move(recognizers))));
}

Engine::Engine(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Engine::~Engine() = default;

std::vector<Line> Engine::Recognize(const cv::Mat& picture, Timings* timings, std::string* error) {
  Timings local;
  try {
    return impl_->Recognize(picture, timings != nullptr ? *timings : local);
  } catch (const cv::Exception& e) {
    if (error != nullptr) {
      *error = Reason(e);
    }
  } catch (const std::bad_alloc&) {
    if (error != nullptr) {
      *error = "out of memory";
    }
  }
  return {};
}

int Engine::NetworksBuilt() const {
  return impl_->NetworksBuilt();
}

} // namespace quillore::ppocr
