/* The floor for a Create: a static C program that writes SIZE bytes to a
   new file beside PATH, flushes it to disk, renames it over PATH and prints
   the success line, as a save of a link does.
   Usage: floor_write PATH SIZE */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static unsigned char data[1 << 20];

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const long size = atol(argv[2]);
  if (size < 0 || (unsigned long)size > sizeof data) return 2;
  char temporary[4096];
  if (snprintf(temporary, sizeof temporary, "%s.%ld.tmp", argv[1],
               (long)getpid()) >= (int)sizeof temporary)
    return 2;
  const int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return 1;
  if (write(fd, data, (size_t)size) != size || fsync(fd) != 0) {
    close(fd);
    unlink(temporary);
    return 1;
  }
  if (close(fd) != 0 || rename(temporary, argv[1]) != 0) {
    unlink(temporary);
    return 1;
  }
  fputs("\nThe command completed successfully.\n", stdout);
  return 0;
}
