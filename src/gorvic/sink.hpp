// Where the netlist text goes. The writer sees only this interface, so tests and
// benchmarks can capture or discard the text without a file.
#pragma once

#include <string>
#include <string_view>

namespace gorvic {

class Sink {
 public:
  virtual ~Sink() = default;
  // Appends `text`; false when it was not all written. The writer stops at the first
  // false, so a sink need not stay usable after one.
  virtual bool put(std::string_view text) = 0;
};

// Collects the text in memory.
class StringSink final : public Sink {
 public:
  bool put(std::string_view text) override {
    text_.append(text);
    return true;
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace gorvic
