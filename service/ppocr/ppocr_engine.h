// The PP-OCR recognition engine: text detection and line recognition networks run with OpenCV's DNN
// module, giving lines with their boxes in reading order.
#pragma once

#include "service/ppocr/text_boxes.h"

#include <array>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace quillore::ppocr {

struct EngineOptions {
  std::string modelsDirectory; // empty: DefaultModelsDirectory()
  int threads = 0;             // OpenCV's threads for the whole process; 0: one per core
  bool parallelLines = true;   // recognise the cut-outs of one picture on several networks at once
  int detectionMaxSide = 960;  // the detector sees the picture with its long side at most this
  // ... unless that shrinks it below this scale (16 px text of a 4K screenshot would be 4 px), as far
  // as the detector's input stays within detectionMaxPixels.
  double detectionMinScale = 0.5;
  double detectionMaxPixels = 2'200'000;
  // A detector keeps buffers sized for the last input it saw, near a hundred megabytes for a
  // full-screen picture, and every worker's detector would keep its own. After an input of more than
  // this many pixels it is run once on a tiny input, which lets those buffers go.
  double detectorKeepPixels = 300'000;
  // A picture whose lines read with a mean character confidence below this is read again turned
  // around, and the reading with more confident characters kept: a page upside down reads as
  // scattered low-confidence guesses.
  bool tryUpsideDown = true;
  float upsideDownConfidence = 0.8f;
  // Before that, this many of its boxes with the most characters are read turned around, and the
  // picture is read again only when they read better so.
  int upsideDownSample = 6;
  DetectionParameters detection;
  // The recogniser's input width relative to the cut-out's aspect. Lines that look Chinese (fewer
  // than latinInkRuns runs of ink per text height) are read at firstPassSqueeze, and again at
  // latinSqueeze when maxLatinShare or more of their characters came out as English letters and
  // digits or their confidence is below recheckConfidence; other lines are read at latinSqueeze.
  // English letters read as well at 0.8 as unsqueezed on the rendered set (and better at small
  // sizes), and lose letters from 0.6. A read at latinSqueeze with a confidence below
  // fullWidthConfidence is read again unsqueezed: small, blurred letters run together when squeezed.
  double firstPassSqueeze = 0.5;
  double latinSqueeze = 0.8;
  double latinInkRuns = 1.35;
  double maxLatinShare = 0.5;
  float recheckConfidence = 0.8f;
  float fullWidthConfidence = 0.9f;
  float minConfidence = 0.5f;  // lines read with a lower mean character probability are dropped
  bool restoreSpaces = true;   // put back spaces between English words from the gaps in the picture
  float spaceGapRatio = 0.17f; // a gap this fraction of the text height wide is a space
  // With parallelLines, a line may be cut at a gap between words (at least 1.5 spaceGapRatio of the
  // text height wide) into pieces read at once, when that makes the threads finish sooner; at most
  // this many cuts per picture.
  int maxCuts = 8;
  // Lines (or pieces) of about the same width read in one pass of the recogniser, at most this many;
  // 1 reads each on its own.
  int maxBatch = 8;
};

struct Line {
  std::string text;         // UTF-8
  std::array<int, 8> box{}; // x1, y1 .. x4, y4: corners clockwise from the top left, picture pixels
  float confidence = 0;
};

// Where one recognition spent its time, in milliseconds.
struct Timings {
  double detection = 0;       // scaling, the detector, finding boxes
  double cutting = 0;         // cutting out the boxes
  double recognition = 0;     // the recogniser and decoding, wall time over all lines
  double recognitionWork = 0; // the same summed over lines (above the wall time when run in parallel)
  int lines = 0;              // boxes recognised
  int pieces = 0;             // pieces read: lines, plus one for each cut
  int reread = 0;             // pieces read squeezed first and again wider
  int passes = 0;             // passes of the recogniser: a batch of similar pieces is read in one
  int columns = 0;            // total width of the recogniser's inputs
  double turned = 0;          // reading the picture again upside down (included in the above)
  int turnedLines = 0;        // boxes read turned around: a sample, or all of them
};

class Engine {
public:
  // Reads the models and the dictionary, builds one detector and one recogniser and runs each once on
  // a small picture, then one more recogniser per further thread when lines are read in parallel. Returns
  // nothing and fills `error` when a file is missing or damaged, or the recogniser's classes do not match the
  // dictionary.
  static std::unique_ptr<Engine> Load(const EngineOptions& options, std::string& error);

  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Lines of a picture (CV_8UC1 grey, CV_8UC3 BGR or CV_8UC4 BGRA) in reading order, lines read with
  // too little confidence left out. Safe to call from several threads at once: each call borrows
  // networks of its own from the engine's pools. When OpenCV fails (out of memory, an unsupported
  // picture type) returns no lines and fills `error` when given.
  std::vector<Line> Recognize(const cv::Mat& picture, Timings* timings = nullptr,
                              std::string* error = nullptr);

  // Networks built so far (detectors + recognisers); each is built on first need and then kept.
  int NetworksBuilt() const;

private:
  class Impl;
  explicit Engine(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

} // namespace quillore::ppocr
