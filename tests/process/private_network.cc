#include "process/private_network.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool WriteProcFile(const char* path, const std::string& text) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

bool EnterNamespaces(std::string& why) {
  if (::geteuid() == 0 && ::unshare(CLONE_NEWNET) == 0) return true;
  uid_t uid = ::geteuid();
  gid_t gid = ::getegid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
    why = std::string("unshare: ") + std::strerror(errno);
    return false;
  }
  // Without setgroups denied an unprivileged process may not write gid_map.
  WriteProcFile("/proc/self/setgroups", "deny");
  if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
      !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) {
    why = "cannot map the user into the new namespace";
    return false;
  }
  return true;
}

bool BringLoopbackUp(std::string& why) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    why = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  ifreq request;
  std::memset(&request, 0, sizeof request);
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (ok) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  if (!ok) why = std::string("cannot bring lo up: ") + std::strerror(errno);
  ::close(fd);
  return ok;
}

}  // namespace

bool EnterPrivateNetwork(std::string& why) {
  static bool entered = false;
  static std::string failure;
  if (!entered && failure.empty()) {
    if (EnterNamespaces(failure) && BringLoopbackUp(failure)) entered = true;
    if (!entered && failure.empty()) failure = "unknown failure";
  }
  why = failure;
  return entered;
}
