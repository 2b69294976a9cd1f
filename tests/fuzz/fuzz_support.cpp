#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace fuzz {
namespace {

// The files a target uses: a handful, by name.
File files[4];
char fileNames[4][16];
std::size_t fileCount = 0;
char folder[200];

void RemoveFolder() {
  for (std::size_t i = 0; i < fileCount; ++i) unlink(files[i].Path);
  rmdir(folder);
}

// Folders of processes that died without cleaning up (a crash found).
void RemoveDeadFolders(const char* base) {
  DIR* d = opendir(base);
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    long pid = 0;
    if (std::sscanf(e->d_name, "kit-fuzz-%ld", &pid) != 1 || pid <= 0 ||
        kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
      continue;
    char path[512];
    std::snprintf(path, sizeof path, "%s/%s", base, e->d_name);
    if (DIR* inner = opendir(path)) {
      while (dirent* f = readdir(inner)) {
        char file[768];
        std::snprintf(file, sizeof file, "%s/%s", path, f->d_name);
        unlink(file);
      }
      closedir(inner);
    }
    rmdir(path);
  }
  closedir(d);
}

const char* Folder() {
  if (folder[0] != '\0') return folder;
  struct stat st;
  const char* base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : nullptr;
  if (base == nullptr) base = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp";
  RemoveDeadFolders(base);
  std::snprintf(folder, sizeof folder, "%s/kit-fuzz-%ld", base, static_cast<long>(getpid()));
  if (mkdir(folder, 0700) != 0 && (stat(folder, &st) != 0 || !S_ISDIR(st.st_mode)))
    Fail("a folder for the files", __FILE__, __LINE__);
  std::atexit(RemoveFolder);
  return folder;
}

int silenced = -1;  // the real standard output while it is silenced
const char* inputName = nullptr;

}  // namespace

void Fail(const char* what, const char* file, int line) {
  std::fflush(stdout);
  std::fprintf(stderr, "\n%s:%d: check failed: %s\n", file, line, what);
  if (inputName != nullptr) std::fprintf(stderr, "input: %s\n", inputName);
  if (folder[0] != '\0') RemoveFolder();
  std::abort();
}

void SetInputName(const char* name) { inputName = name; }

const File& FileNamed(const char* name) {
  for (std::size_t i = 0; i < fileCount; ++i)
    if (std::strcmp(fileNames[i], name) == 0) return files[i];
  if (fileCount == std::size(files) || std::strlen(name) >= sizeof fileNames[0])
    Fail("room for another file", __FILE__, __LINE__);
  File& f = files[fileCount];
  std::snprintf(fileNames[fileCount], sizeof fileNames[0], "%s", name);
  ++fileCount;
  std::snprintf(f.Path, sizeof f.Path, "%s/%s", Folder(), name);
  for (std::size_t i = 0; i <= std::strlen(f.Path); ++i)
    f.Wide[i] = static_cast<char16_t>(static_cast<unsigned char>(f.Path[i]));
  return f;
}

void WriteFile(const File& file, const uint8_t* data, std::size_t size) {
  int fd = open(file.Path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  FUZZ_CHECK(fd >= 0);
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    FUZZ_CHECK(n > 0);
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  close(fd);
}

std::size_t ReadFile(const File& file, uint8_t* buffer, std::size_t capacity) {
  int fd = open(file.Path, O_RDONLY | O_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  std::size_t used = 0;
  while (used < capacity) {
    ssize_t n = read(fd, buffer + used, capacity - used);
    FUZZ_CHECK(n >= 0);
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  struct stat st;
  FUZZ_CHECK(fstat(fd, &st) == 0);
  close(fd);
  return static_cast<std::size_t>(st.st_size);
}

Object CreateObject() {
  Object object;
  FUZZ_CHECK(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&object.Link)) == S_OK);
  FUZZ_CHECK(object.Link->QueryInterface(IID_IPersistFile,
                                         reinterpret_cast<void**>(&object.Persist)) == S_OK);
  return object;
}

void ReleaseObject(Object* object) {
  object->Persist->Release();
  object->Link->Release();
  *object = Object();
}

HRESULT Load(const Object& object, const File& file) {
  return object.Persist->Load(reinterpret_cast<LPCOLESTR>(file.Wide), STGM_READ);
}

HRESULT Save(const Object& object, const File& file) {
  return object.Persist->Save(reinterpret_cast<LPCOLESTR>(file.Wide), FALSE);
}

void BeginSilence() {
  std::fflush(stdout);
  silenced = dup(1);
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  dup2(null, 1);
  close(null);
}

void EndSilence() {
  std::fflush(stdout);
  dup2(silenced, 1);
  close(silenced);
  silenced = -1;
}

}  // namespace fuzz
