// The block line reader (ReadLinePiece) and the converter's line loop
// (ConvertLines) on an in-memory file served through the platform table.
// Both are compared with a plain model of reading a byte at a time through
// 128-byte blocks: the lines, the converted output, and the order and size
// of every read and write request. Small windows (2, 3, 7 and 129 bytes)
// make long lines go through the window in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "runtime/io_result.h"
#include "runtime/exceptions.h"
#include "platform/platform.h"
#include "converter/line_copy.h"
#include "converter/textfile.h"
#include "converter/transcode.h"
#include "tests/fake_system.h"

namespace {

/// Serves the input "in" and the output "out" from the fake system for one
/// test and restores the table after it.
class LineReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { TakeIOResult(); }

  /// A fresh system holding `input` as "in"; with `charDevice`, "out" is a
  /// character device, each line of which is pushed out. After `writesLeft`
  /// good writes every later one fails with 112, after `readsLeft` good
  /// reads every later one with 31; -1: none fails.
  void Serve(const std::string& input, bool charDevice = false, int writesLeft = -1,
             int readsLeft = -1) {
    fake_.emplace();
    fake_->AddFile("in", input);
    if (charDevice) fake_->AddFile("out", "", platform::FileTypeChar);
    if (writesLeft >= 0) {
      fake_->Fail(FakeSystem::Call::WriteFile, writesLeft + 1, platform::ErrorDiskFull,
                  FakeSystem::Always);
    }
    if (readsLeft >= 0) {
      fake_->Fail(FakeSystem::Call::ReadFile, readsLeft + 1, platform::ErrorGenFailure,
                  FakeSystem::Always);
    }
  }

  /// What reached "out".
  std::string Output() const { return fake_->Contents("out"); }

  /// The read and write requests made, in order, as "R<n>" (a read of "in"
  /// that delivered n bytes), "R!" (a read of "in" that failed) and "W<n>" (a
  /// write of n bytes to "out"); a request on another file is named in full.
  std::vector<std::string> Requests() const {
    std::vector<std::string> requests;
    for (const FakeSystem::Request& request : fake_->Log()) {
      if (request.Kind == FakeSystem::Call::ReadFile) {
        requests.push_back(request.Succeeded() ? "R" + std::to_string(request.Done) : "R!");
      } else if (request.Kind == FakeSystem::Call::WriteFile) {
        requests.push_back("W" + std::to_string(request.Count));
      } else {
        continue;
      }
      if (request.Name != (requests.back()[0] == 'R' ? "in" : "out")) {
        requests.back() += " on " + request.Name;
      }
    }
    return requests;
  }

  /// Converts the served input through a window of `capacity` bytes. Gives
  /// the code of the `EInOutError` raised, or none when the conversion ended
  /// normally; both files are then closed, which must leave no I/O result.
  static std::optional<std::int32_t> ConvertServed(std::size_t capacity) {
    TextFile in;
    TextFile out;
    OpenTextInput(in, "in");
    CreateTextOutput(out, "out");
    std::vector<std::uint8_t> window(capacity);
    try {
      ConvertLines(in, out, window.data(), capacity);
    } catch (const EInOutError& error) {
      return error.ErrorCode;
    }
    CloseText(out);
    CloseText(in);
    EXPECT_EQ(TakeIOResult(), 0) << "closing the files";
    return std::nullopt;
  }

 private:
  std::optional<FakeSystem> fake_;
};

// --- The model -----------------------------------------------------------

/// What reading a file a byte at a time gives: its lines and, for the whole
/// conversion, the output and the requests.
struct ModelRun {
  std::vector<std::string> Lines;
  std::string Output;
  std::vector<std::string> Requests;
  /// A write in the line loop failed: the loop ended after that line's
  /// line end.
  bool Failed = false;
};

