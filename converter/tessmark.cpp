// tessmark: copies a text file from EUC-JP to Shift_JIS, line by line, with
// CR LF line ends.
#include <string>

#include "runtime/arguments.h"
#include "runtime/console.h"
#include "runtime/io_result.h"
#include "runtime/files.h"
#include "runtime/program.h"
#include "converter/line_copy.h"
#include "converter/textfile.h"

namespace {

const char Banner[] =
    "Tessmark v1.0\n"
    "Converts a text file from EUC-JP to Shift_JIS, line by line.\n"
    "Lines are written with CR LF; bytes outside JIS X 0208 pass unchanged.\n";
const char Usage[] = "USAGE: Tessmark inputfilename.euc outputfilename.sjs\n";
const char OpenFailure[] = "Can not open/creat file: ";

std::string InputName;
std::string OutputName;
TextFile InputFile;
TextFile OutputFile;

/// Prints the open-failure message for a name and stops.
[[noreturn]] void StopOnName(const std::string& name) {
  HaltWithMessage(OpenFailure + name, StopAlert::Silent);
}

void MainBlock() {
  WriteText(ConsoleOutput, Banner);
  WriteLineEnd(ConsoleOutput);
  CheckIOResult();
  if (ArgumentCount() == 0) {
    WriteText(ConsoleOutput, Usage);
    WriteLineEnd(ConsoleOutput);
    CheckIOResult();
    HaltWithStatus(ExitNormal);
  }

  InputName = ArgumentAt(1);
  if (ArgumentCount() == 1) {
    std::string extension = ExtensionOf(InputName);
    std::string baseName = InputName.substr(0, InputName.size() - extension.size());
    OutputName = baseName + ".SJS";
  } else {
    OutputName = ArgumentAt(2);
  }

  // A name that no file can have is refused before either file is touched,
  // the input's first. The output must not be the input, nor where the
  // console text goes. Creating the output checks that on the file itself;
  // a name that already designates one of them is refused here, before the
  // input is opened, since opening a FIFO for reading waits for a writer
  // that would never come if it were also the output.
  if (!IsFileName(InputName)) StopOnName(InputName);
  if (!IsFileName(OutputName) || OutputNameIsTaken(OutputName, InputName)) {
    StopOnName(OutputName);
  }
  OpenTextInput(InputFile, InputName);
  if (TakeIOResult() != 0) StopOnName(InputName);
  CreateTextOutput(OutputFile, OutputName);
  if (TakeIOResult() != 0) StopOnName(OutputName);

  WriteText(ConsoleOutput, "Converting...");
  FlushText(ConsoleOutput);
  CheckIOResult();

  ConvertLines(InputFile, OutputFile);

  WriteText(ConsoleOutput, " done!");
  WriteLineEnd(ConsoleOutput);
  CheckIOResult();
  CloseText(OutputFile);
  CheckIOResult();
  CloseText(InputFile);
  CheckIOResult();
  HaltWithStatus(ExitNormal);
}

}  // namespace

int main(int argc, char** argv) { RunProgram(argc, argv, MainBlock); }
