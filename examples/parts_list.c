/*
 * parts_list: reads a parts list and prints it as a table.
 *
 * Input lines are "name value model-file", with '#' comment lines, "//" comments and any
 * punctuation between the fields:
 *
 *     # the divider
 *     R1, 4.7e3, lib/../models/./carbon.res   // top
 *
 * prints, for each part, its name, its value in engineering notation, the model file's
 * path simplified and split from its extension:
 *
 *     R1       4.70  k  models/carbon  res
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zarngen/support.h>

int main(void) {
  char line[1024];
  while (fgets(line, sizeof line, stdin) != NULL) {
    char name[256], path[512], ext[512];
    double value;
    if (!clean_eol(line) || !strip_non_alnum(line)) continue;
    if (sscanf(line, "%255s %lf %511s", name, &value, path) != 3) {
      fprintf(stderr, "parts_list: cannot read '%s'\n", line);
      return EXIT_FAILURE;
    }
    printf("%-8s %s  %s", name, eng(value, 3), split_name(simplify_pathname(path), ext));
    printf("  %s\n", ext[0] != '\0' ? ext : "-");
  }
  return EXIT_SUCCESS;
}
