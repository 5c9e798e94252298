// Starts the command line it is given the way the engine object starts its engine (in a job
// of its own, without a console) and then stays, so that a test can kill it and see whether
// the engine ends with it. A window program, as BrinemarchDownloader.exe is.
#include <windows.h>

#include "engine/engine_process.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  const UniqueHandle job = NewEndWithUsJob();
  UniqueHandle engine;
  if (!job || StartEngineProcess(commandLine, job.Get(), engine) != 0) return 1;
  constexpr DWORD kLongestStay = 5 * 60 * 1000;
  Sleep(kLongestStay);
  return 0;
}
