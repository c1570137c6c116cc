// Splitting the process's one command-line string into arguments.
//
// Bytes 0x01 to 0x20 separate arguments. A quote byte opens a section that
// runs to the next quote byte (or the end of the string); inside it every
// byte, space and tab included, belongs to the argument, and the section
// joins with the bytes around it. A quote byte is never part of an argument,
// and a pair of quote bytes where an argument would begin is skipped, so an
// empty quoted argument is no argument at all.
#pragma once

#include <cstdint>
#include <string>

/// Takes the argument that starts at or after `position` and moves
/// `position` past it. Returns the empty string only at the end of the line.
std::string TakeArgument(const char*& position);

/// Number of arguments after the program name in `commandLine`.
std::int32_t CountArguments(const char* commandLine);

/// The `index`-th argument after the program name, for `index` from 1;
/// empty for an index below 1 or beyond the last argument.
std::string ArgumentOf(const char* commandLine, std::int32_t index);

/// Number of arguments the program was started with.
std::int32_t ArgumentCount();

/// 0: the full path of the program's file; from 1: the arguments; any other
/// index gives the empty string.
std::string ArgumentAt(std::int32_t index);
