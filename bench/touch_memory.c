// SPDX-License-Identifier: MIT
/* The memory half of funcao_exe's floor: two images' worth of fresh memory, touched once. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  size_t bytes = 2 * (size_t)strtoull(argc > 1 ? argv[1] : "0", NULL, 10);
  unsigned char* memory = malloc(bytes ? bytes : 1);
  if (memory == NULL)
    return 1;
  memset(memory, 1, bytes);
  printf("%d\n", memory[bytes / 2]); /* keeps the memset */
  free(memory);
  return 0;
}
