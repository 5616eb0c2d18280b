#include "service/layout.h"

#include "platform/utf8.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <numeric>
#include <tuple>
#include <unordered_set>
#include <utility>

namespace quillore::service {
namespace {

// Skew: fragments at least this many heights wide tell the angle; steeper angles are not a lean.
constexpr double kSkewWidthRatio = 2.0;
constexpr double kMaxSkewDegrees = 30.0;
constexpr double kMinSkewDegrees = 0.05;
// Boxes turned back into the picture are rounded; each nesting level grows by this many pixels so
// that rounding never puts a corner of what it holds outside it.
constexpr double kTurnedMargin = 2.0;
// Fragments sharing more than this part of the smaller height belong to one band of rows.
constexpr double kBandOverlap = 0.25;
// Part of its height a detected box may stick out beyond its text on either side.
constexpr double kBoxPadding = 0.4;
// A gutter is at least this many typical heights wide where it starts; a box that sticks out a
// little further (a detector's box runs past its text) may narrow it down to the second.
constexpr double kMinGutter = 0.5;
constexpr double kKeptGutter = 0.1;
// A gutter needs text on both sides in at least this many rows.
constexpr int kGutterRows = 2;
// Overlap (part of the smaller height) that counts as text on both sides of a gap.
constexpr double kBothSidesOverlap = 0.3;
// One visual row: overlap of most of the smaller height, similar heights.
constexpr double kRowOverlap = 0.6;
constexpr double kRowHeightRatio = 1.8;
// A gap whose rows mostly line up across it and whose fragments are short (in typical heights) is
// a gap inside rows (a label and its value, table cells), not a gutter between columns of prose.
constexpr double kAlignedShare = 0.8;
constexpr double kLongFragment = 10.0;
// The part of the smaller side that must be level with the other for such a gap.
constexpr double kLevelPart = 0.6;
// Fragments level across such a gap have their centres within this part of the smaller height.
constexpr double kLevelCentres = 0.4;
// A band at either end of a run that is this many times the run's usual gap (at least a typical
// height) away from the rest is no part of its columns.
constexpr double kApartGap = 1.5;
// The pieces of a bar across columns have their centres within this part of the smaller height.
constexpr double kBarLevel = 0.25;
// A band at the end of a run this many times its usual gap below the rest is a footer.
constexpr double kFooterGap = 4.0;
// Runs without a gutter that are tried again one band later, before giving up on the rest of a set
// (a bound on the work a page of many rows can cause).
constexpr int kRunRetries = 8;
// Runs of columns whose columns share this part of the narrower one's width go on with the same
// columns.
constexpr double kSameSpan = 0.8;
// Columns nest at most this deep; deeper sets are read as one block.
constexpr int kMaxDepth = 24;
// Neighbours looked at across a gap for each fragment.
constexpr std::size_t kNeighbourScan = 16;
// Paragraphs: left edges within this part of the line height, line pitch within this factor of the
// block's usual pitch and at most kMaxPitch heights, similar heights.
constexpr double kIndentTolerance = 0.6;
constexpr double kPitchTolerance = 1.3;
constexpr double kMaxPitch = 2.0;
constexpr double kParagraphHeightRatio = 1.3;
// Lines start (or end) level, as a column's do, when their left (right) edges are within this many
// typical heights of one another.
constexpr double kStartTolerance = 0.5;
// Values beside labels are short, a few words (in typical heights); a chat pane's bubbles, which
// start wherever their side puts them, are longer.
constexpr double kShortValue = 7.0;
// A list item's line: fewer words than this (a Chinese character counts half) never runs on into
// the next line as a paragraph does.
constexpr double kParagraphWords = 3.0;
// Panels of one form side by side have widths within this many typical heights of one another.
constexpr double kSameWidth = 0.5;
// A table has at least this many rows.
constexpr std::size_t kTableRows = 3;

constexpr double kPi = 3.14159265358979323846;

struct Rect {
  double l = 0, t = 0, r = 0, b = 0;
  double W() const { return r - l; }
  double H() const { return b - t; }
  double Cx() const { return (l + r) / 2; }
  double Cy() const { return (t + b) / 2; }
  void Add(const Rect& o) {
    l = std::min(l, o.l);
    t = std::min(t, o.t);
    r = std::max(r, o.r);
    b = std::max(b, o.b);
  }
  Rect Grown(double by) const { return {l - by, t - by, r + by, b + by}; }
};

struct Interval {
  double l = 0, r = 0;
};

// The picture's frame turned by the dominant angle, so that lines run level.
struct Frame {
  double cosA = 1, sinA = 0, cx = 0, cy = 0;
  bool turned = false;
  std::pair<double, double> In(double x, double y) const {
    const double dx = x - cx, dy = y - cy;
    return {cx + dx * cosA + dy * sinA, cy - dx * sinA + dy * cosA};
  }
  std::pair<double, double> Out(double x, double y) const {
    const double dx = x - cx, dy = y - cy;
    return {cx + dx * cosA - dy * sinA, cy + dx * sinA + dy * cosA};
  }
};

using Corners = std::array<std::pair<double, double>, 4>; // clockwise from the top left

// A box's corners in the frame.
Corners TurnedCorners(const Frame& frame, const std::array<int, 8>& box) {
  Corners corners;
  for (std::size_t k = 0; k < 4; ++k) {
    corners[k] = frame.In(box[2 * k], box[2 * k + 1]);
  }
  return corners;
}

// The level rectangle around corners.
Rect Bounds(const Corners& corners) {
  Rect bound{corners[0].first, corners[0].second, corners[0].first, corners[0].second};
  for (const auto& [x, y] : corners) {
    bound.Add({x, y, x, y});
  }
  return bound;
}

int ToInt(double v) {
  return static_cast<int>(std::lround(std::clamp<double>(v, INT_MIN, INT_MAX)));
}

bool IsCjk(char32_t c) {
  return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x3FFFF);
}

std::vector<char32_t> CodePoints(std::string_view s) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Character c = FirstUtf8Character(s.substr(i));
    out.push_back(c.length == 0 ? U'\uFFFD' : c.codePoint);
    i += c.length == 0 ? 1 : c.length;
  }
  return out;
}

