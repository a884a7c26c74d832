#include "gorvic/sink.hpp"

namespace gorvic {

bool StreamSink::put(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stream_) == text.size();
}

}  // namespace gorvic
