/* Writes N bytes of text lines to standard output in 1 MiB writes: the child of the capture
 * benchmark, kept free of any framework so that its own cost is the system's. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv) {
  unsigned long long total = argc > 1 ? strtoull(argv[1], NULL, 10) : 0;
  static char block[1 << 20];
  for (size_t i = 0; i < sizeof block; i += 64) {
    memset(block + i, 'a' + (int)(i / 64 % 26), 63);
    block[i + 63] = '\n';
  }
  while (total > 0) {
    size_t n = total < sizeof block ? (size_t)total : sizeof block;
    size_t done = 0;
    while (done < n) {
      ssize_t w = write(1, block + done, n - done);
      if (w <= 0) return 1;
      done += (size_t)w;
    }
    total -= n;
  }
  return 0;
}
