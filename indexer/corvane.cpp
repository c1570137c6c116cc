// corvane: builds the line index of a dictionary file.
//
//   corvane [dictionary]
//
// The dictionary defaults to "Edict" in the current directory; further
// arguments are ignored. The index is written beside it, named by appending
// ".IND" to the dictionary's name.
#include <string>

#include "runtime/arguments.h"
#include "runtime/console.h"
#include "runtime/io_result.h"
#include "runtime/program.h"
#include "indexer/dictionary.h"
#include "indexer/index_writer.h"

namespace {

void BuildDictionaryIndex() {
  // The literal ends in a bare LF and the line end adds CR LF, so an empty
  // line follows the banner.
  WriteText(ConsoleOutput, "Corvane Test v0.2\n");
  WriteLineEnd(ConsoleOutput);
  CheckIOResult();

  // A first argument is never empty, so the name passed is never empty.
  std::string name = ArgumentCount() > 0 ? ArgumentAt(1) : std::string("Edict");
  LoadDictionary(name);
  BuildIndex();
  ReleaseDictionary();
  HaltWithStatus(ExitNormal);
}

}  // namespace

int main(int argc, char** argv) { RunProgram(argc, argv, BuildDictionaryIndex); }
