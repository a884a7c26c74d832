#include "gorvic/netlist.hpp"

#include <algorithm>
#include <charconv>
#include <span>
#include <string>
#include <vector>

namespace gorvic {
namespace {

constexpr std::string_view kRule = "# *****************************************************\n\n";
constexpr std::string_view kSourcePath = "C:\\Simulate\\ZarnDos\\Gen\\Source\\gorvic";

constexpr std::string_view kSketchOne =
    "#         _______         \n"
    "#        |       |        \n"
    "#   in---| Integ. >--- out\n"
    "#        |_______|        \n"
    "#         &delayed        \n\n";

constexpr std::string_view kSketchTwo =
    "#         _______        _______         \n"
    "#        |       |  s01 |       |        \n"
    "#   in---| Integ. >-----| Integ. >--- out\n"
    "#        |_______|      |_______|        \n"
    "#         &delayed      &delayed         \n\n";

// The long sketch, split around the index of the last internal node.
constexpr std::string_view kSketchManyHead =
    "#         _______                _______         \n"
    "#        |       |  s01     s";
constexpr std::string_view kSketchManyTail =
    " |       |        \n"
    "#   in---| Integ. >---  ... ----| Integ. >--- out\n"
    "#        |_______|              |_______|        \n"
    "#         &delayed              &delayed         \n\n";

// A node statement is kHead, the node's index, kMiddle, its input's index, kTail and the
// line end.
constexpr std::string_view kHead = "node $s";
constexpr std::string_view kMiddle = " integrator $s";
constexpr std::string_view kTail = "  &delayed";
constexpr std::size_t kMaxIndexDigits = 10;
constexpr std::size_t kMaxLineEnd = 2;
constexpr std::size_t kMaxLine =
    kHead.size() + kMiddle.size() + kTail.size() + 2 * kMaxIndexDigits + kMaxLineEnd;

std::string_view text_of(LineEnd end) {
  return end == LineEnd::kCrLf ? "\r\n" : "\n";
}

// `text` with every '\n' written as `end`: what a text-mode stream would have made of it.
std::string with_line_ends(std::string_view text, std::string_view end) {
  if (end == "\n") return std::string(text);
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    if (c == '\n') {
      out += end;
    } else {
      out += c;
    }
  }
  return out;
}

// Internal node names show their index with at least two digits ($s01).
int index_digits(std::int64_t index) {
  int digits = 2;
  for (std::int64_t bound = 100; index >= bound; bound *= 10) ++digits;
  return digits;
}

char* put_text(char* at, std::string_view text) {
  return std::copy(text.begin(), text.end(), at);
}

char* put_index(char* at, std::int64_t index) {
  if (index < 10) *at++ = '0';
  return std::to_chars(at, at + kMaxIndexDigits, index).ptr;
}

void append_index(std::string& text, std::int64_t index) {
  char digits[kMaxIndexDigits + 1];
  text.append(digits, put_index(digits, index));
}

// Statements k (node $s<k> fed from $s<k-1>) for 2 <= k < n are written a block of
// kBlockLines at a time. From one block to the next every index grows by kBlockLines, a
// power of ten: as long as no index gains a digit, each line keeps its layout and the
// step is one carry-propagating digit increment per index, with no formatting at all.
// A block of 10^4 lines (520 KB at most) measured best: N = 2147483647 to /dev/null took
// 5.1 s with 10^3 (ten times the system calls), 2.0 s with 10^4, and 1.95 s with 10^5,
// whose 5 MB buffer would push the peak resident size past 6 MiB.
constexpr std::int64_t kBlockLines = 10000;
constexpr int kBlockPower = 4;  // kBlockLines == 10^kBlockPower

// The memory for a block of `lines` statements, at most kBlockLines: a short chain touches
// no more memory than it writes, which a run for a small N would otherwise spend its time on.
std::vector<char> block_memory(std::int64_t lines) {
  return std::vector<char>(
      static_cast<std::size_t>(std::clamp<std::int64_t>(lines, 0, kBlockLines)) * kMaxLine);
}

class StatementBlock {
 public:
  // Formats into `text`, which has room for the lines it will be asked to hold.
  StatementBlock(std::string_view line_end, std::span<char> text)
      : text_(text), line_end_(line_end) {}

  // Fills the block with the statements for k = first .. first + count - 1, count at
  // most the lines it has room for.
  void format(std::int64_t first, std::int64_t count) {
    char* at = text_.data();
    for (std::int64_t k = first; k < first + count; ++k) {
      at = put_text(at, kHead);
      at = put_index(at, k);
      at = put_text(at, kMiddle);
      at = put_index(at, k - 1);
      at = put_text(at, kTail);
      at = put_text(at, line_end_);
    }
    size_ = static_cast<std::size_t>(at - text_.data());
    first_ = first;
  }

