/*
 * binary_writer FILE BYTES: writes BYTES bytes to FILE in binary mode, in blocks of the
 * netlist writer's size, with no stream buffer. What the platform's own writes cost, for
 * bench/compare-windows.sh to hold gorvic.exe against.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define BLOCK 520000 /* the netlist writer's largest block */

int main(int argc, char** argv) {
  static char block[BLOCK];
  FILE* out;
  long long left;
  if (argc != 3) {
    fprintf(stderr, "usage: binary_writer FILE BYTES\n");
    return 1;
  }
  left = strtoll(argv[2], NULL, 10);
  memset(block, 'x', sizeof block);
  out = fopen(argv[1], "wb");
  if (out == NULL) return 1;
  setvbuf(out, NULL, _IONBF, 0);
  while (left > 0) {
    const size_t size = left < BLOCK ? (size_t)left : BLOCK;
    if (fwrite(block, 1, size, out) != size) return 1;
    left -= (long long)size;
  }
  return fclose(out) == 0 ? 0 : 1;
}