/// Reads through 128-byte blocks, fetching one only when a byte is needed
/// and never after a short one (the file had no more);
/// a line ends at CR (an LF right after it is part of the line end) or at
/// the byte 26, which stays; an empty fetch counts as 26. Each line is
/// converted whole with TranscodeLine (which transcode_pieces_test.cpp
/// checks against the plain model), so that what differs here can only be
/// the reading, the pieces and the requests; it is written with CR LF
/// through a 128-byte buffer that goes out when full and at the end.
ModelRun ModelConversion(const std::string& input, bool charDevice = false, int writesLeft = -1) {
  ModelRun run;
  std::string block;
  std::size_t position = 0;
  std::size_t offset = 0;
  bool ended = false;  // a short block was the last one the file had
  auto peek = [&]() -> char {
    if (position >= block.size()) {
      std::size_t served = 0;
      if (!ended) {
        served = std::min<std::size_t>(128, input.size() - offset);
        block = input.substr(offset, served);
        offset += served;
        run.Requests.push_back("R" + std::to_string(served));
        ended = served < 128;
      }
      if (served == 0) block = "\x1A";
      position = 0;
    }
    return block[position];
  };
  // A failed write drops what the buffer held and the rest of that text.
  std::string buffer;
  auto drain = [&]() {
    if (buffer.empty()) return true;
    run.Requests.push_back("W" + std::to_string(buffer.size()));
    if (writesLeft == 0) {
      buffer.clear();
      run.Failed = true;
      return false;
    }
    if (writesLeft > 0) --writesLeft;
    run.Output += buffer;
    buffer.clear();
    return true;
  };
  auto write = [&](const std::string& text) {
    for (char byte : text) {
      buffer += byte;
      if (buffer.size() == 128 && !drain()) return;
    }
  };
  while (peek() != '\x1A') {
    std::string line;
    while (peek() != '\r' && peek() != '\x1A') line += block[position++];
    if (peek() == '\r') {
      ++position;
      if (peek() == '\n') ++position;
    }
    run.Lines.push_back(line);
    write(TranscodeLine(line));
    write("\r\n");
    if (charDevice) drain();
    if (run.Failed) return run;
  }
  // The close sends what is left; a failure there is no failure of the loop.
  drain();
  run.Failed = false;
  return run;
}

/// The requests of one kind, in order.
std::vector<std::string> OfKind(const std::vector<std::string>& requests, char kind) {
  std::vector<std::string> out;
  for (const std::string& request : requests) {
    if (request[0] == kind) out.push_back(request);
  }
  return out;
}

// --- Inputs ----------------------------------------------------------------

/// Hand-made files: every line end, the end mark in and between lines and
/// at block boundaries, lines around the block size and the window sizes.
std::vector<std::string> HandMadeInputs() {
  std::vector<std::string> inputs = {
      "",
      "abc",
      "abc\r\ndef\r\n",
      "\r\r\n\r",
      "a\nb\r\nc\n\r",
      "ab\x1A"
      "cd\r\n",
      "\x1A",
      "line\r\n\x1A\r\nafter",
      "\xA4\xA2\xA4\r\n\xB0\xA1\xB0",
  };
  for (std::size_t length : {1, 2, 3, 6, 7, 8, 126, 127, 128, 129, 130, 255, 256, 300}) {
    inputs.push_back(std::string(length, 'x') + "\r\n" + std::string(length, 'y'));
    inputs.push_back(std::string(length, 'x') + "\r" + "\n");
    inputs.push_back(std::string(length, 'x') + "\x1A" + "zz");
    std::string kana;
    while (kana.size() < length) kana += "\xA4\xA2";
    inputs.push_back("a" + kana + "\r\n" + kana + "\r\n");
  }
  return inputs;
}