  // Moves a full block on to the next kBlockLines statements, in place when no index
  // changes its digit count on the way.
  void advance() {
    const std::int64_t next = first_ + kBlockLines;
    // The smallest index in this block is first_ - 1, the largest in the next one
    // next + kBlockLines - 1; equal digit counts mean every line keeps its layout.
    // As the two lie 2 * kBlockLines - 1 apart, equal counts also mean more than
    // kBlockPower digits, so the digit to step exists.
    const int digits = index_digits(first_ - 1);
    if (digits != index_digits(next + kBlockLines - 1)) {
      format(next, kBlockLines);
      return;
    }
    const std::size_t line = size_ / kBlockLines;  // all lines alike, line end included
    const std::size_t node_step = kHead.size() + digits - 1 - kBlockPower;
    const std::size_t input_step = node_step + digits + kMiddle.size();
    for (char* at = text_.data(); at != text_.data() + size_; at += line) {
      step_digit(at + node_step);
      step_digit(at + input_step);
    }
    first_ = next;
  }

  std::string_view text() const { return {text_.data(), size_}; }

 private:
  // Adds one to the decimal digit at `digit`, carrying leftwards; the caller guarantees
  // that the number does not grow a digit.
  static void step_digit(char* digit) {
    while (*digit == '9') *digit-- = '0';
    ++*digit;
  }

  std::span<char> text_;
  std::string_view line_end_;
  std::size_t size_ = 0;
  std::int64_t first_ = 0;
};

bool write_links(Sink& out, std::int64_t first, std::int64_t last, LineEnd end,
                 std::span<char> memory) {
  if (first > last) return true;
  const std::int64_t lines = std::min(kBlockLines, last - first + 1);
  StatementBlock block(text_of(end), memory);
  block.format(first, lines);
  while (true) {
    if (!out.put(block.text())) return false;
    first += kBlockLines;
    if (first > last) return true;
    if (last - first + 1 >= kBlockLines) {
      block.advance();
    } else {
      block.format(first, last - first + 1);
    }
  }
}

constexpr std::string_view kFirstStatement = "node $s01 integrator $in  &delayed";
constexpr std::string_view kOnlyStatement = "node $out integrator $in  &delayed";

// The statement that drives $out from the last internal node, for n >= 2.
std::string last_statement(std::int32_t n, LineEnd end) {
  std::string last = "node $out integrator $s";
  append_index(last, n - 1);
  return (last += kTail) += text_of(end);
}

}  // namespace

bool write_chain_links(Sink& out, std::int64_t first, std::int64_t last, LineEnd end) {
  std::vector<char> memory = block_memory(last - first + 1);
  return write_links(out, first, last, end, memory);
}

bool write_node_statements(Sink& out, std::int32_t n, LineEnd end) {
  const std::string_view line_end = text_of(end);
  if (n == 1) return out.put(std::string(kOnlyStatement) += line_end);
  return out.put(std::string(kFirstStatement) += line_end) &&
         write_chain_links(out, 2, n - 1, end) && out.put(last_statement(n, end));
}

ChainNetlist::ChainNetlist(std::int32_t n, std::string_view creation_time, std::string_view command,
                           LineEnd end)
    : n_(n), end_(end), block_(block_memory(static_cast<std::int64_t>(n) - 2)) {
  std::string head;
  head.reserve(1024 + command.size());
  head += "cell_interface  $out  $dummy  $in\n\n";
  head += kRule;
  head += "# CHAIN OF DELAYED INTEGRATORS (chameleonic)\n\n";
  head += "# Number of Delayed Integrators: ";
  head += std::to_string(n);
  head += "\n# Creation Time        : ";
  head += creation_time;
  head += "\n# By Command ";
  // A line break would end the comment and let the rest of the command be read as a
  // statement.
  const std::size_t command_at = head.size();
  head += command;
  std::replace_if(
      head.begin() + static_cast<std::ptrdiff_t>(command_at), head.end(),
      [](char c) { return c == '\n' || c == '\r'; }, ' ');
  head += "\n\n# Generator Version ";
  head += kGeneratorVersion;
  head += "\n# From C source : '";
  head += kSourcePath;
  head += "'\n\n";
  head += kRule;
  head += "zarn_version  V4.50\n\n";
  if (n == 1) {
    head += kSketchOne;
  } else if (n == 2) {
    head += kSketchTwo;
  } else {
    head += kSketchManyHead;
    append_index(head, n - 1);
    head += kSketchManyTail;
  }
  // The first statement goes with the header and the trailer with the last statement,
  // so that a short chain takes one or two writes.
  head += n == 1 ? kOnlyStatement : kFirstStatement;
  head += '\n';
  std::string tail =
      "\n# *****************************************************\n"
      "\n# *****************************************************\n";
  const std::string_view line_end = text_of(end);
  if (n == 1) {
    head_ = with_line_ends(head + tail, line_end);
  } else {
    head_ = with_line_ends(head, line_end);
    tail_ = last_statement(n, end) + with_line_ends(tail, line_end);
  }
}

bool ChainNetlist::write(Sink& out) {
  return out.put(head_) && write_links(out, 2, static_cast<std::int64_t>(n_) - 1, end_, block_) &&
         (tail_.empty() || out.put(tail_));
}

bool write_chain_netlist(Sink& out, std::int32_t n, std::string_view creation_time,
                         std::string_view command, LineEnd end) {
  ChainNetlist netlist(n, creation_time, command, end);
  return netlist.write(out);
}

}  // namespace gorvic
