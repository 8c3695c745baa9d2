#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

int ToFd(FileHandle file) { return static_cast<int>(file); }

bool WriteAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    ssize_t written = ::write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

// Opens without waiting: a FIFO with no process at its other end does not
// hang the open (for reading it reads as empty; for writing the open fails).
// The descriptor is then made blocking again for ordinary reads and writes.
FileHandle OpenWithoutWaiting(const char* path, int flags) {
  int fd;
  do {
    fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kNoFile;
  int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return kNoFile;
  }
  return fd;
}

}  // namespace

FileHandle OpenForReading(const char* path) {
  FileHandle file = OpenWithoutWaiting(path, O_RDONLY);
  if (file == kNoFile) return kNoFile;
  struct stat status;
  if (::fstat(ToFd(file), &status) != 0 || S_ISDIR(status.st_mode)) {
    ::close(ToFd(file));
    return kNoFile;
  }
  return file;
}

SmallFile ReadSmallFile(const char* path, std::size_t maxBytes, std::string& contents) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? SmallFile::kMissing : SmallFile::kUnreadable;
  struct stat status;
  SmallFile result = SmallFile::kRead;
  if (::fstat(fd, &status) != 0) {
    result = SmallFile::kUnreadable;
  } else if (!S_ISREG(status.st_mode)) {
    result = SmallFile::kNotRegular;
  } else if (static_cast<std::uint64_t>(status.st_size) > maxBytes) {
    result = SmallFile::kTooLarge;
  }
  contents.clear();
  char buffer[65536];
  while (result == SmallFile::kRead) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno != EINTR) result = SmallFile::kUnreadable;
      continue;
    }
    if (contents.size() + static_cast<std::size_t>(got) > maxBytes) result = SmallFile::kTooLarge;
    contents.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (result != SmallFile::kRead) contents.clear();
  return result;
}

FileHandle OpenStandardInput() {
  int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
  return fd < 0 ? kNoFile : fd;
}

bool IsRegularFile(FileHandle file) {
  struct stat status;
  return ::fstat(ToFd(file), &status) == 0 && S_ISREG(status.st_mode);
}

bool IsSameFile(const char* a, const char* b) {
  struct stat first, second;
  return ::stat(a, &first) == 0 && ::stat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

FileHandle CreateOrTruncate(const char* path) { return OpenWithoutWaiting(path, O_WRONLY | O_CREAT | O_TRUNC); }

FileHandle OpenForAppend(const char* path) { return OpenWithoutWaiting(path, O_WRONLY | O_CREAT | O_APPEND); }

std::ptrdiff_t ReadFile(FileHandle file, char* buffer, std::size_t capacity) {
  for (;;) {
    ssize_t got = ::read(ToFd(file), buffer, capacity);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool WriteFile(FileHandle file, const char* data, std::size_t length) { return WriteAll(ToFd(file), data, length); }

void CloseFile(FileHandle file) { ::close(ToFd(file)); }

bool WriteStandardOutput(const char* data, std::size_t length) { return WriteAll(STDOUT_FILENO, data, length); }

}  // namespace platform
