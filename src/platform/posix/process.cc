#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace platform {

void PrepareProcess() {
  std::signal(SIGPIPE, SIG_IGN);
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free number, which is this one.
    int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

void KeepMemoryPrivate() { ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0); }

void ForgetEnvironmentValue(const char* name) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    char* text = *entry;
    std::size_t i = 0;
    while (name[i] != '\0' && text[i] != '\0' && upper(name[i]) == upper(text[i])) ++i;
    if (name[i] != '\0' || text[i] != '=') continue;
    volatile char* value = text + i + 1;
    for (std::size_t j = 0; value[j] != '\0'; ++j) value[j] = '\0';
  }
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace platform
