// Program start-up, program end and the fatal error path.
#pragma once

#include <cstdint>
#include <string>

using MainProcedure = void (*)();

/// Exit statuses. A program's own refusals (a file that cannot be opened or
/// created, a malformed dictionary) end with `ExitStopped`, so that a script
/// can tell that nothing usable was produced; the usage line ends normally.
inline constexpr std::int32_t ExitNormal = 0;
inline constexpr std::int32_t ExitFatal = 1;
inline constexpr std::int32_t ExitStopped = 2;

/// Runs a console program: installs the failure conventions, binds
/// `ConsoleOutput`, runs the main block and ends the process. An exception
/// that leaves the main block is reported on `ConsoleOutput` and ends the
/// run with exit status 1. Does not return.
[[noreturn]] void RunProgram(int argc, char** argv, MainProcedure mainBlock);

/// Ends the program: writes out what `ConsoleOutput` still holds, then ends
/// the process with the status.
[[noreturn]] void HaltWithStatus(std::int32_t status);

/// The system's alert sound.
void AlertBeep();

/// A block of exactly `size` bytes; raises `EOutOfMemory` when there is none.
/// A size of 0 gives no block and is no failure.
std::uint8_t* AllocateMemory(std::uint64_t size);
void FreeMemory(std::uint8_t* block);

/// The program's file name as reports show it: its path after the last '/'
/// or '\', at most 63 bytes.
std::string ModuleName();