// Weighted median of the angles of wide fragments, in radians; 0 when none leans enough to matter.
double DominantAngle(const std::vector<Fragment>& fragments) {
  std::vector<std::pair<double, double>> angles; // angle, weight
  for (const Fragment& f : fragments) {
    const auto& p = f.box;
    const double topX = p[2] - p[0], topY = p[3] - p[1];
    const double bottomX = p[4] - p[6], bottomY = p[5] - p[7];
    const double sideX = p[6] - p[0], sideY = p[7] - p[1];
    const double width = std::hypot(topX, topY);
    const double height = std::hypot(sideX, sideY);
    if (f.text.empty() || width <= 0 || width < kSkewWidthRatio * height) {
      continue;
    }
    const double a = (std::atan2(topY, topX) + std::atan2(bottomY, bottomX)) / 2;
    if (std::abs(a) <= kMaxSkewDegrees * kPi / 180) {
      angles.emplace_back(a, width);
    }
  }
  if (angles.empty()) {
    return 0;
  }
  std::sort(angles.begin(), angles.end());
  double total = 0;
  for (const auto& [a, w] : angles) {
    total += w;
  }
  double seen = 0;
  for (const auto& [a, w] : angles) {
    seen += w;
    if (seen >= total / 2) {
      return std::abs(a) < kMinSkewDegrees * kPi / 180 ? 0 : a;
    }
  }
  return 0;
}

