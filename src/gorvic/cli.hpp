// The command line: `gorvic output_file constant_number in_node`.
#pragma once

#include <cstdio>

namespace gorvic {

// Runs the generator on the argument vector and returns the exit status: 0 when the
// netlist was written and closed, 1 after a diagnostic on `err`. `source_date_epoch` is
// the value of that environment variable, or null when it is not set.
int run(int argc, const char* const* argv, std::FILE* err, const char* source_date_epoch);

}  // namespace gorvic
