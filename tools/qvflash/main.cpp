// qvflash: the command-line loader.
#include <cstdio>
#include <stdexcept>

#include "CommandLine.h"
#include "FlashOptions.h"
#include "FlashRun.h"
#include "FlashSystem.h"
#include "ProgramArguments.h"
#include "QvVersion.h"

int main(int argc, char* argv[]) {
  FlashSystem::PrepareStandardStreams();
  TProgramArguments arguments(argc, argv);  // UTF-8 file and port names on every system
  TFlashOptions options;
  try {
    options = ParseFlashOptions(arguments.Count(), arguments.Values());
  } catch (const std::invalid_argument& e) {
    // The error alone, not buried under the whole help.
    std::fprintf(stderr, "qvflash: %s\n%s\n", e.what(), TryHelpLine("qvflash").c_str());
    return exUsage;
  }
  if (options.help) {
    std::fputs(FlashUsage(), stdout);
    return exSuccess;
  }
  if (options.version) {
    std::printf("qvflash %s\n", QvVersion);
    return exSuccess;
  }
  return RunFlash(options, stdout, stderr);
}
