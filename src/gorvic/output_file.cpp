#include "gorvic/output_file.hpp"

namespace gorvic {

std::string hidden_name(std::string_view name, std::string_view random, std::size_t name_max) {
  static constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
  constexpr std::size_t kRandom = 6;
  std::string hidden = ".";
  hidden += name.substr(0, name_max > kRandom + 2 ? name_max - kRandom - 2 : 0);
  hidden += '.';
  for (const char byte : random.substr(0, kRandom)) {
    hidden += kDigits[static_cast<unsigned char>(byte) % kDigits.size()];
  }
  return hidden;
}

std::string detail::new_hidden_name(std::string_view name, std::size_t name_max) {
  // Without a random source (before 3.17, no /dev), a count; O_EXCL keeps any name safe.
  static char count = 0;
  char random[6] = {count++};
  random_bytes(random, sizeof random);
  return hidden_name(name, std::string_view(random, sizeof random), name_max);
}

}  // namespace gorvic
