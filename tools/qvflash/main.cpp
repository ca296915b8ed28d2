// qvflash: the command-line loader.
#include <cstdio>
#include <stdexcept>

#include "CommandLine.h"
#include "FlashOptions.h"
#include "FlashRun.h"
#include "QvVersion.h"

int main(int argc, char* argv[]) {
  TFlashOptions options;
  try {
    options = ParseFlashOptions(argc, argv);
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
