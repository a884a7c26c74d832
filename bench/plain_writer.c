/*
 * plain_writer FILE N: writes the chain netlist of N integrators (N >= 3) with stdio, a
 * formatted write per line, as a plain C generator would: what a run costs without
 * anything but the C library, for bench/compare-startup.sh to hold gorvic against.
 */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static const char rule[] = "# *****************************************************\n";

int main(int argc, char** argv) {
  FILE* out;
  char when[32];
  time_t now = time(NULL);
  long n, k;
  if (argc != 3 || (n = strtol(argv[2], NULL, 0)) < 3) {
    fprintf(stderr, "usage: plain_writer FILE N (N >= 3)\n");
    return 1;
  }
  strftime(when, sizeof when, "%a %b %d %H:%M:%S %Y", localtime(&now));
  out = fopen(argv[1], "w");
  if (out == NULL) return 1;
  fprintf(out, "cell_interface  $out  $dummy  $in\n\n%s\n", rule);
  fprintf(out, "# CHAIN OF DELAYED INTEGRATORS (chameleonic)\n\n");
  fprintf(out, "# Number of Delayed Integrators: %ld\n", n);
  fprintf(out, "# Creation Time        : %s\n", when);
  fprintf(out, "# By Command %s\n\n", argv[0]);
  fprintf(out, "# Generator Version %s\n", "2.0");
  fprintf(out, "# From C source : '%s'\n\n", "C:\\Simulate\\ZarnDos\\Gen\\Source\\gorvic");
  fprintf(out, "%s\nzarn_version  %s\n\n", rule, "V4.50");
  fprintf(out, "#         _______                _______         \n");
  fprintf(out, "#        |       |  s01     s%02ld |       |        \n", n - 1);
  fprintf(out, "#   in---| Integ. >---  ... ----| Integ. >--- out\n");
  fprintf(out, "#        |_______|              |_______|        \n");
  fprintf(out, "#         &delayed              &delayed         \n\n");
  fprintf(out, "node $s%02d integrator $in  &delayed\n", 1);
  for (k = 2; k < n; ++k) fprintf(out, "node $s%02ld integrator $s%02ld  &delayed\n", k, k - 1);
  fprintf(out, "node $out integrator $s%02ld  &delayed\n", n - 1);
  fprintf(out, "\n%s\n%s", rule, rule);
  return fclose(out) == 0 ? 0 : 1;
}