template <typename T> T Median(std::vector<T> values) {
  if (values.empty()) {
    return T{};
  }
  // The lower median: of two pitches, the usual one is the smaller.
  auto middle = values.begin() + static_cast<std::ptrdiff_t>((values.size() - 1) / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// Intervals covered by both lists (each sorted and disjoint).
std::vector<Interval> Intersect(const std::vector<Interval>& a, const std::vector<Interval>& b) {
  std::vector<Interval> out;
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const double l = std::max(a[i].l, b[j].l);
    const double r = std::min(a[i].r, b[j].r);
    if (r > l) {
      out.push_back({l, r});
    }
    (a[i].r < b[j].r ? i : j)++;
  }
  return out;
}

class Arranger {
public:
  Arranger(const std::vector<Fragment>& fragments, int width, int height) : input_(fragments) {
    const double angle = DominantAngle(fragments);
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    bool first = true;
    for (const Fragment& f : fragments) {
      for (std::size_t k = 0; k < 8; k += 2) {
        minX = first ? f.box[k] : std::min<double>(minX, f.box[k]);
        maxX = first ? f.box[k] : std::max<double>(maxX, f.box[k]);
        minY = first ? f.box[k + 1] : std::min<double>(minY, f.box[k + 1]);
        maxY = first ? f.box[k + 1] : std::max<double>(maxY, f.box[k + 1]);
        first = false;
      }
    }
    frame_.turned = angle != 0;
    frame_.cosA = std::cos(angle);
    frame_.sinA = std::sin(angle);
    frame_.cx = width > 0 && height > 0 ? width / 2.0 : (minX + maxX) / 2;
    frame_.cy = width > 0 && height > 0 ? height / 2.0 : (minY + maxY) / 2;
    layout_.skewDegrees = angle * 180 / kPi;
    margin_ = frame_.turned ? kTurnedMargin : 0;

    bounds_.resize(fragments.size());
    rects_.resize(fragments.size());
    std::vector<double> heights;
    for (std::size_t i = 0; i < fragments.size(); ++i) {
      const Rect bound = Bounds(TurnedCorners(frame_, fragments[i].box));
      bounds_[i] = bound;
      // Ordering works on boxes at least a pixel each way, so that flat boxes still have a row.
      Rect order = bound;
      order.r = std::max(order.r, order.l + 1);
      order.b = std::max(order.b, order.t + 1);
      rects_[i] = order;
      if (!fragments[i].text.empty()) {
        items_.push_back(static_cast<int>(i));
        heights.push_back(order.H());
      }
    }
    unit_ = std::max(1.0, Median(heights));
  }

  Layout Run() {
    if (!items_.empty()) {
      Segment(items_, -1, 0);
    }
    Finish();
    return std::move(layout_);
  }

private:
  const Rect& R(int i) const { return rects_[static_cast<std::size_t>(i)]; }

  // Splits a set into bands of rows, finds runs of bands that share a gutter, and reads each run's
  // columns left to right, the stretches without a gutter in place between them.
  void Segment(std::vector<int> items, int parent, int depth) {
    if (depth >= kMaxDepth || items.size() < 2) {
      Leaf(items, parent);
      return;
    }
    std::sort(items.begin(), items.end(),
              [&](int a, int b) { return std::tie(R(a).t, R(a).l, a) < std::tie(R(b).t, R(b).l, b); });
    double left = R(items[0]).l, right = R(items[0]).r;
    for (int i : items) {
      left = std::min(left, R(i).l);
      right = std::max(right, R(i).r);
    }
    // Bands: fragments that overlap vertically, transitively.
    std::vector<std::pair<std::size_t, std::size_t>> bands;
    double bandBottom = R(items[0]).b;
    std::size_t start = 0;
    for (std::size_t k = 1; k < items.size(); ++k) {
      const Rect& f = R(items[k]);
      if (f.t < bandBottom - kBandOverlap * std::min(f.H(), unit_)) {
        bandBottom = std::max(bandBottom, f.b);
      } else {
        bands.emplace_back(start, k);
        start = k;
        bandBottom = f.b;
      }
    }
    bands.emplace_back(start, items.size());

    const auto holes = [&](std::pair<std::size_t, std::size_t> band) {
      std::vector<Interval> spans;
      for (std::size_t k = band.first; k < band.second; ++k) {
        // Detected boxes are padded: two columns' boxes may touch where their text does not.
        const Rect& f = R(items[k]);
        const double inset = std::min(kBoxPadding * std::min(f.H(), unit_), f.W() / 2);
        spans.push_back({f.l + inset, f.r - inset});
      }
      std::sort(spans.begin(), spans.end(), [](const Interval& a, const Interval& b) { return a.l < b.l; });
      std::vector<Interval> out;
      double cursor = left;
      for (const Interval& s : spans) {
        if (s.l > cursor) {
          out.push_back({cursor, s.l});
        }
        cursor = std::max(cursor, s.r);
      }
      if (cursor < right) {
        out.push_back({cursor, right});
      }
      return out;
    };
    const auto interior = [&](const std::vector<Interval>& gaps, double width = kKeptGutter) {
      std::vector<Interval> out;
      for (const Interval& g : gaps) {
        if (g.l > left && g.r < right && g.r - g.l >= width * unit_) {
          out.push_back(g);
        }
      }
      return out;
    };

    std::vector<int> plain; // consecutive bands without a gutter, read as one block
    // The columns of the run before, kept until it is clear that the next run does not go on with
    // them: a band whose boxes stray into the gutter (a loose box, a line cut at a guess) ends a run
    // that the same columns then take up again below, with a gutter that may not meet the first.
    std::vector<std::vector<int>> pending;
    const auto flushPending = [&] {
      for (std::vector<int>& column : pending) {
        const int id = NewBlock(parent, true);
        Segment(std::move(column), id, depth + 1);
      }
      pending.clear();
    };
    const auto flushPlain = [&] {
      if (!plain.empty()) {
        flushPending();
        Leaf(plain, parent);
        plain.clear();
      }
    };
    int retries = 0;
    for (std::size_t i = 0; i < bands.size();) {
      std::vector<Interval> common = holes(bands[i]);
      std::size_t j = i + 1;
      if (!interior(common, kMinGutter).empty()) {
        for (; j < bands.size(); ++j) {
          std::vector<Interval> next = Intersect(common, holes(bands[j]));
          if (interior(next).empty()) {
            break;
          }
          common = std::move(next);
        }
      }
      // A title bar above the columns or a button row below them may leave the gutter free by
      // chance: a band at either end with text on both sides of a gutter, set apart by a wider gap
      // than the run's own, is read in place instead.
      std::size_t first = i, last = j;
      if (last - first > 2) {
        std::vector<double> gaps;
        for (std::size_t k = first; k + 1 < last; ++k) {
          gaps.push_back(BandTop(items, bands[k + 1]) - BandBottom(items, bands[k]));
        }
        const double usual = std::max(Median(gaps), unit_);
        const std::vector<Interval> gutters = interior(common);
        const auto apart = [&](std::size_t band, double gap) {
          return gap >= kApartGap * usual && Crosses(items, bands[band], gutters);
        };
        // ... unless its pieces start where the columns below start: then it is their first row
        // (a side menu's first item beside its panel's title).
        while (last - first > 2 && apart(first, gaps[first - i]) &&
               !StartsColumns(items, bands[first], bands[first + 1].first, bands[last - 1].second, gutters)) {
          ++first;
        }
        // A footer far below is read after the columns even on one side of the gutter.
        while (last - first > 2 &&
               (apart(last - 1, gaps[last - 2 - i]) || gaps[last - 2 - i] >= kFooterGap * usual)) {
          --last;
        }
      }
      const auto slice = [&](std::size_t from, std::size_t to) {
        return from >= to
                   ? std::vector<int>()
                   : std::vector<int>(items.begin() + static_cast<std::ptrdiff_t>(bands[from].first),
                                      items.begin() + static_cast<std::ptrdiff_t>(bands[to - 1].second));
      };
      std::vector<int> run = slice(first, last);
      bool forms = false;
      std::vector<std::vector<int>> columns = Columns(run, interior(common), forms);
      // Panels of one form end together, their rows level across: a row below them in one panel
      // only is a line under the grid (a hint, a note), read after it.
      for (int trims = 0; forms && trims < kRunRetries && last - first > kTableRows &&
                          OnlyBelowOthers(columns, items, bands[last - 1]);
           ++trims) {
        --last;
        run = slice(first, last);
        columns = Columns(run, interior(common), forms);
      }
      if (columns.size() < 2 && j - i > 1 && retries < kRunRetries) {
        // No gutter after all: perhaps the first band only made the run look like one (a header
        // whose pieces leave a gap that the columns below do not share). Try again after it.
        ++retries;
        const std::vector<int> band = slice(i, i + 1);
        plain.insert(plain.end(), band.begin(), band.end());
        ++i;
        continue;
      }
      const std::vector<int> before = slice(i, first);
      plain.insert(plain.end(), before.begin(), before.end());
      if (columns.size() < 2) {
        plain.insert(plain.end(), run.begin(), run.end());
      } else {
        retries = 0;
        flushPlain();
        if (SameColumns(pending, columns)) {
          for (std::size_t c = 0; c < columns.size(); ++c) {
            pending[c].insert(pending[c].end(), columns[c].begin(), columns[c].end());
          }
        } else {
          flushPending();
          pending = std::move(columns);
        }
      }
      const std::vector<int> after = slice(last, j);
      plain.insert(plain.end(), after.begin(), after.end());
      i = j;
    }
    flushPending();
    flushPlain();
  }

  // Whether the columns of two runs are the same columns: as many, each spanning much the same
  // width as the other.
  bool SameColumns(const std::vector<std::vector<int>>& a, const std::vector<std::vector<int>>& b) const {
    if (a.size() != b.size() || a.empty()) {
      return false;
    }
    const auto span = [&](const std::vector<int>& column) {
      Interval x{R(column[0]).l, R(column[0]).r};
      for (int i : column) {
        x.l = std::min(x.l, R(i).l);
        x.r = std::max(x.r, R(i).r);
      }
      return x;
    };
    for (std::size_t c = 0; c < a.size(); ++c) {
      const Interval p = span(a[c]), q = span(b[c]);
      const double shared = std::min(p.r, q.r) - std::max(p.l, q.l);
      if (shared < kSameSpan * std::min(p.r - p.l, q.r - q.l)) {
        return false;
      }
    }
    return true;
  }

  double BandTop(const std::vector<int>& items, std::pair<std::size_t, std::size_t> band) const {
    double top = R(items[band.first]).t;
    for (std::size_t k = band.first; k < band.second; ++k) {
      top = std::min(top, R(items[k]).t);
    }
    return top;
  }

  double BandBottom(const std::vector<int>& items, std::pair<std::size_t, std::size_t> band) const {
    double bottom = R(items[band.first]).b;
    for (std::size_t k = band.first; k < band.second; ++k) {
      bottom = std::max(bottom, R(items[k]).b);
    }
    return bottom;
  }

  // Whether the band has level pieces left and right of one of the gutters, as a bar across them.
  bool Crosses(const std::vector<int>& items, std::pair<std::size_t, std::size_t> band,
               const std::vector<Interval>& gutters) const {
    for (const Interval& g : gutters) {
      for (std::size_t k = band.first; k < band.second; ++k) {
        const Rect& f = R(items[k]);
        if (f.Cx() >= g.l) {
          continue;
        }
        // A bar's pieces stand level; the first rows of two columns (a list's search box, a
        // chat's title) only happen to share a band.
        for (std::size_t m = band.first; m < band.second; ++m) {
          const Rect& h = R(items[m]);
          if (h.Cx() > g.r && std::abs(f.Cy() - h.Cy()) <= kBarLevel * std::min(f.H(), h.H())) {
            return true;
          }
        }
      }
    }
    return false;
  }

  // Whether every piece of the band right of a gutter starts where lines of the column below it
  // start (items[from, to) being the rest of the run).
  bool StartsColumns(const std::vector<int>& items, std::pair<std::size_t, std::size_t> band,
                     std::size_t from, std::size_t to, const std::vector<Interval>& gutters) const {
    const auto slot = [&](const Rect& f) {
      std::size_t k = 0;
      while (k < gutters.size() && f.Cx() >= (gutters[k].l + gutters[k].r) / 2) {
        ++k;
      }
      return k;
    };
    for (std::size_t k = band.first; k < band.second; ++k) {
      const Rect& f = R(items[k]);
      const std::size_t column = slot(f);
      if (column == 0) {
        continue;
      }
      int level = 0;
      for (std::size_t m = from; m < to && level < kGutterRows; ++m) {
        const Rect& g = R(items[m]);
        level += slot(g) == column && std::abs(g.l - f.l) <= kStartTolerance * unit_ ? 1 : 0;
      }
      if (level < kGutterRows) {
        return false;
      }
    }
    return true;
  }

  // The run's fragments split at its gutters, with neighbours merged where the gap between them is
  // no gutter after all.
  // Whether the band's fragments sit in one column, below everything of the others.
  bool OnlyBelowOthers(const std::vector<std::vector<int>>& columns, const std::vector<int>& items,
                       std::pair<std::size_t, std::size_t> band) const {
    const std::unordered_set<int> inBand(items.begin() + static_cast<std::ptrdiff_t>(band.first),
                                         items.begin() + static_cast<std::ptrdiff_t>(band.second));
    const double top = BandTop(items, band);
    int homes = 0;
    for (const std::vector<int>& column : columns) {
      const auto own = static_cast<std::size_t>(
          std::count_if(column.begin(), column.end(), [&](int i) { return inBand.contains(i); }));
      if (own == inBand.size()) {
        ++homes;
      } else if (own != 0 || std::any_of(column.begin(), column.end(), [&](int i) { return R(i).b > top; })) {
        return false;
      }
    }
    return homes == 1;
  }

  std::vector<std::vector<int>> Columns(const std::vector<int>& run, const std::vector<Interval>& gutters,
                                        bool& forms) {
    forms = false;
    std::vector<std::vector<int>> columns(gutters.size() + 1);
    for (int i : run) {
      std::size_t slot = 0;
      while (slot < gutters.size() && R(i).Cx() >= (gutters[slot].l + gutters[slot].r) / 2) {
        ++slot;
      }
      columns[slot].push_back(i);
    }
    std::erase_if(columns, [](const std::vector<int>& c) { return c.empty(); });
    const std::vector<std::vector<int>> slots = columns;
    for (bool merged = true; merged && columns.size() > 1;) {
      merged = false;
      std::vector<std::vector<int>> next;
      next.push_back(std::move(columns[0]));
      for (std::size_t k = 1; k < columns.size(); ++k) {
        if (IsGutter(next.back(), columns[k])) {
          next.push_back(std::move(columns[k]));
        } else {
          next.back().insert(next.back().end(), columns[k].begin(), columns[k].end());
          merged = true;
        }
      }
      columns = std::move(next);
    }
    if (columns.size() == 1) {
      if (std::vector<std::vector<int>> panels = RepeatedForms(slots); !panels.empty()) {
        forms = true;
        return panels;
      }
    }
    return columns;
  }

  // Panels side by side that repeat one form (labels and their values, of one overall width, with
  // at least a table's rows) are columns even though their rows are level across too: a grid of
  // settings, read panel by panel, not one table. The slots are cut into consecutive panels of one
  // width; empty when they form no such grid.
  std::vector<std::vector<int>> RepeatedForms(const std::vector<std::vector<int>>& slots) const {
    std::vector<Rect> extents;
    for (const std::vector<int>& slot : slots) {
      Rect extent = R(slot[0]);
      for (int i : slot) {
        extent.Add(R(i));
      }
      extents.push_back(extent);
    }
    // Whether slots [from, to) make one panel: every value level with a label of the panel's first slot.
    const auto panel = [&](std::size_t from, std::size_t to) {
      std::vector<int> labels = Sorted(slots[from]);
      if (labels.size() < kTableRows) {
        return false;
      }
      for (std::size_t k = from + 1; k < to; ++k) {
        if (slots[k].size() < kTableRows ||
            Across(Sorted(slots[k]), labels).aligned != static_cast<int>(slots[k].size())) {
          return false;
        }
      }
      return true;
    };
    for (std::size_t end = 1; end < slots.size(); ++end) {
      const double width = extents[end - 1].r - extents[0].l;
      std::vector<std::size_t> cuts = {0, end};
      while (cuts.back() < slots.size()) {
        std::size_t next = cuts.back();
        while (next < slots.size() && extents[next].r - extents[cuts.back()].l < width - kSameWidth * unit_) {
          ++next;
        }
        if (next == slots.size() ||
            std::abs(extents[next].r - extents[cuts.back()].l - width) > kSameWidth * unit_) {
          break;
        }
        cuts.push_back(next + 1);
      }
      if (cuts.back() != slots.size()) {
        continue;
      }
      // Columns of one width alone are a table's: some panel pairs labels with values.
      bool grid = false;
      for (std::size_t g = 0; g + 1 < cuts.size(); ++g) {
        grid |= cuts[g + 1] - cuts[g] > 1;
      }
      for (std::size_t g = 0; g + 1 < cuts.size() && grid; ++g) {
        grid = panel(cuts[g], cuts[g + 1]);
      }
      if (grid) {
        std::vector<std::vector<int>> panels;
        for (std::size_t g = 0; g + 1 < cuts.size(); ++g) {
          panels.emplace_back();
          for (std::size_t k = cuts[g]; k < cuts[g + 1]; ++k) {
            panels.back().insert(panels.back().end(), slots[k].begin(), slots[k].end());
          }
        }
        return panels;
      }
    }
    return {};
  }

  struct SideCounts {
    int overlapping = 0; // fragments with text across the gap in their row
    int aligned = 0;     // of those, fragments on one visual row with one across
    int alone = 0;       // fragments beside the other side's text with no row level across
  };

  // How the fragments of `a` meet those of `b` (sorted by top) row by row.
  SideCounts Across(const std::vector<int>& a, const std::vector<int>& b) const {
    std::vector<double> tops(b.size());
    double tallest = 0, bottom = -HUGE_VAL;
    for (std::size_t k = 0; k < b.size(); ++k) {
      tops[k] = R(b[k]).t;
      tallest = std::max(tallest, R(b[k]).H());
      bottom = std::max(bottom, R(b[k]).b);
    }
    SideCounts counts;
    for (int i : a) {
      const Rect& f = R(i);
      bool both = false, aligned = false;
      // The nearest fragments starting above f's bottom, looking upward.
      auto end = static_cast<std::size_t>(std::lower_bound(tops.begin(), tops.end(), f.b) - tops.begin());
      for (std::size_t seen = 0; end > 0 && seen < kNeighbourScan && !aligned; ++seen) {
        const Rect& g = R(b[--end]);
        if (g.t < f.t - tallest) {
          break;
        }
        const double overlap = std::min(f.b, g.b) - std::max(f.t, g.t);
        const double smaller = std::min(f.H(), g.H());
        if (overlap > kBothSidesOverlap * smaller) {
          both = true;
          // Rows of one form or table are level; neighbouring columns of similar pitch meet only
          // roughly.
          aligned = std::abs(f.Cy() - g.Cy()) <= kLevelCentres * smaller &&
                    std::max(f.H(), g.H()) <= kRowHeightRatio * smaller;
        }
      }
      counts.overlapping += both ? 1 : 0;
      counts.aligned += aligned ? 1 : 0;
      counts.alone += !aligned && !tops.empty() && f.t >= tops.front() && f.b <= bottom ? 1 : 0;
    }
    return counts;
  }

  // The left edges where the rows of `items` (sorted by top) start, or the right edges where they
  // end, one per row.
  std::vector<double> RowEdges(const std::vector<int>& items, bool ends) const {
    std::vector<double> edges;
    double bottom = -HUGE_VAL;
    for (int i : items) {
      const Rect& f = R(i);
      if (!edges.empty() && f.t < bottom - kBandOverlap * std::min(f.H(), unit_)) {
        edges.back() = ends ? std::max(edges.back(), f.r) : std::min(edges.back(), f.l);
        bottom = std::max(bottom, f.b);
      } else {
        edges.push_back(ends ? f.r : f.l);
        bottom = f.b;
      }
    }
    return edges;
  }

  // The most rows of `items` (sorted by top) whose edges are level.
  std::size_t LevelRows(const std::vector<int>& items, bool ends) const {
    std::vector<double> edges = RowEdges(items, ends);
    std::sort(edges.begin(), edges.end());
    std::size_t most = 0;
    for (std::size_t from = 0, to = 0; to < edges.size(); ++to) {
      while (edges[to] - edges[from] > kStartTolerance * unit_) {
        ++from;
      }
      most = std::max(most, to - from + 1);
    }
    return most;
  }

  // Whether the rows of `items` (sorted by top) start level, as a column's do (a chat pane's too,
  // its names and bubbles starting at two indents), at least as often as they end level, as a
  // label's right-aligned values do.
  bool StartsLevel(const std::vector<int>& items) const {
    const std::size_t starts = LevelRows(items, false);
    // Two rows that start apart are no column either.
    return starts >= 2 && starts >= LevelRows(items, true);
  }

  double MedianWidth(const std::vector<int>& items) const {
    std::vector<double> widths;
    for (int i : items) {
      widths.push_back(R(i).W());
    }
    return Median(widths);
  }

  // `items` by top edge (then by index, for a stable order).
  std::vector<int> Sorted(std::vector<int> items) const {
    std::sort(items.begin(), items.end(),
              [&](int x, int y) { return std::tie(R(x).t, x) < std::tie(R(y).t, y); });
    return items;
  }

  // A gap between two neighbouring columns is a gutter when it persists with text on both sides over
  // several rows, and it does not merely separate the cells of rows that line up across it.
  bool IsGutter(const std::vector<int>& unsortedA, const std::vector<int>& unsortedB) const {
    const std::vector<int> a = Sorted(unsortedA), b = Sorted(unsortedB);
    const SideCounts ab = Across(a, b);
    const SideCounts ba = Across(b, a);
    if (std::min(ab.overlapping, ba.overlapping) < kGutterRows) {
      return false;
    }
    // The right side of a gutter is a column: its rows start level. Right-aligned values beside
    // their labels start wherever their text's width puts them, so the gap between them, varying
    // row by row, is none.
    if (!StartsLevel(b) && MedianWidth(b) < kShortValue * unit_) {
      return false;
    }
    // Counted over the rows with text on both sides: in a form or table nearly every such row is
    // level across the gap, while neighbouring columns meet level only here and there.
    const double alignedShare =
        static_cast<double>(ab.aligned + ba.aligned) / static_cast<double>(ab.overlapping + ba.overlapping);
    // ... and they make up much of the smaller side, not a chance meeting of two rows.
    const SideCounts& smaller = a.size() <= b.size() ? ab : ba;
    const bool mostlyLevel = static_cast<double>(smaller.aligned) >=
                             kLevelPart * static_cast<double>(std::min(a.size(), b.size()));
    const bool shortFragments = std::min(MedianWidth(a), MedianWidth(b)) < kLongFragment * unit_;
    // Labels may lack values (a heading, a description below), but a value always has its label:
    // text on the right beside the left side's, with no row level across, is a column's own line
    // that meets the other column's level only by the chance of one pitch.
    return !(alignedShare >= kAlignedShare && mostlyLevel && shortFragments && ba.alone == 0);
  }

  int NewBlock(int parent, bool column) {
    layout_.blocks.push_back({parent, column, {}});
    blockRects_.emplace_back();
    blockHasRect_.push_back(false);
    return static_cast<int>(layout_.blocks.size()) - 1;
  }

  struct Row {
    std::vector<int> items;
    double sumT = 0, sumB = 0;
    double T() const { return sumT / static_cast<double>(items.size()); }
    double B() const { return sumB / static_cast<double>(items.size()); }
    void Add(int i, const Rect& r) {
      items.push_back(i);
      sumT += r.t;
      sumB += r.b;
    }
  };

  bool SameRow(const Rect& f, const Row& row) const {
    const double t = row.T(), b = row.B();
    const double overlap = std::min(f.b, b) - std::max(f.t, t);
    const double smaller = std::min(f.H(), b - t);
    const double larger = std::max(f.H(), b - t);
    return smaller > 0 && overlap >= kRowOverlap * smaller && larger <= kRowHeightRatio * smaller;
  }

  // A stretch without a gutter: rows, then tables and paragraphs among them.
  void Leaf(std::vector<int> items, int parent) {
    const int block = NewBlock(parent, false);
    std::sort(items.begin(), items.end(), [&](int a, int b) {
      return std::make_tuple(R(a).Cy(), R(a).l, a) < std::make_tuple(R(b).Cy(), R(b).l, b);
    });
    std::vector<Row> rows;
    for (int i : items) {
      const Rect& f = R(i);
      bool placed = false;
      // The row before the last too, so a small fragment between two rows' centres does not cut one.
      for (std::size_t back = 1; back <= 2 && back <= rows.size() && !placed; ++back) {
        Row& row = rows[rows.size() - back];
        if (SameRow(f, row)) {
          row.Add(i, f);
          placed = true;
        }
      }
      if (!placed) {
        rows.emplace_back().Add(i, f);
      }
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.T() + a.B() < b.T() + b.B(); });
    const std::size_t firstLine = layout_.lines.size();
    for (Row& row : rows) {
      std::sort(row.items.begin(), row.items.end(),
                [&](int a, int b) { return std::tie(R(a).l, R(a).t, a) < std::tie(R(b).l, R(b).t, b); });
      LayoutLine line;
      line.block = block;
      Rect bound = bounds_[static_cast<std::size_t>(row.items[0])];
      for (int i : row.items) {
        const auto index = static_cast<std::size_t>(i);
        bound.Add(bounds_[index]);
        line.text += line.fragments.empty() ? "" : " ";
        line.text += input_[index].text;
        line.fragments.push_back(index);
      }
      layout_.lines.push_back(std::move(line));
      lineRects_.push_back(bound);
    }
    FindTables(firstLine);
    FindParagraphs(firstLine);
  }

  // Runs of at least kTableRows lines with two fragments or more whose x-ranges stay in separate
  // columns: no fragment bridges two columns, and every row has text in two of them.
  void FindTables(std::size_t firstLine) {
    const std::size_t end = layout_.lines.size();
    for (std::size_t i = firstLine; i < end;) {
      std::map<double, std::pair<double, int>> columns; // left -> right, id
      std::vector<double> leftOf;                       // each column's key in `columns`, by id
      std::vector<std::vector<int>> ids;                // per row, per fragment
      std::size_t j = i;
      for (; j < end; ++j) {
        const LayoutLine& line = layout_.lines[j];
        if (line.fragments.size() < 2) {
          break;
        }
        std::vector<int> rowIds;
        bool fits = true;
        double previousRight = -HUGE_VAL;
        for (std::size_t f : line.fragments) {
          const Rect& r = rects_[f];
          if (r.l < previousRight) {
            fits = false; // fragments of the row overlap each other
            break;
          }
          previousRight = r.r;
          auto it = columns.upper_bound(r.l);
          int found = -1, count = 0;
          if (it != columns.begin() && std::prev(it)->second.first > r.l) {
            found = std::prev(it)->second.second;
            ++count;
          }
          for (; it != columns.end() && it->first < r.r; ++it) {
            found = it->second.second;
            ++count;
          }
          if (count > 1) {
            fits = false;
            break;
          }
          rowIds.push_back(found);
        }
        std::vector<int> distinct;
        for (std::size_t k = 0; fits && k < rowIds.size(); ++k) {
          if (rowIds[k] < 0 || std::find(distinct.begin(), distinct.end(), rowIds[k]) == distinct.end()) {
            distinct.push_back(rowIds[k]);
          }
        }
        if (!fits || distinct.size() < 2) {
          break;
        }
        for (std::size_t k = 0; k < line.fragments.size(); ++k) {
          Rect r = rects_[line.fragments[k]];
          int id = rowIds[k];
          if (id >= 0) {
            const auto it = columns.find(leftOf[static_cast<std::size_t>(id)]);
            r.l = std::min(r.l, it->first);
            r.r = std::max(r.r, it->second.first);
            columns.erase(it);
          } else {
            id = static_cast<int>(leftOf.size());
            leftOf.push_back(0);
          }
          rowIds[k] = id;
          leftOf[static_cast<std::size_t>(id)] = r.l;
          columns[r.l] = {r.r, id};
        }
        ids.push_back(std::move(rowIds));
      }
      if (j - i >= kTableRows) {
        MakeTable(i, columns, ids);
        i = j;
      } else {
        i = std::max(j, i + 1);
      }
    }
  }

  void MakeTable(std::size_t first, const std::map<double, std::pair<double, int>>& columns,
                 const std::vector<std::vector<int>>& ids) {
    std::map<int, int> rank;
    for (const auto& [l, column] : columns) {
      rank.emplace(column.second, static_cast<int>(rank.size()));
    }
    LayoutTable table;
    table.columns = static_cast<int>(columns.size());
    table.firstLine = first;
    const int number = static_cast<int>(layout_.tables.size());
    for (std::size_t row = 0; row < ids.size(); ++row) {
      LayoutLine& line = layout_.lines[first + row];
      line.table = number;
      line.row = static_cast<int>(row);
      std::vector<std::string>& cells = table.rows.emplace_back(columns.size());
      for (std::size_t k = 0; k < line.fragments.size(); ++k) {
        const int column = rank[ids[row][k]];
        line.cells.push_back(column);
        std::string& cell = cells[static_cast<std::size_t>(column)];
        cell += cell.empty() ? "" : " ";
        cell += input_[line.fragments[k]].text;
      }
    }
    layout_.tables.push_back(std::move(table));
  }

  // Whether `next` continues the paragraph that `previous` ends, in a block whose lines reach
  // `blockRight` and are usually `pitch` apart (0 when unknown).
  bool Continues(std::size_t previous, std::size_t next, double blockRight, double pitch) const {
    const LayoutLine& a = layout_.lines[previous];
    const LayoutLine& b = layout_.lines[next];
    const Rect& ra = lineRects_[previous];
    const Rect& rb = lineRects_[next];
    if (a.table >= 0 || b.table >= 0) {
      return false;
    }
    const double ha = std::max(ra.H(), 1.0), hb = std::max(rb.H(), 1.0);
    if (std::max(ha, hb) > kParagraphHeightRatio * std::min(ha, hb)) {
      return false;
    }
    const double h = (ha + hb) / 2;
    const double step = rb.Cy() - ra.Cy();
    if (std::abs(rb.l - ra.l) > kIndentTolerance * h || step <= 0 || step > kMaxPitch * h ||
        (pitch > 0 && step > kPitchTolerance * pitch)) {
      return false;
    }
    // A list's short items end where they end, however close to the block's edge.
    if (Words(a.text) < kParagraphWords) {
      return false;
    }
    // The line before broke only because the next line's first word did not fit after it.
    const std::vector<char32_t> text = CodePoints(b.text);
    if (text.empty()) {
      return false;
    }
    const double charWidth = rb.W() / static_cast<double>(text.size());
    std::size_t firstWord = 1; // a Chinese character is a word of its own
    while (!IsCjk(text[0]) && firstWord < text.size() && text[firstWord] != U' ' && !IsCjk(text[firstWord])) {
      ++firstWord;
    }
    return blockRight - ra.r < static_cast<double>(firstWord + 1) * charWidth + h / 2;
  }

  // Words in a line, a Chinese character counting half of one.
  static double Words(std::string_view text) {
    double words = 0;
    bool inWord = false;
    for (char32_t c : CodePoints(text)) {
      if (IsCjk(c)) {
        words += 0.5;
        inWord = false;
      } else if (c == U' ') {
        inWord = false;
      } else {
        words += inWord ? 0 : 1;
        inWord = true;
      }
    }
    return words;
  }

  void FindParagraphs(std::size_t firstLine) {
    const std::size_t end = layout_.lines.size();
    double blockRight = -HUGE_VAL;
    std::vector<double> steps;
    for (std::size_t k = firstLine; k < end; ++k) {
      if (layout_.lines[k].table < 0) {
        blockRight = std::max(blockRight, lineRects_[k].r);
      }
      if (k > firstLine) {
        const double step = lineRects_[k].Cy() - lineRects_[k - 1].Cy();
        if (step > 0 && step <= kMaxPitch * std::max(lineRects_[k].H(), 1.0)) {
          steps.push_back(step);
        }
      }
    }
    const double pitch = Median(steps);
    for (std::size_t k = firstLine; k < end; ++k) {
      if (k > firstLine && Continues(k - 1, k, blockRight, pitch)) {
        LayoutParagraph& paragraph = layout_.paragraphs.back();
        const std::vector<char32_t> before = CodePoints(paragraph.text);
        const std::vector<char32_t> after = CodePoints(layout_.lines[k].text);
        const bool tight = !before.empty() && !after.empty() && IsCjk(before.back()) && IsCjk(after.front());
        paragraph.text += tight ? "" : " ";
        paragraph.text += layout_.lines[k].text;
        ++paragraph.lineCount;
      } else {
        layout_.paragraphs.push_back({k, 1, layout_.lines[k].text});
      }
      layout_.lines[k].paragraph = static_cast<int>(layout_.paragraphs.size()) - 1;
    }
  }

  std::array<int, 8> BoxOf(const Rect& r) const {
    const std::pair<double, double> corners[4] = {frame_.Out(r.l, r.t), frame_.Out(r.r, r.t),
                                                  frame_.Out(r.r, r.b), frame_.Out(r.l, r.b)};
    std::array<int, 8> box{};
    for (std::size_t k = 0; k < 4; ++k) {
      box[2 * k] = ToInt(corners[k].first);
      box[2 * k + 1] = ToInt(corners[k].second);
    }
    return box;
  }

  // Boxes: each line grown by the margin encloses its fragments; each block grown again encloses
  // what it holds, so rounding in a turned frame keeps every box inside the one around it.
  void Finish() {
    for (std::size_t k = 0; k < layout_.lines.size(); ++k) {
      const Rect grown = lineRects_[k].Grown(margin_);
      layout_.lines[k].box = BoxOf(grown);
      AddToBlock(layout_.lines[k].block, grown);
    }
    // Children come after their parent, so going backwards finishes each block before its parent.
    for (std::size_t k = layout_.blocks.size(); k-- > 0;) {
      const Rect grown = blockRects_[k].Grown(margin_);
      layout_.blocks[k].box = BoxOf(grown);
      if (layout_.blocks[k].parent >= 0) {
        AddToBlock(layout_.blocks[k].parent, grown);
      }
    }
  }

  void AddToBlock(int block, const Rect& r) {
    const auto k = static_cast<std::size_t>(block);
    if (blockHasRect_[k]) {
      blockRects_[k].Add(r);
    } else {
      blockRects_[k] = r;
      blockHasRect_[k] = true;
    }
  }

  const std::vector<Fragment>& input_;
  Frame frame_;
  double margin_ = 0;
  double unit_ = 1;          // the typical fragment height
  std::vector<Rect> bounds_; // each fragment's extent in the frame
  std::vector<Rect> rects_;  // the same, at least a pixel each way, for ordering
  std::vector<int> items_;   // fragments with text
  std::vector<Rect> lineRects_;
  std::vector<Rect> blockRects_;
  std::vector<bool> blockHasRect_;
  Layout layout_;
};

