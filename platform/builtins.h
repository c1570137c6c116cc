// The compiler built-ins the runtime relies on, in one place. Both supported
// compilers (GCC and Clang, native or cross) provide them.
#pragma once

/// The address the current function will return to: the place of its call.
/// A macro, so that it is evaluated in the function that uses it.
#define DICT_RETURN_ADDRESS() (reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)))

/// Marks a point that control never reaches.
#define DICT_UNREACHABLE() __builtin_unreachable()

/// Keeps a function out of line, so that its return address is the place of
/// its call.
#define DICT_NOINLINE [[gnu::noinline]]
