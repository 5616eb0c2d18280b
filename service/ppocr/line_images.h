// The pictures the PP-OCR networks take: the page scaled for the detector, each text box cut out
// straight, and each cut-out scaled for the recogniser.
#pragma once

#include "service/ppocr/text_boxes.h"

#include <opencv2/core.hpp>
#include <vector>

namespace quillore::ppocr {

// The recogniser's input height, fixed by the model.
inline constexpr int kLineHeight = 48;
// The recogniser needs at least one time step (8 columns) per character; and a cut-out is never
// made wider than this, so that one absurd box cannot take the memory.
inline constexpr int kMinLineWidth = 16;
inline constexpr int kMaxLineWidth = 4800;
// Columns of the paper's colour added after the cut-out's end: without them the recogniser tends to
// drop a small last character, a full stop most of all, when the line is squeezed.
inline constexpr int kLineEndPadding = 12;
// Cut-outs at least this many times taller than wide are read as vertical text.
inline constexpr float kUprightRatio = 1.5f;

// The size the detector sees: scaled down so that the long side is at most `maxSide` (never up),
// then each side rounded to a multiple of 32, at least 32. A picture that this would shrink below
// `minScale` (a wide or 4K screenshot, whose small text would fall under what the detector finds) is
// scaled by `minScale` instead, or as near to it as `maxPixels` detector pixels allow.
cv::Size DetectionSize(cv::Size picture, int maxSide, double minScale = 0.5, double maxPixels = 2'200'000);

// `bgr` (CV_8UC3) resized to `size` and normalised with the ImageNet mean and deviation, as an
// NCHW float blob.
cv::Mat DetectionBlob(const cv::Mat& bgr, cv::Size size);

// The quadrilateral of `bgr` warped to an upright rectangle as wide and high as its longer opposite
// sides; turned a quarter counter-clockwise when much taller than wide, so vertical text reads left
// to right.
cv::Mat CutOut(const cv::Mat& bgr, const Quad& quad);

// Width a cut-out gets at the recogniser's height: its aspect kept, times `squeeze`, within the limits
// above.
int LineWidth(cv::Size cutOut, double squeeze = 1.0);

// A cut-out resized to kLineHeight x LineWidth, kLineEndPadding columns added, and normalised to
// -1..1 as an NCHW float blob; `grey` receives the same picture in 8-bit grey.
cv::Mat LineBlob(const cv::Mat& cutOut, cv::Mat& grey, double squeeze = 1.0);

// The input width LineBlob gives a cut-out: LineWidth plus the end padding.
int PaddedLineWidth(cv::Size cutOut, double squeeze = 1.0);

// Several cut-outs as one NCHW blob, each as LineBlob makes it, but padded at its end with its paper's
// colour up to the widest one's width, so that the recogniser reads them in one pass; `greys` receives
// each line's grey picture at that width.
cv::Mat LineBatchBlob(const std::vector<cv::Mat>& cutOuts, const std::vector<double>& squeezes,
                      std::vector<cv::Mat>& greys);

// The `grey` picture of LineBlob alone.
cv::Mat LineGrey(const cv::Mat& cutOut, double squeeze = 1.0);

// Ink of a line picture (8-bit grey): the pixels on the smaller side of an Otsu split, counted per
// column over the band of rows that holds the line itself, the run of inked rows through the middle
// (a cut-out may take in the edges of the lines above and below).
struct InkProfile {
  std::vector<int> columns;
  int bandHeight = 0; // 0 when the picture holds no ink
};
InkProfile InkColumns(const cv::Mat& grey);

// Separate runs of inked columns.
int InkRuns(const InkProfile& profile);

// Separate runs of inked columns per band height: about 1 for Chinese, whose characters are about as
// wide as high, and 1.5 or more for English, digits and capitals included. 0 without ink.
double InkRunsPerHeight(const InkProfile& profile);

// Where a line may be cut in two to be read as two pieces: the middle of a run of blank columns
// between ink in [from, to), at least `minGap` columns wide, whose middle lies in that range's middle
// half and nearest its centre. -1 when there is none (no ink, or no such gap: a line is never cut
// through a character).
int SplitColumn(const InkProfile& profile, int from, int to, int minGap);

} // namespace quillore::ppocr
