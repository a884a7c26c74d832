#include "gorvic/output_file.hpp"

#include <chrono>

#include "gorvic/output_file_platform.hpp"

namespace gorvic {

std::string hidden_sibling(std::string_view target, std::string_view suffix, std::size_t name_max) {
#ifdef _WIN32
  const auto cut = target.find_last_of("/\\:");
#else
  const auto cut = target.rfind('/');
#endif
  const std::size_t start = cut == std::string_view::npos ? 0 : cut + 1;
  const std::size_t room = name_max > suffix.size() + 1 ? name_max - suffix.size() - 1 : 0;
  std::string sibling(target.substr(0, start));
  sibling += '.';
  sibling += target.substr(start).substr(0, room);
  sibling += suffix;
  return sibling;
}

namespace detail {
namespace {

std::uint64_t mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15u;
  x = (x ^ (x >> 30u)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27u)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31u);
}

}  // namespace

// "." and six letters or digits, different for every try and for runs at the same time.
std::string new_file_name(std::string_view target, unsigned try_number, std::size_t name_max) {
  static constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::uint64_t bits = mix(static_cast<std::uint64_t>(now) ^ (process_id() << 32u) ^ try_number);
  std::string suffix = ".";
  for (int i = 0; i < 6; ++i, bits /= kDigits.size()) {
    suffix += kDigits[static_cast<std::size_t>(bits % kDigits.size())];
  }
  return hidden_sibling(target, suffix, name_max);
}

}  // namespace detail

// Replace when the directory takes a new file that can be made identical to the target;
// write in place when it cannot, as the user's shell would; fail, with the target
// untouched, when a new file cannot be had for any other reason.
OutputFile::OutputFile(const char* path) : place_(detail::make_place(path)) {
  using detail::Created;
  using detail::Found;
  switch (detail::examine(*place_)) {
    case Found::kDescriptor:
      open_ = detail::open_descriptor(*place_);
      return;
    case Found::kOther:
      open_ = detail::open_directly(*place_);
      return;
    case Found::kRefused:
      return;
    case Found::kFileOrNothing:
      break;
  }
  switch (detail::create_replacement(*place_)) {
    case Created::kYes:
      open_ = replacing_ = true;
      return;
    case Created::kNotHere:
      open_ = detail::open_in_place(*place_);
      return;
    case Created::kFailed:
      return;
  }
}

OutputFile::~OutputFile() = default;

bool OutputFile::put(std::string_view text) {
  return detail::write_all(*place_, text);
}

bool OutputFile::commit() {
  return replacing_ ? detail::publish(*place_) : detail::close_written(*place_);
}

}  // namespace gorvic
