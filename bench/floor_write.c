/* The floor for a Create: a C program that writes SIZE bytes to a
   new file beside PATH, flushes it to disk, renames it over PATH, flushes
   the folder (so that the rename is on disk too) and prints the success
   line, as a save of a link does.
   Usage: floor_write PATH SIZE */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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
  char folder[4096];
  const char* slash = strrchr(argv[1], '/');
  if (snprintf(folder, sizeof folder, "%.*s", slash ? (int)(slash - argv[1]) + 1 : 1,
               slash ? argv[1] : ".") >= (int)sizeof folder)
    return 2;
  const int dir = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || fsync(dir) != 0) return 1;
  close(dir);
  fputs("\nThe command completed successfully.\n", stdout);
  return 0;
}
