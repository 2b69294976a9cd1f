/* A preload library for bench/window.py: it notes, on the monotonic
   clock, when each of the calls that bound a save's last window begins
   and ends, with the descriptor and the one number that tells the call
   apart (the flags of renameat2, the command of fcntl), and writes them
   to the file $WINDOW_LOG when the program ends, one call a line:
       name fd arg begin-ns end-ns
   Nothing is written while the program runs, so the notes cost a read of
   the clock on each side of a call.
   Build: cc -O2 -shared -fPIC -o window_shim.so window_shim.c -ldl */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

struct note {
  const char* name;
  int fd;
  long arg;
  long long begin, end;
};

static struct note notes[4096];
static int count;

static long long now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static void note(const char* name, int fd, long arg, long long begin) {
  long long end = now();
  if (count < (int)(sizeof notes / sizeof notes[0]))
    notes[count++] = (struct note){name, fd, arg, begin, end};
}

__attribute__((destructor)) static void dump(void) {
  const char* path = getenv("WINDOW_LOG");
  FILE* f = path ? fopen(path, "w") : NULL;
  if (!f) return;
  for (int i = 0; i < count; ++i)
    fprintf(f, "%s %d %ld %lld %lld\n", notes[i].name, notes[i].fd, notes[i].arg,
            notes[i].begin, notes[i].end);
  fclose(f);
}

#define REAL(type, name, ...)                          \
  static type (*real)(__VA_ARGS__);                    \
  if (!real) real = (type(*)(__VA_ARGS__))dlsym(RTLD_NEXT, name)

ssize_t pread64(int fd, void* buf, size_t n, off_t at) {
  REAL(ssize_t, "pread64", int, void*, size_t, off_t);
  long long t = now();
  ssize_t r = real(fd, buf, n, at);
  note("pread", fd, (long)at, t);
  return r;
}

ssize_t pwrite64(int fd, const void* buf, size_t n, off_t at) {
  REAL(ssize_t, "pwrite64", int, const void*, size_t, off_t);
  long long t = now();
  ssize_t r = real(fd, buf, n, at);
  note("pwrite", fd, (long)at, t);
  return r;
}

ssize_t pwritev64(int fd, const struct iovec* parts, int count, off_t at) {
  REAL(ssize_t, "pwritev64", int, const struct iovec*, int, off_t);
  long long t = now();
  ssize_t r = real(fd, parts, count, at);
  note("pwrite", fd, (long)at, t);
  return r;
}

int ftruncate64(int fd, off_t size) {
  REAL(int, "ftruncate64", int, off_t);
  long long t = now();
  int r = real(fd, size);
  note("ftruncate", fd, (long)size, t);
  return r;
}

int renameat2(int a, const char* x, int b, const char* y, unsigned flags) {
  REAL(int, "renameat2", int, const char*, int, const char*, unsigned);
  long long t = now();
  int r = real(a, x, b, y, flags);
  note("renameat2", a, (long)flags, t);
  return r;
}

int fchmod(int fd, mode_t mode) {
  REAL(int, "fchmod", int, mode_t);
  long long t = now();
  int r = real(fd, mode);
  note("fchmod", fd, (long)mode, t);
  return r;
}

int fsetxattr(int fd, const char* name, const void* v, size_t n, int flags) {
  REAL(int, "fsetxattr", int, const char*, const void*, size_t, int);
  long long t = now();
  int r = real(fd, name, v, n, flags);
  note("fsetxattr", fd, 0, t);
  return r;
}

ssize_t fgetxattr(int fd, const char* name, void* v, size_t n) {
  REAL(ssize_t, "fgetxattr", int, const char*, void*, size_t);
  long long t = now();
  ssize_t r = real(fd, name, v, n);
  note("fgetxattr", fd, 0, t);
  return r;
}

ssize_t getxattr(const char* path, const char* name, void* v, size_t n) {
  REAL(ssize_t, "getxattr", const char*, const char*, void*, size_t);
  long long t = now();
  ssize_t r = real(path, name, v, n);
  note("getxattr", -1, 0, t);
  return r;
}

ssize_t flistxattr(int fd, char* list, size_t n) {
  REAL(ssize_t, "flistxattr", int, char*, size_t);
  long long t = now();
  ssize_t r = real(fd, list, n);
  note("flistxattr", fd, 0, t);
  return r;
}

ssize_t listxattr(const char* path, char* list, size_t n) {
  REAL(ssize_t, "listxattr", const char*, char*, size_t);
  long long t = now();
  ssize_t r = real(path, list, n);
  note("listxattr", -1, 0, t);
  return r;
}

int fcntl64(int fd, int cmd, ...) {
  REAL(int, "fcntl64", int, int, ...);
  va_list args;
  va_start(args, cmd);
  void* arg = va_arg(args, void*);
  va_end(args);
  long long t = now();
  int r = real(fd, cmd, arg);
  note("fcntl", fd, (long)cmd, t);
  return r;
}

int fcntl(int fd, int cmd, ...) {
  va_list args;
  va_start(args, cmd);
  void* arg = va_arg(args, void*);
  va_end(args);
  return fcntl64(fd, cmd, arg);
}
