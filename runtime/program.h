// Program start-up, program end and the fatal error path.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

using MainProcedure = void (*)();

/// Exit statuses. A program's own refusals (a file that cannot be opened or
/// created, a malformed dictionary) end with `ExitStopped`, so that a script
/// can tell that nothing usable was produced; the usage line ends normally.
inline constexpr std::int32_t ExitNormal = 0;
inline constexpr std::int32_t ExitFatal = 1;
inline constexpr std::int32_t ExitStopped = 2;

/// The runtime error of a failure during start-up, before failures can
/// become exceptions: the only one that can happen then is exhausted
/// memory, numbered as a heap overflow.
inline constexpr std::int32_t StartupRuntimeError = 203;

/// Runs a console program: installs the failure conventions, binds
/// `ConsoleOutput`, runs the main block and ends the process. Anything
/// thrown out of the main block, of whatever type, is reported and ends the
/// run with `ExitFatal`. Does not return.
[[noreturn]] void RunProgram(int argc, char** argv, MainProcedure mainBlock);

/// Ends the program: writes out what `ConsoleOutput` still holds, then ends
/// the process with the status. When that last write fails, the text is
/// lost, and the run ends on the fatal path with `ExitFatal` instead.
[[noreturn]] void HaltWithStatus(std::int32_t status);

/// The fatal error path, shared by every failure that ends a run: shows a
/// report and ends the process with `status`. Before the program has
/// declared itself a console program the report goes to a message box (an
/// application error, or with `isRuntimeError` a runtime error); after it,
/// to standard output behind whatever `ConsoleOutput` still holds, in one
/// request, or to standard error when standard output cannot take it.
/// Allocates nothing and raises nothing.
[[noreturn]] void HaltWithReport(const char* report, std::size_t length, std::int32_t status,
                                 bool isRuntimeError);

/// The system's alert sound.
void AlertBeep();

/// Whether a program's own stop sounds the alert after its message.
enum class StopAlert { Silent, Beep };

/// A program's own stop: the message on a line of its own, the alert if
/// asked for, then the end of the run with `ExitStopped`. Closes, frees and
/// deletes nothing.
[[noreturn]] void HaltWithMessage(const std::string& message, StopAlert alert);
