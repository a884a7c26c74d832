// gorvic output_file constant_number in_node
//
// Writes the netlist of a chain of delayed integrators; see doc/gorvic.1.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "gorvic/cli.hpp"
#include "gorvic/output_file.hpp"

#ifdef __MINGW32__
// Expand * and ? in the arguments as the platform's start-up code does for its tools.
extern "C" {
int _dowildcard = -1;
}
#endif

int main(int argc, char** argv) {
  gorvic::reserve_standard_descriptors();
  // A reader that has gone, or a file-size limit, would otherwise kill the process
  // silently; ignored, they fail the write, which is reported like any other.
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  return gorvic::run(argc, argv, stderr, std::getenv("SOURCE_DATE_EPOCH"));
}