// Cutting lines that a detector ran across a gutter.
// A line this many typical heights wide may bridge two columns.
constexpr double kCutWidth = 12.0;
// Its neighbours are the other rows within this many typical heights above and below it.
constexpr double kCutWindow = 4.0;
// Neighbours starting within kCutEdge heights before its left edge and kCutColumn after it (an
// indented paragraph's first line) belong to its first column, those starting more than kCutColumn
// heights inside it to the next; lines like it end within kCutEdge of where it ends.
constexpr double kCutEdge = 1.0;
constexpr double kCutColumn = 3.0;
// The gutter between those columns is at least the first and at most the second many typical
// heights wide.
constexpr double kCutGutter = 0.1;
constexpr double kCutMaxGutter = 4.0;
// A line below its columns' lines at most this many typical heights is their last line.
constexpr double kCutPitch = 1.0;
// Passes over the lines, at most (each may cut lines that the one before revealed).
constexpr int kCutPasses = 4;
// Neighbours looked at around a line, at most.
constexpr std::size_t kCutNeighbours = 256;
// A line's lean (the rise of its top edge over its height) below which it is level enough to cut.
constexpr double kCutLevel = 0.5;

bool MostlyCjk(std::string_view text) {
  std::size_t cjk = 0, other = 0;
  for (const char32_t c : CodePoints(text)) {
    if (c != U' ') {
      (IsCjk(c) ? cjk : other) += 1;
    }
  }
  return cjk >= other;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') {
    text.pop_back();
  }
  std::size_t start = 0;
  while (start < text.size() && text[start] == ' ') {
    ++start;
  }
  return text.substr(start);
}

