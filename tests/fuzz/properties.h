// The properties the fuzz targets check on every input. Each returns what
// went wrong, or an empty text. The regression test replays the kept
// inputs through the same checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// The first byte chooses how the rest is cut into reads. The reply reader
/// must hand out the same replies whatever the cut, each complete or a
/// failure, never longer than its cap.
std::string CheckReplyReader(const std::uint8_t* data, std::size_t size);

/// The input is a body file. Text-mode reading, then encoding, in chunks
/// the first byte chooses, must agree with a plain reference; the wire must
/// hold no early end of data and no LF without CR; undoing the encoding
/// must give back the text exactly. Quoted-printable of the text, in the same
/// chunks, must hold lines of at most 76 characters of 7-bit text, and
/// decode back to the text.
std::string CheckBodyPath(const std::uint8_t* data, std::size_t size);

/// The input is arguments and environment entries separated by zero bytes
/// (entries start with "E:"). The option walk and completion must leave the
/// settings within their capacities, and every refusal must be one of the
/// program's own texts. File names are confined to the working directory.
std::string CheckOptionWalk(const std::uint8_t* data, std::size_t size);