/// Random files of dictionary-like lines with mixed line ends.
std::string RandomInput(std::mt19937& random, std::size_t lines, std::size_t longest) {
  static const char* const Ends[] = {"\r\n", "\r\n", "\r\n", "\r", "\n", "\r\r\n"};
  std::string input;
  for (std::size_t k = 0; k < lines; ++k) {
    const std::size_t length = random() % (longest + 1);
    for (std::size_t i = 0; i < length; ++i) {
      switch (random() % 3) {
        case 0: input += static_cast<char>('a' + random() % 26); break;
        case 1: input += static_cast<char>(0xA1 + random() % 0x54); break;
        default: input += static_cast<char>(0x80 + random() % 0x80); break;
      }
    }
    input += Ends[random() % 6];
  }
  return input;
}

constexpr std::size_t Windows[] = {2, 3, 7, 129, 255, LineWindowSize};

/// The longest line of a model run.
std::size_t Longest(const ModelRun& model) {
  std::size_t longest = 0;
  for (const std::string& line : model.Lines) longest = std::max(longest, line.size());
  return longest;
}

// --- Tests ---------------------------------------------------------------

TEST_F(LineReaderTest, PiecesMakeUpTheModelLinesWithTheSameReads) {
  std::mt19937 random(4711);
  std::vector<std::string> inputs = HandMadeInputs();
  for (int k = 0; k < 20; ++k) inputs.push_back(RandomInput(random, 40, 300));
  for (const std::string& input : inputs) {
    const ModelRun model = ModelConversion(input);
    for (std::size_t capacity : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7},
                                 std::size_t{129}, LineWindowSize}) {
      SCOPED_TRACE("window " + std::to_string(capacity) + ", input of " +
                   std::to_string(input.size()) + " bytes");
      Serve(input);
      TextFile file;
      OpenTextInput(file, "in");
      std::vector<std::string> lines;
      std::vector<std::uint8_t> window(capacity);
      while (!AtEndOfText(file)) {
        std::string line;
        LinePiece piece{};
        do {
          piece = ReadLinePiece(file, window.data(), capacity);
          ASSERT_LE(piece.Length, capacity);
          if (!piece.LineComplete) {
            ASSERT_EQ(piece.Length, capacity) << "a piece that does not end the line is full";
          }
          line.append(reinterpret_cast<const char*>(window.data()), piece.Length);
        } while (!piece.LineComplete);
        lines.push_back(line);
        ASSERT_LE(lines.size(), input.size() + 1);
      }
      EXPECT_EQ(lines, model.Lines);
      EXPECT_EQ(Requests(), OfKind(model.Requests, 'R'));
      EXPECT_EQ(TakeIOResult(), 0);
    }
  }
}

TEST_F(LineReaderTest, ConvertLinesMatchesTheModelThroughEveryWindow) {
  std::mt19937 random(1208);
  std::vector<std::string> inputs = HandMadeInputs();
  for (int k = 0; k < 20; ++k) inputs.push_back(RandomInput(random, 30, k < 10 ? 20 : 400));
  for (const std::string& input : inputs) {
    const ModelRun model = ModelConversion(input);
    for (std::size_t capacity : Windows) {
      SCOPED_TRACE("window " + std::to_string(capacity) + ", input of " +
                   std::to_string(input.size()) + " bytes");
      Serve(input);
      ASSERT_EQ(ConvertServed(capacity), std::nullopt);
      EXPECT_TRUE(Output() == model.Output) << "the output differs from the model";
      if (Longest(model) <= capacity) {
        // Lines up to the window: every request in the same order.
        EXPECT_EQ(Requests(), model.Requests);
      } else {
        // Longer lines: the same reads and the same writes; writes may
        // start before such a line has been read to its end.
        EXPECT_EQ(OfKind(Requests(), 'R'), OfKind(model.Requests, 'R'));
        EXPECT_EQ(OfKind(Requests(), 'W'), OfKind(model.Requests, 'W'));
      }
    }
  }
}

