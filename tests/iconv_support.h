// The system's own EUC-JP to Shift_JIS converter, for the tests that
// compare with it (Linux only).
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstddef>
#include <string>

#include "tests/tool_runner.h"

/// iconv(3) from EUC-JP to SHIFT_JIS.
class Iconv {
 public:
  Iconv() : handle_(iconv_open("SHIFT_JIS", "EUC-JP")) {}
  ~Iconv() {
    if (Usable()) iconv_close(handle_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool Usable() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  /// The whole of `in` converted into `out`; false when iconv refuses any
  /// of it (an invalid or unmappable sequence, or an incomplete one at the end).
  bool Convert(const std::string& in, std::string& out) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    out.assign(in.size() * 2 + 8, '\0');
    char* from = const_cast<char*>(in.data());
    std::size_t fromLeft = in.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    if (iconv(handle_, &from, &fromLeft, &to, &toLeft) == static_cast<std::size_t>(-1))
      return false;
    if (iconv(handle_, nullptr, nullptr, &to, &toLeft) == static_cast<std::size_t>(-1))
      return false;
    out.resize(out.size() - toLeft);
    return true;
  }

 private:
  iconv_t handle_;
};

// Skips the test when `iconv` cannot convert for want of the modules under
// an emulator, where the C library looks for the target's character-set
// modules, which a cross toolchain does not install; fails it anywhere else.
#define SKIP_UNLESS_ICONV_USABLE(iconv)                                                   \
  do {                                                                                    \
    if (UnderEmulator() && !(iconv).Usable())                                             \
      GTEST_SKIP() << "iconv cannot convert EUC-JP to SHIFT_JIS under the emulator (the " \
                      "target's character-set modules are not installed here)";           \
    ASSERT_TRUE((iconv).Usable()) << "iconv cannot convert EUC-JP to SHIFT_JIS here";     \
  } while (false)
