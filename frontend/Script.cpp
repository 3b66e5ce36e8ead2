#include "frontend/Script.h"

#include <utility>

#include "frontend/Console.h"
#include "writer/ConversionScript.h"

namespace zef::frontend {

bool ParseScript(RunState& run, const std::string& fileName) {
  ScriptReading reading = ReadConversionScript(fileName);
  for (const std::string& message : reading.messages) PrintLine(message);
  if (reading.fault == ScriptFault::kCannotOpen) return false;
  ConversionScript& script = reading.script;
  run.startIndex = script.startIndex;
  run.outputFileName = std::move(script.outputFileName);
  run.useMask = script.useMask;
  run.alphaValues = script.alphaValues;
  run.imageFileNames = std::move(script.imageFileNames);
  run.maskFileNames = std::move(script.maskFileNames);
  if (reading.fault != ScriptFault::kIncomplete) return reading.fault == ScriptFault::kNone;
  // An incomplete script names no files and starts nowhere.
  PrintLine("something wrong in script file...");
  run.startIndex = 0;
  run.imageFileNames.clear();
  run.maskFileNames.clear();
  return false;
}

}  // namespace zef::frontend
