/* The floor for a Query: a C program that starts, prints the
   success line and ends. */
#include <stdio.h>

int main(void) {
  fputs("\nThe command completed successfully.\n", stdout);
  return 0;
}
