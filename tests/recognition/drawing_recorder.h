// Records every drawing call and edit-box write, so tests can compare them with
// what is expected.
#pragma once

#include "recognition/draw_target.h"

#include <cstdio>
#include <string>
#include <vector>

namespace quillore {

class DrawingRecorder : public DrawTarget, public TextTarget {
public:
  std::vector<std::string> calls;
  Bytes picture;               // the last picture written
  std::vector<Bytes> pictures; // every picture written, in order
  std::vector<Text> contents;  // every SetContent, in order

  void SetPicture(const Bytes& bytes) override {
    picture = bytes;
    pictures.push_back(bytes);
    calls.push_back("Picture(" + std::to_string(bytes.size()) + ")");
  }
  void SetPenColor(Color color) override { calls.push_back("PenColor(" + Hex(color) + ")"); }
  void SetPenWidth(int width) override { calls.push_back("PenWidth(" + std::to_string(width) + ")"); }
  void SetFontSize(int points) override { calls.push_back("FontSize(" + std::to_string(points) + ")"); }
  void SetTextColor(Color color) override { calls.push_back("TextColor(" + Hex(color) + ")"); }
  void SetTextBackColor(Color color) override { calls.push_back("TextBackColor(" + Hex(color) + ")"); }
  void DrawLine(int x1, int y1, int x2, int y2) override {
    calls.push_back("Line(" + std::to_string(x1) + "," + std::to_string(y1) + "," + std::to_string(x2) + "," +
                    std::to_string(y2) + ")");
  }
  void WriteText(int x, int y, const Text& text) override {
    calls.push_back("Write(" + std::to_string(x) + "," + std::to_string(y) + "," + text + ")");
  }
  void Refresh() override { calls.push_back("Refresh"); }
  void SetContent(const Text& content) override {
    contents.push_back(content);
    calls.push_back("Content(" + content + ")");
  }

  // Only the calls that start with `prefix`.
  std::vector<std::string> Only(const std::string& prefix) const {
    std::vector<std::string> chosen;
    for (const std::string& call : calls) {
      if (call.rfind(prefix, 0) == 0) {
        chosen.push_back(call);
      }
    }
    return chosen;
  }

private:
  static std::string Hex(Color color) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%06X", static_cast<unsigned>(color));
    return buffer;
  }
};

} // namespace quillore
