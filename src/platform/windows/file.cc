#include "platform/file.h"

#include <windows.h>

namespace platform {
namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

bool WriteAll(HANDLE handle, const char* data, std::size_t length) {
  while (length > 0) {
    DWORD piece = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!::WriteFile(handle, data, piece, &written, nullptr) || written == 0) return false;
    data += written;
    length -= written;
  }
  return true;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

FileHandle OpenForReading(const char* path) {
  // Directories do not open without FILE_FLAG_BACKUP_SEMANTICS: they are refused here.
  HANDLE handle = ::CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return FromHandle(handle);
}

SmallFile ReadSmallFile(const char* path, std::size_t maxBytes, std::string& contents) {
  contents.clear();
  HANDLE handle = ::CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return SmallFile::kMissing;
    // A directory does not open as a file.
    DWORD attributes = ::GetFileAttributesA(path);
    bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return directory ? SmallFile::kNotRegular : SmallFile::kUnreadable;
  }
  SmallFile result = SmallFile::kRead;
  LARGE_INTEGER size;
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    result = SmallFile::kNotRegular;
  } else if (!::GetFileSizeEx(handle, &size)) {
    result = SmallFile::kUnreadable;
  } else if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
    result = SmallFile::kTooLarge;
  }
  char buffer[65536];
  while (result == SmallFile::kRead) {
    DWORD got = 0;
    if (!::ReadFile(handle, buffer, sizeof buffer, &got, nullptr)) {
      result = SmallFile::kUnreadable;
      break;
    }
    if (got == 0) break;
    if (contents.size() + got > maxBytes) result = SmallFile::kTooLarge;
    contents.append(buffer, got);
  }
  ::CloseHandle(handle);
  if (result != SmallFile::kRead) contents.clear();
  return result;
}

FileHandle OpenStandardInput() {
  // Win32 reads take the bytes as they are: no C runtime text mode is in the way.
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  HANDLE own = INVALID_HANDLE_VALUE;
  if (input == nullptr || input == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(::GetCurrentProcess(), input, ::GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return kNoFile;
  }
  return FromHandle(own);
}

bool IsRegularFile(FileHandle file) { return ::GetFileType(ToHandle(file)) == FILE_TYPE_DISK; }

bool IsSameFile(const char* a, const char* b) {
  HANDLE first = ::CreateFileA(a, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  HANDLE second = ::CreateFileA(b, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION one, two;
  bool same = first != INVALID_HANDLE_VALUE && second != INVALID_HANDLE_VALUE &&
              ::GetFileInformationByHandle(first, &one) && ::GetFileInformationByHandle(second, &two) &&
              one.dwVolumeSerialNumber == two.dwVolumeSerialNumber && one.nFileIndexHigh == two.nFileIndexHigh &&
              one.nFileIndexLow == two.nFileIndexLow;
  if (first != INVALID_HANDLE_VALUE) ::CloseHandle(first);
  if (second != INVALID_HANDLE_VALUE) ::CloseHandle(second);
  return same;
}

FileHandle CreateOrTruncate(const char* path) {
  return FromHandle(
      ::CreateFileA(path, GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle OpenForAppend(const char* path) {
  return FromHandle(
      ::CreateFileA(path, FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::ptrdiff_t ReadFile(FileHandle file, char* buffer, std::size_t capacity) {
  DWORD piece = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
  DWORD got = 0;
  if (::ReadFile(ToHandle(file), buffer, piece, &got, nullptr)) return static_cast<std::ptrdiff_t>(got);
  // A pipe whose writer has gone has simply ended.
  return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

bool WriteFile(FileHandle file, const char* data, std::size_t length) { return WriteAll(ToHandle(file), data, length); }

void CloseFile(FileHandle file) { ::CloseHandle(ToHandle(file)); }

bool WriteStandardOutput(const char* data, std::size_t length) {
  // The handle takes bytes as they are: the translation to CR LF is already done.
  // A caller may start the program without standard output: its text is then lost.
  HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return false;
  return WriteAll(output, data, length);
}

}  // namespace platform