// Byte offsets of the code points of `text`, with its size at the end.
std::vector<std::size_t> CodePointOffsets(std::string_view text) {
  std::vector<std::size_t> offsets;
  std::size_t at = 0;
  while (at < text.size()) {
    offsets.push_back(at);
    const Utf8Character c = FirstUtf8Character(text.substr(at));
    at += c.length == 0 ? 1 : c.length;
  }
  offsets.push_back(text.size());
  return offsets;
}

} // namespace

namespace {

// One pass of CutAcrossGutters.
std::vector<Fragment> CutOnce(const std::vector<Fragment>& fragments) {
  // Worked out in the frame of the page's lean, as the layout stage orders.
  const double angle = DominantAngle(fragments);
  Frame frame;
  frame.cosA = std::cos(angle);
  frame.sinA = std::sin(angle);
  std::vector<Corners> corners;
  std::vector<Rect> extents;
  std::vector<double> heights;
  for (const Fragment& f : fragments) {
    corners.push_back(TurnedCorners(frame, f.box));
    extents.push_back(Bounds(corners.back()));
    if (!f.text.empty()) {
      heights.push_back(extents.back().H());
    }
  }
  if (heights.empty()) {
    return fragments;
  }
  const double unit = std::max(1.0, Median(heights));
  std::vector<std::size_t> byTop(fragments.size());
  std::iota(byTop.begin(), byTop.end(), std::size_t{0});
  std::sort(byTop.begin(), byTop.end(),
            [&](std::size_t a, std::size_t b) { return extents[a].t < extents[b].t; });

  std::vector<Fragment> out;
  out.reserve(fragments.size());
  for (std::size_t i = 0; i < fragments.size(); ++i) {
    const Fragment& f = fragments[i];
    const Rect& e = extents[i];
    const auto& c = corners[i];
    const double h = e.H();
    const bool level = std::abs(c[1].second - c[0].second) <= kCutLevel * h &&
                       std::abs(c[2].second - c[3].second) <= kCutLevel * h && c[1].first > c[0].first &&
                       c[2].first > c[3].first;
    if (!level || h <= 0 || h > 2 * unit || e.W() < kCutWidth * unit || f.text.empty()) {
      out.push_back(f);
      continue;
    }
    // Lines of the first column (starting about where this one starts and ending well before its
    // end) and of the next (starting well inside it), above and below it; nothing else may reach
    // across between them.
    struct Side {
      double edge;
      bool above;
      bool close; // right above, at the columns' own pitch
    };
    std::vector<Side> lefts, rights;
    bool crowded = false, crossed = false;
    auto k = static_cast<std::size_t>(
        std::lower_bound(byTop.begin(), byTop.end(), e.t - kCutWindow * unit - 2 * unit,
                         [&](std::size_t a, double top) { return extents[a].t < top; }) -
        byTop.begin());
    std::size_t looked = 0;
    for (; k < byTop.size() && extents[byTop[k]].t < e.b + kCutWindow * unit; ++k) {
      // A crowd this dense around one line is no page of two columns; it bounds the work too.
      if (++looked > kCutNeighbours) {
        crowded = true;
        break;
      }
      const std::size_t j = byTop[k];
      const Rect& g = extents[j];
      const double overlap = std::min(e.b, g.b) - std::max(e.t, g.t);
      if (j == i || fragments[j].text.empty() || overlap > kBandOverlap * std::min(h, g.H()) ||
          g.b < e.t - kCutWindow * unit) {
        continue;
      }
      const bool above = g.b <= e.t + kBandOverlap * h;
      const bool close = above && e.t - g.b <= kCutPitch * unit;
      // Detected boxes are padded: two columns' boxes may touch where their text does not.
      const double inset = std::min(kBoxPadding * std::min(g.H(), unit), g.W() / 2);
      if (g.l >= e.l - kCutEdge * unit && g.l <= e.l + kCutColumn * unit && g.r < e.r - kCutColumn * unit) {
        lefts.push_back({g.r - inset, above, close});
      } else if (g.l > e.l + kCutColumn * unit && g.l < e.r - kCutColumn * unit) {
        rights.push_back({g.l + inset, above, close});
      } else if (!(std::abs(g.l - e.l) <= kCutEdge * unit && std::abs(g.r - e.r) <= kCutEdge * unit)) {
        // Another line across both columns like this one is bridged too; anything else that
        // reaches into the space between them may be a line of its own there.
        crossed |= g.r > e.l + kCutColumn * unit && g.l < e.r - kCutColumn * unit;
      }
    }
    double gr = HUGE_VAL, gl = -HUGE_VAL;
    bool leftAbove = false, leftBelow = false, rightAbove = false, rightBelow = false;
    bool leftClose = false, rightClose = false;
    for (const Side& side : rights) {
      gr = std::min(gr, side.edge);
      (side.above ? rightAbove : rightBelow) = true;
      rightClose |= side.close;
    }
    // A first-column line that runs on past the last column's start is bridged too (its second
    // part short): it marks no edge of the gutter.
    for (const Side& side : lefts) {
      if (side.edge < gr) {
        gl = std::max(gl, side.edge);
        (side.above ? leftAbove : leftBelow) = true;
        leftClose |= side.close;
      }
    }
    // Columns above and below it, or its columns' last line right below their lines (a line across
    // the page below columns is set apart by a wider gap).
    const bool between = (leftAbove && leftBelow && rightAbove && rightBelow) || (leftClose && rightClose);
    // A gutter is narrow: a wide gap means the first column's lines seen here are short ones (a
    // heading), which tell nothing of where the column ends.
    const double gutter = gr - gl;
    if (crowded || crossed || !between || gutter < kCutGutter * unit || gutter > kCutMaxGutter * unit) {
      out.push_back(f);
      continue;
    }
    const std::vector<std::size_t> offsets = CodePointOffsets(f.text);
    const std::size_t count = offsets.size() - 1;
    const double charWidth = (e.W() - (gr - gl)) / static_cast<double>(count);
    if (count < 2 || charWidth <= 0) {
      out.push_back(f);
      continue;
    }
    auto at = static_cast<std::size_t>(
        std::clamp<long>(std::lround((gl - e.l) / charWidth), 1, static_cast<long>(count) - 1));
    if (!MostlyCjk(f.text)) {
      // Latin letters differ in width: cut at the nearest space.
      const std::size_t reach = std::max<std::size_t>(2, count / 8);
      std::size_t best = 0;
      for (std::size_t n = at > reach ? at - reach : 1; n <= std::min(count - 1, at + reach); ++n) {
        const auto distance = [&](std::size_t m) { return m > at ? m - at : at - m; };
        if (f.text[offsets[n]] == ' ' && (best == 0 || distance(n) < distance(best))) {
          best = n;
        }
      }
      if (best == 0) {
        out.push_back(f);
        continue;
      }
      at = best;
    }
    Fragment left = f, right = f;
    left.text = Trimmed(f.text.substr(0, offsets[at]));
    right.text = Trimmed(f.text.substr(offsets[at]));
    if (left.text.empty() || right.text.empty()) {
      out.push_back(f);
      continue;
    }
    // The box cut along its top and bottom edges where they cross the gutter's edges.
    const auto along = [&](std::size_t from, std::size_t to, double x) {
      const double t = std::clamp((x - c[from].first) / (c[to].first - c[from].first), 0.0, 1.0);
      const int fx = f.box[2 * from], fy = f.box[2 * from + 1];
      return std::pair<int, int>{ToInt(fx + t * (f.box[2 * to] - fx)),
                                 ToInt(fy + t * (f.box[2 * to + 1] - fy))};
    };
    std::tie(left.box[2], left.box[3]) = along(0, 1, gl);
    std::tie(left.box[4], left.box[5]) = along(3, 2, gl);
    std::tie(right.box[0], right.box[1]) = along(0, 1, gr);
    std::tie(right.box[6], right.box[7]) = along(3, 2, gr);
    out.push_back(std::move(left));
    out.push_back(std::move(right));
  }
  return out;
}

} // namespace

std::vector<Fragment> CutAcrossGutters(const std::vector<Fragment>& fragments) {
  // Bridged lines next to one another hide the columns from each other: a line cut shows them to
  // its neighbours in the next pass.
  std::vector<Fragment> cut = fragments;
  for (int pass = 0; pass < kCutPasses; ++pass) {
    std::vector<Fragment> next = CutOnce(cut);
    const bool changed = next.size() != cut.size();
    cut = std::move(next);
    if (!changed) {
      break;
    }
  }
  return cut;
}

Layout ArrangeFragments(const std::vector<Fragment>& fragments, int width, int height) {
  return Arranger(fragments, width, height).Run();
}

} // namespace quillore::service
