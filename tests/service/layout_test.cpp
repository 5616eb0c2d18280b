#include "service/layout.h"
#include "tests/service/layout_invariants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace quillore::service {
namespace {

using Fragments = std::vector<Fragment>;
using Texts = std::vector<std::string>;

Fragment Box(int x, int y, int w, int h, std::string text) {
  return {{x, y, x + w, y, x + w, y + h, x, y + h}, std::move(text), 0.9F};
}

// `count` lines of one column, named prefix0, prefix1, ...
void Column(Fragments& out, int x, int y, int pitch, int w, int count, const std::string& prefix,
            int h = 20) {
  for (int k = 0; k < count; ++k) {
    out.push_back(Box(x, y + k * pitch, w, h, prefix + std::to_string(k)));
  }
}

// The same fragments turned by `degrees` around (cx, cy), as a photographed page leans.
Fragments Turned(Fragments fragments, double degrees, double cx, double cy) {
  const double a = degrees * 3.14159265358979323846 / 180;
  for (Fragment& f : fragments) {
    for (std::size_t k = 0; k < 8; k += 2) {
      const double dx = f.box[k] - cx, dy = f.box[k + 1] - cy;
      f.box[k] = static_cast<int>(std::lround(cx + dx * std::cos(a) - dy * std::sin(a)));
      f.box[k + 1] = static_cast<int>(std::lround(cy + dx * std::sin(a) + dy * std::cos(a)));
    }
  }
  return fragments;
}

Texts LineTexts(const Layout& layout) {
  Texts texts;
  for (const LayoutLine& line : layout.lines) {
    texts.push_back(line.text);
  }
  return texts;
}

Texts Names(const std::string& prefix, int count) {
  Texts names;
  for (int k = 0; k < count; ++k) {
    names.push_back(prefix + std::to_string(k));
  }
  return names;
}

Texts Concat(std::initializer_list<Texts> parts) {
  Texts all;
  for (const Texts& p : parts) {
    all.insert(all.end(), p.begin(), p.end());
  }
  return all;
}

struct OrderCase {
  const char* rule;
  Fragments fragments;
  Texts expected;
};

std::vector<OrderCase> OrderCases() {
  std::vector<OrderCase> cases;
  // Rows: a row whose right part sits two pixels higher is still read left to right (peers read
  // such a row reversed, sorting by top edge).
  cases.push_back({"row read left to right",
                   {Box(200, 98, 80, 20, "world"), Box(10, 100, 120, 20, "Hello")},
                   {"Hello world"}});
  // One column, given in any order, reads top to bottom.
  cases.push_back({"single column",
                   {Box(10, 60, 300, 20, "c"), Box(10, 0, 300, 20, "a"), Box(10, 30, 300, 20, "b")},
                   {"a", "b", "c"}});
  {
    // Two columns of prose whose rows are level across the gutter: each column whole, left first
    // (peers read such pages across).
    Fragments f;
    Column(f, 10, 0, 30, 400, 4, "L");
    Column(f, 440, 0, 30, 400, 4, "R");
    cases.push_back({"two-column page, rows level", f, Concat({Names("L", 4), Names("R", 4)})});
  }
  {
    // Two columns at different line pitches.
    Fragments f;
    Column(f, 10, 0, 30, 400, 5, "L");
    Column(f, 440, 5, 37, 400, 5, "R");
    cases.push_back({"two columns, different pitch", f, Concat({Names("L", 5), Names("R", 5)})});
  }
  {
    // A title and a footer span both columns: read in place, before and after them.
    Fragments f = {Box(10, 0, 830, 24, "Title"), Box(10, 200, 830, 20, "Footer")};
    Column(f, 10, 40, 30, 400, 5, "L");
    Column(f, 440, 40, 30, 400, 5, "R");
    cases.push_back(
        {"spanning title and footer", f, Concat({{"Title"}, Names("L", 5), Names("R", 5), {"Footer"}})});
  }
  {
    // Chat bubbles alternate left and right: no row has text on both sides, so no gutter (peers
    // read all left bubbles, then all right ones).
    Fragments f = {Box(20, 0, 150, 20, "hi"), Box(400, 40, 150, 20, "hello"),
                   Box(20, 80, 150, 20, "how are you"), Box(400, 120, 150, 20, "fine"),
                   Box(20, 160, 150, 20, "good")};
    cases.push_back({"alternating bubbles", f, {"hi", "hello", "how are you", "fine", "good"}});
  }
  {
    // A chat list beside a chat pane of alternating bubbles: the list is a column, the pane is read
    // in vertical order.
    Fragments f;
    Column(f, 0, 0, 50, 100, 5, "chat");
    f.push_back(Box(150, 8, 150, 20, "b8"));
    f.push_back(Box(400, 48, 150, 20, "b48"));
    f.push_back(Box(150, 88, 150, 20, "b88"));
    f.push_back(Box(400, 128, 150, 20, "b128"));
    f.push_back(Box(150, 168, 150, 20, "b168"));
    cases.push_back(
        {"chat list beside bubbles", f, Concat({Names("chat", 5), {"b8", "b48", "b88", "b128", "b168"}})});
  }
  {
    // A chat list beside a pane of long bubbles set flush right, each starting where its width puts
    // it: the pane's rows do not start level, yet it is a column (only short values beside labels
    // are read with them).
    Fragments f;
    Column(f, 0, 0, 50, 100, 5, "chat");
    f.push_back(Box(150, 8, 500, 20, "b8"));
    f.push_back(Box(250, 48, 400, 20, "b48"));
    f.push_back(Box(330, 88, 320, 20, "b88"));
    f.push_back(Box(200, 128, 450, 20, "b128"));
    f.push_back(Box(420, 168, 230, 20, "b168"));
    cases.push_back({"chat list beside ragged bubbles", f,
                     Concat({Names("chat", 5), {"b8", "b48", "b88", "b128", "b168"}})});
  }
  {
    // A label and its value across a wide gap stay one line (peers separate them).
    Fragments f = {Box(10, 0, 60, 20, "Name:"),  Box(200, 0, 150, 20, "John Smith"),
                   Box(10, 40, 50, 20, "Age:"),  Box(200, 40, 40, 20, "42"),
                   Box(10, 80, 60, 20, "City:"), Box(200, 80, 100, 20, "Leeds")};
    cases.push_back({"label with its value", f, {"Name: John Smith", "Age: 42", "City: Leeds"}});
  }
  {
    // A table is read row by row, not column by column.
    Fragments f;
    for (int row = 0; row < 4; ++row) {
      for (int column = 0; column < 3; ++column) {
        f.push_back(Box(10 + 150 * column, 30 * row, 60, 20,
                        std::string(1, static_cast<char>('a' + row)) + std::to_string(column)));
      }
    }
    cases.push_back({"table by rows", f, {"a0 a1 a2", "b0 b1 b2", "c0 c1 c2", "d0 d1 d2"}});
  }
  {
    // A narrow column of short words beside the main text, close to it: still a column of its own.
    Fragments f;
    Column(f, 10, 0, 30, 500, 6, "M");
    Column(f, 530, 0, 45, 50, 4, "N");
    cases.push_back({"narrow column", f, Concat({Names("M", 6), Names("N", 4)})});
  }
  {
    // A photographed page leaning 3 degrees up to the right: a short heading, then long lines whose
    // right ends rise above it (sorted by top, the long line jumps ahead of the short one).
    Fragments f = {Box(100, 100, 80, 20, "Intro")};
    Column(f, 100, 130, 30, 900, 4, "P");
    cases.push_back(
        {"short line on a leaning page", Turned(f, -3, 550, 200), Concat({{"Intro"}, Names("P", 4)})});
  }
  {
    // Nested columns: a side menu, then a panel with its title and two columns of its own.
    Fragments f;
    Column(f, 0, 40, 50, 100, 6, "Menu");
    f.push_back(Box(150, 40, 600, 20, "Panel"));
    Column(f, 150, 80, 30, 280, 5, "A");
    Column(f, 470, 80, 30, 280, 5, "B");
    cases.push_back(
        {"nested columns", f, Concat({Names("Menu", 6), {"Panel"}, Names("A", 5), Names("B", 5)})});
  }
  {
    // A settings window: a title bar whose pieces leave the menu's gutter free, a side menu, a panel
    // of labels with their values (some with a description below), a button row at the bottom.
    const Fragments f = {
        Box(12, 12, 52, 12, "..."),
        Box(512, 10, 76, 16, "Preferences"),
        Box(21, 56, 110, 16, "Search settings"),
        Box(22, 98, 53, 16, "General"),
        Box(22, 131, 86, 16, "Appearance"),
        Box(22, 164, 82, 16, "Notifications"),
        Box(22, 197, 49, 16, "Privacy"),
        Box(22, 230, 62, 16, "Accounts"),
        Box(22, 263, 129, 16, "Keyboard shortcuts"),
        Box(22, 296, 52, 16, "Storage"),
        Box(252, 55, 131, 24, "Appearance"),
        Box(252, 100, 48, 16, "Theme"),
        Box(252, 132, 92, 16, "Color scheme"),
        Box(944, 136, 95, 16, "Follow system"),
        Box(252, 151, 269, 14, "Match the light or dark mode of your computer."),
        Box(252, 186, 82, 16, "Accent color"),
        Box(961, 190, 78, 16, "Harbor blue"),
        Box(252, 232, 58, 16, "Text size"),
        Box(1002, 236, 37, 16, "15 px"),
        Box(252, 251, 259, 14, "Applies to menus, lists and the reading pane."),
        Box(252, 286, 90, 16, "Compact lists"),
        Box(252, 349, 66, 16, "Windows"),
        Box(252, 381, 146, 16, "Open new windows in"),
        Box(932, 385, 107, 16, "Last used folder"),
        Box(252, 468, 112, 16, "Animation speed"),
        Box(1020, 468, 48, 16, "Normal"),
        Box(20, 864, 113, 16, "Reset to defaults"),
        Box(929, 864, 47, 16, "Cancel"),
        Box(1023, 864, 38, 16, "Apply"),
    };
    cases.push_back({"settings window",
                     f,
                     {"... Preferences",
                      "Search settings",
                      "General",
                      "Appearance",
                      "Notifications",
                      "Privacy",
                      "Accounts",
                      "Keyboard shortcuts",
                      "Storage",
                      "Appearance",
                      "Theme",
                      "Color scheme Follow system",
                      "Match the light or dark mode of your computer.",
                      "Accent color Harbor blue",
                      "Text size 15 px",
                      "Applies to menus, lists and the reading pane.",
                      "Compact lists",
                      "Windows",
                      "Open new windows in Last used folder",
                      "Animation speed Normal",
                      "Reset to defaults Cancel Apply"}});
  }
  {
    // Labels with right-aligned values whose boxes are not quite level (a detector's boxes wander a
    // few pixels): the gap before the values varies row by row and the values do not start level,
    // so it is no gutter (read as columns, every label came first, then every value).
    Fragments f = {Box(250, 131, 94, 17, "Color scheme"),
                   Box(941, 136, 104, 20, "Follow system"),
                   Box(251, 151, 271, 17, "Match the light or dark mode of your computer."),
                   Box(251, 187, 86, 16, "Accent color"),
                   Box(958, 191, 84, 16, "Harbor blue"),
                   Box(251, 233, 62, 16, "Text size"),
                   Box(999, 235, 61, 23, "15 px"),
                   Box(251, 287, 93, 16, "Compact lists"),
                   Box(251, 380, 150, 19, "Open new windows in"),
                   Box(930, 386, 128, 16, "Last used folder"),
                   Box(250, 467, 117, 20, "Animation speed"),
                   Box(1017, 468, 54, 17, "Normal")};
    cases.push_back({"labels with right-aligned values",
                     f,
                     {"Color scheme Follow system", "Match the light or dark mode of your computer.",
                      "Accent color Harbor blue", "Text size 15 px", "Compact lists",
                      "Open new windows in Last used folder", "Animation speed Normal"}});
  }
  {
    // Right-aligned values, two of them starting level by chance, their boxes a few pixels lower
    // than their labels' (a detector's boxes for another weight of type): still one row each.
    Fragments f = {Box(232, 287, 106, 20, "Lock screen"), Box(848, 291, 95, 23, "Sender"),
                   Box(229, 345, 80, 22, "Per app"),      Box(232, 381, 34, 21, "Cal"),
                   Box(907, 386, 37, 22, "Banner"),       Box(230, 431, 33, 20, "Mail"),
                   Box(892, 437, 50, 21, "Badge"),        Box(231, 482, 49, 20, "Notes"),
                   Box(906, 485, 54, 25, "Off")};
    cases.push_back({"right-aligned values, lower than their labels",
                     f,
                     {"Lock screen Sender", "Per app", "Cal Banner", "Mail Badge", "Notes Off"}});
  }
  {
    // A side menu whose first items sit beside the panel's title and first row, set apart from the
    // rest by a wider gap than the menu's own: they start where the columns below start, so they
    // are the columns' first rows, not a bar across them.
    const Fragments f = {
        Box(22, 59, 102, 14, "Search"),   Box(252, 57, 131, 23, "Title"),    Box(22, 100, 52, 12, "General"),
        Box(252, 102, 48, 11, "Theme"),   Box(22, 134, 85, 14, "Look"),      Box(252, 134, 92, 11, "Scheme"),
        Box(23, 167, 80, 11, "Alerts"),   Box(253, 154, 266, 12, "Match"),   Box(23, 199, 48, 15, "Privacy"),
        Box(251, 188, 83, 11, "Accent"),  Box(21, 233, 62, 11, "Accounts"),  Box(252, 233, 58, 12, "Size"),
        Box(23, 266, 128, 14, "Keys"),    Box(252, 254, 258, 12, "Applies"), Box(23, 300, 51, 13, "Storage"),
        Box(252, 287, 89, 15, "Compact"), Box(23, 332, 54, 14, "Updates"),   Box(253, 308, 181, 9, "Fit"),
        Box(21, 365, 40, 11, "About"),    Box(252, 350, 65, 12, "Windows")};
    cases.push_back({"side menu's first rows beside the panel's title",
                     f,
                     {"Search",  "General", "Look",    "Alerts",  "Privacy", "Accounts", "Keys",
                      "Storage", "Updates", "About",   "Title",   "Theme",   "Scheme",   "Match",
                      "Accent",  "Size",    "Applies", "Compact", "Fit",     "Windows"}});
  }
  {
    // An article with a side column whose rows happen to be level with the article's first rows:
    // short lines level across, but the article's long wrapped lines make it prose, not a form.
    const Fragments f = {
        Box(30, 76, 480, 33, "Title"),  Box(830, 79, 66, 20, "About"),   Box(30, 122, 184, 19, "By"),
        Box(830, 117, 300, 19, "Bio1"), Box(830, 141, 155, 19, "Bio2"),  Box(30, 157, 690, 23, "P1a"),
        Box(30, 184, 168, 18, "P1b"),   Box(830, 182, 67, 20, "Recent"), Box(30, 222, 690, 19, "P2a"),
        Box(830, 222, 137, 18, "R1"),   Box(30, 245, 73, 22, "P2b"),     Box(830, 254, 166, 18, "R2"),
        Box(30, 285, 598, 18, "P3"),    Box(830, 285, 136, 18, "R3"),    Box(30, 335, 102, 21, "Heading"),
        Box(30, 371, 687, 16, "P4a"),   Box(30, 396, 134, 18, "P4b")};
    cases.push_back({"side column level with an article's first rows",
                     f,
                     {"Title", "By", "P1a", "P1b", "P2a", "P2b", "P3", "Heading", "P4a", "P4b", "About",
                      "Bio1", "Bio2", "Recent", "R1", "R2", "R3"}});
  }
  {
    // Two panels of one form side by side, each labels with right-aligned values, of one width and
    // level across: read panel by panel (peers read them as one table), the row above them and the
    // hint below them in place.
    Fragments f = {Box(240, 110, 130, 20, "Keymap"), Box(1038, 114, 100, 20, "Default"),
                   Box(240, 178, 64, 20, "Edit"), Box(712, 178, 70, 20, "View")};
    const char* const left[] = {"Copy", "Paste", "Undo", "Find"};
    const char* const right[] = {"Zoom", "Shrink", "Full", "Side"};
    for (int row = 0; row < 4; ++row) {
      const int y = 212 + 39 * row;
      f.push_back(Box(240, y, 70, 20, left[row]));
      f.push_back(Box(634, y, 43, 20, std::string("Ctrl+") + left[row][0]));
      f.push_back(Box(712, y, 100, 20, right[row]));
      f.push_back(Box(1106, y, 43, 20, std::string("Ctrl+") + right[row][0]));
    }
    f.push_back(Box(240, 375, 241, 18, "Hint"));
    cases.push_back({"two panels of one form",
                     f,
                     {"Keymap Default", "Edit", "Copy Ctrl+C", "Paste Ctrl+P", "Undo Ctrl+U", "Find Ctrl+F",
                      "View", "Zoom Ctrl+Z", "Shrink Ctrl+S", "Full Ctrl+F", "Side Ctrl+S", "Hint"}});
  }
  {
    // A chat list beside a chat pane whose senders' names start at one indent and their bubbles a
    // few pixels further in, among short timestamps and replies: the pane starts level more often
    // than it ends level, so it is a column (read as right-aligned values, the list's rows each
    // took a line of the pane).
    const Fragments f = {Box(122, 73, 150, 21, "Lantern"),    Box(295, 74, 31, 14, "14:20"),
                         Box(123, 96, 134, 18, "Emma: demo"), Box(743, 93, 33, 16, "14:02"),
                         Box(415, 121, 35, 13, "Emma"),       Box(122, 135, 94, 22, "Wang Lei"),
                         Box(294, 136, 32, 16, "13:05"),      Box(122, 156, 83, 20, "Merged"),
                         Box(425, 147, 346, 18, "Client"),    Box(426, 168, 48, 17, "Wed"),
                         Box(123, 199, 68, 17, "HR"),         Box(298, 197, 29, 17, "Yday"),
                         Box(415, 203, 25, 15, "Wang"),       Box(123, 219, 137, 18, "Leave"),
                         Box(425, 231, 264, 18, "OK"),        Box(123, 261, 103, 17, "Coffee"),
                         Box(300, 260, 22, 14, "Mon"),        Box(124, 281, 68, 19, "Who"),
                         Box(784, 276, 299, 18, "Slides"),    Box(415, 312, 35, 13, "Emma"),
                         Box(424, 339, 55, 17, "Thanks"),     Box(1043, 380, 53, 22, "+1"),
                         Box(742, 421, 35, 16, "14:20"),      Box(415, 450, 35, 13, "Emma"),
                         Box(424, 476, 300, 18, "Reminder"),  Box(358, 743, 167, 22, "Type"),
                         Box(1071, 744, 69, 20, "Send")};
    cases.push_back({"chat list beside a pane of names and bubbles",
                     f,
                     {"Lantern 14:20", "Emma: demo", "Wang Lei 13:05", "Merged",   "HR Yday", "Leave",
                      "Coffee Mon",    "Who",        "14:02",          "Emma",     "Client",  "Wed",
                      "Wang",          "OK",         "Slides",         "Emma",     "Thanks",  "+1",
                      "14:20",         "Emma",       "Reminder",       "Type Send"}});
  }
  {
    // A chat list's search box and the open chat's title share the top band, set apart from what
    // follows, but they do not stand level as a bar's pieces do: each is its column's first line.
    const Fragments f = {
        Box(83, 21, 76, 19, "Search"),    Box(349, 12, 88, 22, "Title"),   Box(122, 70, 34, 20, "Zhang"),
        Box(282, 70, 33, 15, "15:31"),    Box(728, 70, 35, 15, "12:40"),   Box(122, 90, 43, 19, "Bye"),
        Box(414, 102, 349, 21, "Hello"),  Box(123, 132, 62, 19, "Club"),   Box(282, 132, 33, 15, "15:02"),
        Box(416, 124, 96, 22, "Total"),   Box(122, 152, 68, 17, "Booked"), Box(415, 171, 347, 18, "Also"),
        Box(123, 195, 78, 17, "Liu"),     Box(282, 193, 34, 16, "12:48"),  Box(414, 193, 23, 18, "Prints"),
        Box(123, 215, 106, 17, "Bills"),  Box(890, 239, 172, 17, "Sure"),  Box(123, 257, 62, 19, "Desk"),
        Box(287, 255, 28, 17, "Yday"),    Box(123, 277, 68, 17, "Parcel"), Box(787, 283, 276, 20, "Myself"),
        Box(416, 329, 245, 21, "Weekend")};
    cases.push_back(
        {"a list's search box beside a chat's title",
         f,
         {"Search", "Zhang 15:31", "Bye", "Club 15:02", "Booked", "Liu 12:48", "Bills", "Desk Yday", "Parcel",
          "Title", "12:40", "Hello", "Total", "Also", "Prints", "Sure", "Myself", "Weekend"}});
  }
  {
    // Three columns of a newspaper with narrow gutters, one box of the middle column running past
    // its text up to the third column's edge: the gutter narrows there but goes on.
    Fragments f;
    Column(f, 49, 174, 26, 420, 8, "A", 22);
    Column(f, 491, 174, 26, 420, 8, "B", 22);
    Column(f, 932, 174, 26, 420, 8, "C", 22);
    f[13].box[2] = f[13].box[4] = 935;
    f[19].box[0] = f[19].box[6] = 928;
    cases.push_back(
        {"a box running into a narrow gutter", f, Concat({Names("A", 8), Names("B", 8), Names("C", 8)})});
  }
  {
    // Two columns whose gutter moves halfway down: above, two loose boxes of the right column
    // reach into it from the right; below, a line of the left column reaches into it from the left.
    // The gutters of the two halves do not meet, but they are the same two columns.
    Fragments f;
    Column(f, 71, 300, 27, 469, 10, "L", 19);
    Column(f, 565, 300, 27, 466, 10, "R", 19);
    for (const std::size_t k : {11, 12}) {
      f[k].box[0] = f[k].box[6] = 529;
    }
    f[7].box[2] = f[7].box[4] = 551;
    cases.push_back({"a gutter that moves", f, Concat({Names("L", 10), Names("R", 10)})});
  }
  {
    // A dialog: its message, then the button row as one line.
    Fragments f = {Box(20, 20, 400, 20, "Save changes?"), Box(300, 80, 60, 24, "Cancel"),
                   Box(380, 80, 40, 24, "OK")};
    cases.push_back({"dialog with a button row", f, {"Save changes?", "Cancel OK"}});
  }
  return cases;
}

TEST(ArrangeFragments, ReadsEachLayoutInItsOrder) {
  for (const OrderCase& c : OrderCases()) {
    const Layout layout = ArrangeFragments(c.fragments, 1000, 800);
    EXPECT_EQ(LineTexts(layout), c.expected) << c.rule;
    EXPECT_EQ(LayoutBroken(c.fragments, layout), "") << c.rule;
  }
}

TEST(ArrangeFragments, ReadsEachLayoutInItsOrderGivenShuffled) {
  std::mt19937 random(15);
  for (OrderCase c : OrderCases()) {
    std::shuffle(c.fragments.begin(), c.fragments.end(), random);
    EXPECT_EQ(LineTexts(ArrangeFragments(c.fragments, 1000, 800)), c.expected) << c.rule;
  }
}

TEST(ArrangeFragments, NeverJoinsARowAcrossAGutter) {
  Fragments f;
  Column(f, 10, 0, 30, 400, 4, "L");
  Column(f, 440, 0, 30, 400, 4, "R");
  const Layout layout = ArrangeFragments(f, 1000, 800);
  for (const LayoutLine& line : layout.lines) {
    EXPECT_EQ(line.fragments.size(), 1u) << line.text;
  }
  // Two columns, each holding one block of its own lines.
  ASSERT_EQ(layout.blocks.size(), 4u);
  EXPECT_TRUE(layout.blocks[0].column);
  EXPECT_EQ(layout.blocks[1].parent, 0);
  EXPECT_EQ(layout.lines[0].block, 1);
  EXPECT_EQ(layout.lines[4].block, 3);
  EXPECT_EQ(layout.blocks[3].parent, 2);
}

TEST(ArrangeFragments, FindsTheLeanOfAPhotographedPage) {
  Fragments f;
  Column(f, 100, 100, 30, 900, 6, "P");
  const Layout layout = ArrangeFragments(Turned(f, 2.5, 500, 300), 1200, 800);
  EXPECT_NEAR(layout.skewDegrees, 2.5, 0.3);
  EXPECT_EQ(LineTexts(layout), Names("P", 6));
  EXPECT_NEAR(ArrangeFragments(f, 1200, 800).skewDegrees, 0.0, 1e-9);
}

TEST(ArrangeFragments, KnowsTheRowsAndCellsOfATable) {
  // A header row and three rows; the third row has no value in the middle column.
  const Fragments f = {
      Box(10, 0, 60, 20, "Item"),   Box(200, 0, 60, 20, "Qty"),   Box(400, 0, 60, 20, "Price"),
      Box(10, 30, 70, 20, "Apple"), Box(200, 30, 20, 20, "3"),    Box(400, 30, 50, 20, "1.20"),
      Box(10, 60, 40, 20, "Pear"),  Box(200, 60, 20, 20, "12"),   Box(400, 60, 50, 20, "0.90"),
      Box(10, 90, 40, 20, "Fig"),   Box(400, 90, 50, 20, "2.00"), Box(10, 150, 300, 20, "Total 17")};
  const Layout layout = ArrangeFragments(f, 600, 200);
  ASSERT_EQ(layout.tables.size(), 1u);
  const LayoutTable& table = layout.tables[0];
  EXPECT_EQ(table.columns, 3);
  EXPECT_EQ(table.firstLine, 0u);
  const std::vector<Texts> rows = {
      {"Item", "Qty", "Price"}, {"Apple", "3", "1.20"}, {"Pear", "12", "0.90"}, {"Fig", "", "2.00"}};
  EXPECT_EQ(table.rows, rows);
  EXPECT_EQ(layout.lines[3].text, "Fig 2.00");
  EXPECT_EQ(layout.lines[3].row, 3);
  EXPECT_EQ(layout.lines[3].cells, (std::vector<int>{0, 2}));
  ASSERT_EQ(layout.lines.size(), 5u);
  EXPECT_EQ(layout.lines[4].table, -1); // the total below is no row of it
}

TEST(ArrangeFragments, TwoRowsAreNoTable) {
  const Fragments f = {Box(10, 0, 60, 20, "a"), Box(200, 0, 60, 20, "b"), Box(10, 30, 60, 20, "c"),
                       Box(200, 30, 60, 20, "d")};
  EXPECT_TRUE(ArrangeFragments(f, 600, 200).tables.empty());
}

struct ParagraphCase {
  const char* rule;
  Fragments fragments;
  Texts expected;
};

TEST(ArrangeFragments, JoinsTheLinesOfEachParagraph) {
  const ParagraphCase cases[] = {
      // Latin lines join with a space; a short line ends the paragraph.
      {"latin",
       {Box(10, 0, 600, 20, "The quick brown fox jumps over"), Box(10, 30, 200, 20, "the lazy dog."),
        Box(10, 60, 600, 20, "Next one")},
       {"The quick brown fox jumps over the lazy dog.", "Next one"}},
      // Chinese lines join with nothing.
      {"chinese",
       {Box(10, 0, 600, 20, "今天天气很好，我们去公"), Box(10, 30, 100, 20, "园散步。")},
       {"今天天气很好，我们去公园散步。"}},
      // A wider gap than the usual pitch starts a paragraph.
      {"spacing",
       {Box(10, 0, 600, 20, "one one one"), Box(10, 30, 600, 20, "two two two"),
        Box(10, 60, 600, 20, "three"), Box(10, 120, 600, 20, "four four")},
       {"one one one two two two three", "four four"}},
      // An indented line is not the continuation of the line above.
      {"indent", {Box(10, 0, 600, 20, "first"), Box(80, 30, 530, 20, "second")}, {"first", "second"}},
      // A larger heading is a paragraph of its own even when it fills the line.
      {"heading",
       {Box(10, 0, 600, 34, "A heading"), Box(10, 44, 600, 20, "body text")},
       {"A heading", "body text"}},
      // A line that ends early though the next one's first word would have fitted ends the paragraph.
      {"early break",
       {Box(10, 0, 600, 20, "A line of text here ok"), Box(10, 30, 160, 20, "Short list item"),
        Box(10, 60, 130, 20, "Another item")},
       {"A line of text here ok Short list item", "Another item"}},
      // The short items of a menu or list are items of their own, however near the edge they end
      // (peers run them together: "Appearance Notifications").
      {"list items",
       {Box(20, 98, 57, 16, "General"), Box(20, 128, 89, 16, "Appearance"),
        Box(20, 158, 87, 16, "Notifications"), Box(20, 188, 57, 16, "Privacy"),
        Box(20, 218, 134, 16, "Keyboard shortcuts")},
       {"General", "Appearance", "Notifications", "Privacy", "Keyboard shortcuts"}},
  };
  for (const ParagraphCase& c : cases) {
    const Layout layout = ArrangeFragments(c.fragments, 800, 200);
    Texts paragraphs;
    for (const LayoutParagraph& p : layout.paragraphs) {
      paragraphs.push_back(p.text);
    }
    EXPECT_EQ(paragraphs, c.expected) << c.rule;
    EXPECT_EQ(LayoutBroken(c.fragments, layout), "") << c.rule;
  }
}

TEST(ArrangeFragments, LeavesOutEmptyTextsAndTakesNothing) {
  EXPECT_TRUE(ArrangeFragments({}, 100, 100).lines.empty());
  const Fragments f = {Box(0, 0, 10, 10, ""), Box(0, 20, 10, 10, "x")};
  const Layout layout = ArrangeFragments(f, 0, 0);
  ASSERT_EQ(layout.lines.size(), 1u);
  EXPECT_EQ(layout.lines[0].fragments, (std::vector<std::size_t>{1}));
}

// Random fragments of every kind: scattered, in grids, leaning, flat, huge, overlapping, repeated.
Fragments RandomLayout(std::mt19937& random) {
  std::uniform_int_distribution<int> pick(0, 5);
  std::uniform_int_distribution<int> count(0, 80);
  std::uniform_int_distribution<int> coordinate(-200, 3000);
  std::uniform_int_distribution<int> size(0, 400);
  const int kind = pick(random);
  const int n = count(random);
  Fragments f;
  for (int k = 0; k < n; ++k) {
    const std::string text = k % 11 == 10 ? "" : (k % 3 == 0 ? "中文" : "w") + std::to_string(k);
    if (kind == 0) { // scattered quadrilaterals with any corners
      Fragment g{{}, text};
      for (int& v : g.box) {
        v = coordinate(random);
      }
      f.push_back(g);
    } else if (kind <= 2) { // grids of columns and rows with jitter
      const int column = k % 4, row = k / 4;
      f.push_back(Box(column * 300 + size(random) % 30, row * 30 + size(random) % 9, 40 + size(random) % 260,
                      14 + size(random) % 12, text));
    } else if (kind == 3) { // boxes of any size, flat ones included
      f.push_back(Box(coordinate(random), coordinate(random), size(random), size(random) % 60, text));
    } else { // everything on a few spots, overlapping and repeated
      f.push_back(Box(10 * (k % 3), 10 * (k % 2), 50, 20, text));
    }
  }
  if (kind == 1 || kind == 5) {
    f = Turned(f, std::uniform_real_distribution<double>(-25, 25)(random), 600, 400);
  }
  return f;
}

TEST(ArrangeFragments, KeepsItsPromisesOnRandomLayouts) {
  std::mt19937 random(2026);
  for (int seed = 0; seed < 4000; ++seed) {
    const Fragments f = RandomLayout(random);
    const Layout layout = ArrangeFragments(f, seed % 2 == 0 ? 1200 : 0, 900);
    const std::string broken = LayoutBroken(f, layout);
    ASSERT_EQ(broken, "") << "layout " << seed;
  }
}

// Two columns of `rows` lines at a pitch of 27, the left one at x 69..541, the right one at x
// 564..1031, with row `bridged` given as one box across both holding `text`.
Fragments TwoColumnsWithABridge(int rows, int bridged, const std::string& text) {
  Fragments f;
  for (int row = 0; row < rows; ++row) {
    const int y = 300 + 27 * row;
    if (row == bridged) {
      f.push_back(Box(69, y, 962, 22, text));
    } else {
      f.push_back(Box(69, y, 472, 22, "L" + std::to_string(row)));
      f.push_back(Box(564, y, 467, 22, "R" + std::to_string(row)));
    }
  }
  return f;
}

Texts FragmentTexts(const Fragments& fragments) {
  Texts texts;
  for (const Fragment& f : fragments) {
    texts.push_back(f.text);
  }
  return texts;
}

TEST(CutAcrossGutters, CutsALineRunAcrossTwoColumnsWhereTheGutterRuns) {
  // Latin: at the space nearest the gutter's share of the width.
  const Fragments latin = CutAcrossGutters(TwoColumnsWithABridge(
      5, 2,
      "one hour after dusk, once a week from June to August. seem to recover fastest, perhaps because they "
      "hold more"));
  ASSERT_EQ(latin.size(), 10u);
  EXPECT_EQ(latin[4].text, "one hour after dusk, once a week from June to August.");
  EXPECT_EQ(latin[5].text, "seem to recover fastest, perhaps because they hold more");
  EXPECT_LE(latin[4].box[2], 541);
  EXPECT_GE(latin[5].box[0], 541);
  EXPECT_EQ(LineTexts(ArrangeFragments(latin, 1100, 800)),
            (Texts{"L0", "L1", "one hour after dusk, once a week from June to August.", "L3", "L4", "R0",
                   "R1", "seem to recover fastest, perhaps because they hold more", "R3", "R4"}));
  // The columns' last line, right below their lines, and the one above it, both bridged: the second
  // is cut once the first is.
  Fragments last = TwoColumnsWithABridge(
      5, 4, "the count in 2027 to see whether it lasts and one site, where a new sports field was");
  last[6] = Box(69, 381, 962, 22,
                "a third checked the photos later without was lit during the second summer, showed");
  last.erase(last.begin() + 7);
  EXPECT_EQ(FragmentTexts(CutAcrossGutters(last)),
            (Texts{"L0", "R0", "L1", "R1", "L2", "R2", "a third checked the photos later without",
                   "was lit during the second summer, showed", "the count in 2027 to see whether it lasts",
                   "and one site, where a new sports field was"}));
  // A photographed page leaning 3 degrees: cut in the page's own frame, along the box's edges.
  const Fragments turned = CutAcrossGutters(Turned(
      TwoColumnsWithABridge(5, 2,
                            "one hour after dusk, once a week from June to August. seem to recover fastest, "
                            "perhaps because they hold more"),
      3, 550, 350));
  ASSERT_EQ(turned.size(), 10u);
  EXPECT_EQ(turned[4].text, "one hour after dusk, once a week from June to August.");
  EXPECT_EQ(turned[5].text, "seem to recover fastest, perhaps because they hold more");
  EXPECT_GT(turned[4].box[3], turned[4].box[1]); // the cut piece still leans with the page
  // Chinese: after the characters' share of the width, the gutter left out.
  const std::string left = "多老人日常生活中最大的困难。近年来各地陆续出台补";
  const std::string right = "楼层递增的分摊比例最容易被接受，一楼住户通常不需";
  const Fragments chinese = CutAcrossGutters(TwoColumnsWithABridge(5, 2, left + right));
  ASSERT_EQ(chinese.size(), 10u);
  EXPECT_EQ(chinese[4].text, left);
  EXPECT_EQ(chinese[5].text, right);
}

TEST(CutAcrossGutters, LeavesWholeWhatIsNoBridge) {
  const std::string text =
      "Abstract. We counted moths at twelve park sites over two summers, before and after";
  struct Case {
    const char* what;
    Fragments fragments;
  };
  std::vector<Case> cases;
  // A line across the page above the columns (an abstract): no column lines above it.
  cases.push_back({"line above the columns", TwoColumnsWithABridge(5, 0, text)});
  // ... or below them, set apart by a wider gap than their pitch (a closing line).
  Fragments below = TwoColumnsWithABridge(5, 4, text);
  for (std::size_t k = 1; k < 8; k += 2) {
    below.back().box[k] += 30;
  }
  cases.push_back({"line below the columns", below});
  // Latin text with no space near the gutter.
  cases.push_back({"no space near the gutter", TwoColumnsWithABridge(5, 2, std::string(80, 'x'))});
  // A page of one column: its lines are no two columns.
  Fragments single;
  Column(single, 69, 300, 27, 962, 5, "line", 22);
  cases.push_back({"one column", single});
  // A leaning line is left alone (the lean is the layout stage's to find).
  Fragments leaning = TwoColumnsWithABridge(5, 2, text);
  leaning[4].box[3] -= 30;
  leaning[4].box[5] -= 30;
  cases.push_back({"leaning line", leaning});
  // The first column's lines beside it are short (a heading above, a paragraph's last words below):
  // where that column ends is unknown, so is where to cut.
  Fragments shortLines = TwoColumnsWithABridge(3, 1, text);
  shortLines[0].box[2] = shortLines[0].box[4] = 150;
  shortLines[3].box[2] = shortLines[3].box[4] = 180;
  cases.push_back({"only short lines in the first column", shortLines});
  for (const Case& c : cases) {
    EXPECT_EQ(FragmentTexts(CutAcrossGutters(c.fragments)), FragmentTexts(c.fragments)) << c.what;
  }
}

TEST(CutAcrossGutters, KeepsEveryCharacterOnRandomLayouts) {
  std::mt19937 random(2027);
  const auto letters = [](const Fragments& fragments) {
    std::string all;
    for (const Fragment& f : fragments) {
      for (const char c : f.text) {
        all += c == ' ' ? "" : std::string(1, c);
      }
    }
    return all;
  };
  for (int seed = 0; seed < 2000; ++seed) {
    Fragments f = RandomLayout(random);
    if (seed % 3 == 0) {
      const Fragments bridged =
          TwoColumnsWithABridge(4 + seed % 5, 1 + seed % 3, "a b c d e f g h i j k l m n");
      f.insert(f.end(), bridged.begin(), bridged.end());
    }
    const Fragments cut = CutAcrossGutters(f);
    ASSERT_EQ(letters(cut), letters(f)) << "layout " << seed;
    ASSERT_EQ(LayoutBroken(cut, ArrangeFragments(cut, 1200, 900)), "") << "layout " << seed;
  }
}

} // namespace
} // namespace quillore::service