TEST_F(LineReaderTest, LongLineOfPairsSplitAcrossEveryWindow) {
  // A pair cut by every window boundary: a first byte at the end of a piece
  // is carried into the next piece, never converted alone.
  std::string line = "z";
  const char* const pieces[] = {"\xA4\xA2", "\xB0\xA1", "\xA9"};
  for (int k = 0; k < 700; ++k) line += pieces[k % 3];
  const ModelRun model = ModelConversion(line + "\r\n" + line);
  for (std::size_t capacity : Windows) {
    SCOPED_TRACE("window " + std::to_string(capacity));
    Serve(line + "\r\n" + line);
    ASSERT_EQ(ConvertServed(capacity), std::nullopt);
    EXPECT_TRUE(Output() == model.Output);
  }
}

TEST_F(LineReaderTest, FailedWritesOnDisksAndDevicesMakeTheSameRequests) {
  // Lines around the buffer size end the buffer on every byte of a line,
  // of a pair and of the line end; a write fails after 0 to 20 good ones.
  // The loop stops after the line end of the line whose write failed, with
  // exactly the requests of writing the line and then its line end.
  std::string input;
  for (std::size_t length = 120; length <= 135; ++length) {
    std::string line = "a";
    while (line.size() < length) line += (line.size() % 5 == 0) ? "b" : "\xA4\xA2";
    input += line + "\r\n";
  }
  for (bool charDevice : {false, true}) {
    for (int writesLeft = 0; writesLeft <= 20; ++writesLeft) {
      const ModelRun model = ModelConversion(input, charDevice, writesLeft);
      if (!model.Failed) continue;  // the failing write would be the close's
      for (std::size_t capacity : {std::size_t{255}, LineWindowSize}) {
        SCOPED_TRACE(std::string(charDevice ? "device" : "disk") + ", writes before the failure " +
                     std::to_string(writesLeft) + ", window " + std::to_string(capacity));
        Serve(input, charDevice, writesLeft);
        EXPECT_EQ(ConvertServed(capacity), 112);
        EXPECT_EQ(Requests(), model.Requests);
        EXPECT_TRUE(Output() == model.Output);
      }
    }
  }
}

TEST_F(LineReaderTest, AFailedReadStopsTheLoopBeforeAnyOtherRequest) {
  // Lines of 100 bytes fetch blocks inside a line and for the LF after a
  // CR; lines of 126 bytes and CR LF fill a block each, so that each fetch
  // comes from the test for the end of the input. The failed read ends the
  // input, and its error is raised before anything more is read or written.
  for (std::size_t lineLength : {std::size_t{100}, std::size_t{126}}) {
    std::string input;
    for (char fill = 'a'; fill < 'f'; ++fill) input += std::string(lineLength, fill) + "\r\n";
    const ModelRun model = ModelConversion(input);
    const int modelReads = static_cast<int>(OfKind(model.Requests, 'R').size());
    for (int readsLeft = 0; readsLeft < modelReads; ++readsLeft) {
      // The model's requests up to the failing read.
      std::vector<std::string> expected;
      int reads = 0;
      for (const std::string& request : model.Requests) {
        if (request[0] == 'R' && reads++ == readsLeft) break;
        expected.push_back(request);
      }
      expected.push_back("R!");
      for (std::size_t capacity : {std::size_t{7}, LineWindowSize}) {
        SCOPED_TRACE("lines of " + std::to_string(lineLength) + ", reads before the failure " +
                     std::to_string(readsLeft) + ", window " + std::to_string(capacity));
        Serve(input, false, -1, readsLeft);
        EXPECT_EQ(ConvertServed(capacity), static_cast<std::int32_t>(platform::ErrorGenFailure));
        if (capacity == LineWindowSize) {
          EXPECT_EQ(Requests(), expected);
        } else {
          // A long line's pieces are written as they are read.
          EXPECT_EQ(OfKind(Requests(), 'R'), OfKind(expected, 'R'));
          EXPECT_EQ(Requests().back(), "R!");
        }
      }
    }
  }
}

}  // namespace
