// Loaded into Samba's client programs (LD_PRELOAD) by the Samba test: their
// connections to the SMB port 445 go to the port of the test's own server,
// SMB_TEST_PORT, since smbcacls and smbtorture take no port of their own.
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>

extern "C" int connect(int fd, const sockaddr* to, socklen_t length) {
  using Connect = int (*)(int, const sockaddr*, socklen_t);
  static const Connect next = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "connect"));
  const char* port = std::getenv("SMB_TEST_PORT");
  if (port == nullptr || to == nullptr || to->sa_family != AF_INET ||
      length < sizeof(sockaddr_in) || ntohs(reinterpret_cast<const sockaddr_in*>(to)->sin_port) != 445)
    return next(fd, to, length);
  sockaddr_in moved = *reinterpret_cast<const sockaddr_in*>(to);
  moved.sin_port = htons(static_cast<uint16_t>(std::atoi(port)));
  return next(fd, reinterpret_cast<const sockaddr*>(&moved), sizeof moved);
}
