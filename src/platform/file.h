// Binary file access; the text-mode translation is the program's own
// (platform/text_stream.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = -1;

/// Opens an existing file for reading; kNoFile when it cannot be opened or is
/// a directory. Opening never waits (a FIFO without a writer reads as empty).
FileHandle OpenForReading(const char* path);
enum class SmallFile { kRead, kMissing, kUnreadable, kNotRegular, kTooLarge };

/// Reads a regular file of at most maxBytes whole into contents. The open
/// never waits (a FIFO is not a regular file), and says why it failed.
SmallFile ReadSmallFile(const char* path, std::size_t maxBytes, std::string& contents);

/// Standard input as a file of its own to read and close (in binary: the
/// text-mode translation is the program's own); kNoFile when there is none.
FileHandle OpenStandardInput();
/// Whether the open file is a regular file, which can be read a second time.
bool IsRegularFile(FileHandle file);
/// Whether both paths name one existing file.
bool IsSameFile(const char* a, const char* b);
/// Creates the file, or empties it when it exists; kNoFile on failure.
/// Opening never waits: a FIFO without a reader is a failure.
FileHandle CreateOrTruncate(const char* path);
/// Opens an existing or new file so that every write goes to its end;
/// kNoFile on failure. Opening never waits, as for CreateOrTruncate.
FileHandle OpenForAppend(const char* path);
/// Reads up to capacity bytes; 0 at end of file, -1 on error.
std::ptrdiff_t ReadFile(FileHandle file, char* buffer, std::size_t capacity);
/// Writes all bytes; false when any could not be written.
bool WriteFile(FileHandle file, const char* data, std::size_t length);
/// Closes the file. A failure to close is not reported: every write was
/// already checked, and nothing is buffered.
void CloseFile(FileHandle file);

/// Writes all bytes to standard output; false on failure.
bool WriteStandardOutput(const char* data, std::size_t length);

}  // namespace platform
