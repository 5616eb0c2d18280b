#include "service/answer.h"

#include "platform/utf8.h"
#include "protocol/ocr_protocol.h"

#include <cstdint>
#include <cstdio>

namespace quillore::service {
namespace {

void AppendEscape(std::string& out, unsigned unit) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\u%04x", unit & 0xFFFF);
  out += buffer;
}

void AppendBox(std::string& out, const std::array<int, 8>& box) {
  out += '[';
  for (std::size_t k = 0; k < box.size(); ++k) {
    if (k > 0) {
      out += protocol::kNumberSeparator;
    }
    out += std::to_string(box[k]);
  }
  out += ']';
}

// "key": with the separator the client's cutting expects after it.
void AppendKey(std::string& out, std::string_view key) {
  out += '"';
  out += key;
  out += '"';
  out += protocol::kKeySeparator;
}

} // namespace

std::string JsonString(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  out += '"';
  std::size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = NextCodePoint(utf8, i);
    if (cp == '"') {
      out += "\\\"";
    } else if (cp < 0x20 || cp == 0x7F || cp == '%' || cp == '\\') {
      AppendEscape(out, cp);
    } else if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x10000) {
      AppendEscape(out, cp);
    } else {
      const char32_t v = cp - 0x10000;
      AppendEscape(out, 0xD800 + (v >> 10));
      AppendEscape(out, 0xDC00 + (v & 0x3FF));
    }
  }
  out += '"';
  return out;
}

namespace {

// The answer's shape, with `structure` (a member and its trailing separator, or nothing) before the
// text, which stays last.
template <typename Boxes, typename Texts>
std::string WriteSections(std::size_t count, const Boxes& box, const Texts& text,
                          const std::string& structure) {
  std::string out = "{";
  AppendKey(out, protocol::kPositionField);
  out += '[';
  for (std::size_t j = 0; j < count; ++j) {
    if (j > 0) {
      out += protocol::kElementSeparator;
    }
    AppendBox(out, box(j));
  }
  out += ']';
  out += protocol::kElementSeparator;
  AppendKey(out, protocol::kCountField);
  out += std::to_string(count);
  out += protocol::kElementSeparator;
  out += structure;
  AppendKey(out, protocol::kTextField);
  out += '[';
  for (std::size_t j = 0; j < count; ++j) {
    if (j > 0) {
      out += protocol::kElementSeparator;
    }
    out += JsonString(text(j));
  }
  out += protocol::kAnswerEnd;
  return out;
}

template <typename Items, typename Write> void AppendList(std::string& out, const Items& items, Write write) {
  out += '[';
  bool first = true;
  for (const auto& item : items) {
    out += first ? "" : protocol::kElementSeparator;
    first = false;
    write(item);
  }
  out += ']';
}

// The structure's member. Its keys are none of the answer's own, so the client's markers never
// match inside it, and every text in it is a JSON string whose quotes are escaped.
std::string LayoutMember(const Layout& layout) {
  char skew[32];
  std::snprintf(skew, sizeof skew, "%.2f", layout.skewDegrees);
  std::string out = "\"" + std::string(protocol::kLayoutField) + "\": {\"skew\": " + skew + ", \"blocks\": ";
  AppendList(out, layout.blocks, [&](const LayoutBlock& block) {
    out += "{\"parent\": " + std::to_string(block.parent) +
           ", \"column\": " + (block.column ? "true" : "false") + ", \"box\": ";
    AppendBox(out, block.box);
    out += '}';
  });
  out += ", \"lines\": ";
  AppendList(out, layout.lines, [&](const LayoutLine& line) {
    out += "{\"block\": " + std::to_string(line.block) + ", \"paragraph\": " + std::to_string(line.paragraph);
    if (line.table >= 0) {
      out += ", \"table\": " + std::to_string(line.table) + ", \"row\": " + std::to_string(line.row) +
             ", \"cells\": ";
      AppendList(out, line.cells, [&](int cell) { out += std::to_string(cell); });
    }
    out += '}';
  });
  out += ", \"paragraphs\": ";
  AppendList(out, layout.paragraphs, [&](const LayoutParagraph& paragraph) {
    out += "{\"lines\": [" + std::to_string(paragraph.firstLine) + ", " +
           std::to_string(paragraph.lineCount) + "], \"joined\": " + JsonString(paragraph.text) + '}';
  });
  out += ", \"tables\": ";
  AppendList(out, layout.tables, [&](const LayoutTable& table) {
    out += "{\"columns\": " + std::to_string(table.columns) + ", \"rows\": ";
    AppendList(out, table.rows, [&](const std::vector<std::string>& row) {
      AppendList(out, row, [&](const std::string& cell) { out += JsonString(cell); });
    });
    out += '}';
  });
  out += '}';
  out += protocol::kElementSeparator;
  return out;
}

} // namespace

std::string WriteAnswer(const std::vector<RecognizedLine>& lines) {
  return WriteSections(
      lines.size(), [&](std::size_t j) -> const std::array<int, 8>& { return lines[j].box; },
      [&](std::size_t j) -> const std::string& { return lines[j].text; }, "");
}

std::string WriteLayoutAnswer(const Layout& layout) {
  const std::vector<LayoutLine>& lines = layout.lines;
  return WriteSections(
      lines.size(), [&](std::size_t j) -> const std::array<int, 8>& { return lines[j].box; },
      [&](std::size_t j) -> const std::string& { return lines[j].text; }, LayoutMember(layout));
}

std::vector<Fragment> FragmentsOf(const std::vector<RecognizedLine>& lines) {
  std::vector<Fragment> fragments;
  fragments.reserve(lines.size());
  for (const RecognizedLine& line : lines) {
    fragments.push_back({line.box, line.text, 1.0F});
  }
  return CutAcrossGutters(fragments);
}

std::string WriteError(std::string_view message) {
  std::string out = "{";
  AppendKey(out, protocol::kErrorField);
  out += JsonString(message);
  out += '}';
  return out;
}

} // namespace quillore::service
