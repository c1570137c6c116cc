#ifndef CONVERTER_TRANSCODE_H
#define CONVERTER_TRANSCODE_H

#include <string>

/// Converts one line from EUC-JP to Shift_JIS, byte for byte.
///
/// The line is treated as a byte string (any values, NUL included) of any
/// length. Every recognised two-byte EUC-JP character (row 1-8 symbols and
/// kana that exist, and the kanji rows 16-84) is replaced in place by its
/// two-byte Shift_JIS code; all other bytes are copied unchanged, so the
/// result always has the same length as the input. An unrecognised pair
/// advances the scan by one byte only, so its second byte is examined again
/// as a possible first byte.
std::string TranscodeLine(const std::string& line);

#endif  // CONVERTER_TRANSCODE_H
