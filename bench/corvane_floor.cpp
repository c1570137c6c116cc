// The floor corvane is measured against: the same system calls and the same
// index, with nothing else. Reads the whole dictionary in one request, then
// writes one 4-byte record per LF, each in its own request; no banner, no
// progress, no checks beyond stopping on a line no record can describe.
//
//   corvane_floor DICTIONARY INDEX
//
// Exit status 0 when the index is complete, 2 on a line no record can
// describe, 1 on a failed open, read or write.
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace {

/// The record of one line, as corvane writes it; false when none fits.
bool Record(const std::uint8_t* line, std::size_t length, std::uint8_t bytes[4]) {
  if (length == 0 || length > 65535) return false;
  const void* space = std::memchr(line, ' ', length < 255 ? length : 255);
  if (space == nullptr) return false;
  std::size_t bracketEnd = 0;
  if (const void* bracket = std::memchr(line, ']', length)) {
    bracketEnd = static_cast<std::size_t>(static_cast<const std::uint8_t*>(bracket) - line) + 2;
    if (bracketEnd > 255) return false;
  }
  bytes[0] = static_cast<std::uint8_t>(static_cast<const std::uint8_t*>(space) - line + 1);
  bytes[1] = static_cast<std::uint8_t>(bracketEnd);
  bytes[2] = static_cast<std::uint8_t>(length & 0xFF);
  bytes[3] = static_cast<std::uint8_t>(length >> 8);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  platform::Handle input = platform::CreateFileA(argv[1], platform::GenericRead,
                                                 platform::FileShareRead, platform::OpenExisting);
  std::int64_t size = 0;
  if (input == platform::InvalidHandleValue || !platform::GetFileSizeEx(input, &size)) return 1;
  std::vector<std::uint8_t> dictionary(static_cast<std::size_t>(size));
  std::uint64_t done = 0;
  if (!platform::ReadFile(input, dictionary.data(), dictionary.size(), &done) ||
      done != dictionary.size()) {
    return 1;
  }
  platform::CloseHandle(input);
  platform::Handle index =
      platform::CreateFileA(argv[2], platform::GenericRead | platform::GenericWrite,
                            platform::FileShareRead, platform::OpenAlways);
  if (index == platform::InvalidHandleValue || !platform::SetEndOfFile(index)) return 1;
  const std::uint8_t* start = dictionary.data();
  const std::uint8_t* const end = start + dictionary.size();
  while (const void* found = std::memchr(start, '\n', static_cast<std::size_t>(end - start))) {
    const auto* lineFeed = static_cast<const std::uint8_t*>(found);
    std::uint8_t bytes[4];
    if (!Record(start, static_cast<std::size_t>(lineFeed - start), bytes)) return 2;
    if (!platform::WriteFile(index, bytes, 4, &done) || done != 4) return 1;
    start = lineFeed + 1;
  }
  return platform::CloseHandle(index) ? 0 : 1;
}
