/* A child that prints its arguments exactly: their count, then each one as "<length>:<bytes>". */
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
  printf("%d\n", argc - 1);
  for (int i = 1; i < argc; i++) printf("%zu:%s\n", strlen(argv[i]), argv[i]);
  return 0;
}
