// Opening the files a program reads and creating the files it writes, and
// the one rule on what an output may be: never a file the program has
// opened as input, nor what standard output or standard error writes to.
// Creating either would empty it before it was read or mix it with console
// text. Character devices are shared by everyone and never refused:
// /dev/null may be input and output at once.
//
// An output is decided on the file its name designates once opened, with
// the inputs already open, so that a name which comes to designate one of
// them only then (/dev/fd/N, /proc/self/fd/N) is refused too. A create that
// fails changes nothing: the file is emptied only once every check has
// passed, and a file that the create itself made is removed again.
//
// Both operations leave a failure in the I/O result code, as every unchecked
// open does.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

/// False for a name that no file can have: one holding a quote byte. No
/// command line carries a quote byte into an argument, and Windows allows
/// none in a name; where the system hands over arguments one by one, such an
/// argument reaches the program as given, and is refused as a name here
/// rather than taken for the name without its quote bytes.
bool IsFileName(const std::string& name);

/// Opens the existing named file with `access` and `share` and remembers
/// which file it is, so that no output created later in the run can be it.
/// On failure: `InvalidHandleValue`, and the system's error number (123 for
/// a name that is no file name) in the I/O result code.
platform::Handle OpenInputFile(const std::string& name, std::uint32_t access, std::uint32_t share);

/// Creates the named file, or opens an existing one, with `access` and
/// `share`; a disk file is then emptied. `type` receives the device type.
/// On failure: `InvalidHandleValue`, and in the I/O result code the system's
/// error number, 105 for a device of unknown type, 123 for a name that is no
/// file name, or 32 (a sharing violation) for a file that must not be
/// overwritten.
platform::Handle CreateOutputFile(const std::string& name, std::uint32_t access,
                                  std::uint32_t share, std::uint32_t& type);

/// True when the name `output` already designates the file named `input`,
/// an input opened so far, or what standard output or standard error writes
/// to. Asked before the input is opened, so that one FIFO given as input and
/// output is refused at once, where opening it as the input would wait for
/// a writer that never comes. Changes neither the I/O result code nor the
/// last error.
bool OutputNameIsTaken(const std::string& output, const std::string& input);
