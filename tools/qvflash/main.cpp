// qvflash: the command-line loader.
#include <cstdio>
#include <stdexcept>

#include "FlashOptions.h"
#include "FlashRun.h"
#include "QvVersion.h"

int main(int argc, char* argv[]) {
  TFlashOptions options;
  try {
    options = ParseFlashOptions(argc, argv);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "qvflash: %s\n\n%s", e.what(), FlashUsage());
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
