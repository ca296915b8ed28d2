#include "FlashOptions.h"

#include <stdexcept>
#include <string_view>

namespace {

int ParseNumber(std::string_view option, const char* text, int min, int max) {
  std::size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || text[used] != '\0' || value < min || value > max)
    throw std::invalid_argument(std::string(option) + " takes a whole number from " + std::to_string(min) + " to " +
                                std::to_string(max) + ", not '" + text + "'");
  return value;
}

}  // namespace

const char* FlashUsage() {
  return "usage: qvflash [options] FILE.qv\n"
         "\n"
         "Loads an update file into a QV on-board computer through its boot loader;\n"
         "with several --port options into one device on each port at once.\n"
         "\n"
         "options:\n"
         "  -p, --port NAME          port to open: COM1..COM8 (/dev/ttyS0..7) or a device path (default COM1);\n"
         "                           give it again for more ports, each loaded at the same time\n"
         "      --station            production line: after each device, wait on the same port for the\n"
         "                           next one and load it, until SIGINT or SIGTERM; a port that goes away\n"
         "                           is waited for until it comes back\n"
         "      --wait-for-port      wait for a port that does not exist yet (up to the greeting time-out;\n"
         "                           with --station for as long as it takes) instead of failing\n"
         "      --record FILE        append one JSON line per device attempt to FILE (synced to disk)\n"
         "      --json               print the results as one JSON document on stdout at the end\n"
         "      --list-ports         list the ports the window offers (adapters described) and exit\n"
         "      --simulate           load into the built-in simulated device instead of a port\n"
         "      --dry-run            check the file and print what would be sent; opens no port\n"
         "  -t, --timeout MS         longest silence while an answer is awaited; every byte that\n"
         "                           arrives starts it again (default: line time + 500 ms)\n"
         "      --greeting-timeout S how long to wait for the device's greeting (default 30; with\n"
         "                           --station the wait for the next device has no limit)\n"
         "      --log FILE           write the raw traffic and command texts with timestamps\n"
         "                           (with several ports each line names its port)\n"
         "  -q, --quiet              print errors only\n"
         "  -v, --verbose            print every command and response\n"
         "  -h, --help               this text\n"
         "      --version            print the version and exit\n"
         "\n"
         "exit status:\n"
         "  0  success: every block acknowledged and the completion command sent\n"
         "  1  usage error\n"
         "  2  file refused (wrong name, wrong size, unreadable, or blocks that are not hex)\n"
         "  3  port error (missing, busy or not permitted)\n"
         "  4  no greeting (the device did not start its boot loader handshake)\n"
         "  5  stall on a response (time-out, wrong block sum, page select refused)\n"
         "  6  device lost (the line hung up during the load)\n"
         "  7  interrupted (SIGINT or SIGTERM while a load was under way)\n"
         "With several ports: 0 when every port succeeded, otherwise the status of the first\n"
         "port, in the order given, that did not. With --station: 0 only when every device\n"
         "recorded succeeded, otherwise the status of the first failed device of the first\n"
         "port, in the order given, that had one.\n";
}

TFlashOptions ParseFlashOptions(int argc, const char* const argv[]) {
  TFlashOptions options;
  auto value = [&](int& i, std::string_view option) -> const char* {
    if (i + 1 >= argc) throw std::invalid_argument(std::string(option) + " needs a value");
    return argv[++i];
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") options.help = true;
    else if (arg == "--version") options.version = true;
    else if (arg == "-p" || arg == "--port") options.ports.push_back(value(i, arg));
    else if (arg == "--station") options.station = true;
    else if (arg == "--wait-for-port") options.waitForPort = true;
    else if (arg == "--json") options.json = true;
    else if (arg == "--record") options.recordFile = value(i, arg);
    else if (arg == "--list-ports") options.listPorts = true;
    else if (arg == "--simulate") options.simulate = true;
    else if (arg == "--dry-run") options.dryRun = true;
    else if (arg == "-t" || arg == "--timeout") options.timeoutMs = ParseNumber(arg, value(i, arg), 1, 3600000);
    else if (arg == "--greeting-timeout") options.greetingTimeoutS = ParseNumber(arg, value(i, arg), 1, 86400);
    else if (arg == "--log") options.logFile = value(i, arg);
    else if (arg == "-q" || arg == "--quiet") options.quiet = true;
    else if (arg == "-v" || arg == "--verbose") options.verbose = true;
    else if (arg.size() > 1 && arg[0] == '-') throw std::invalid_argument("unknown option " + std::string(arg));
    else if (options.file.empty()) options.file = arg;
    else throw std::invalid_argument("only one update file, not '" + std::string(arg) + "' as well");
  }
  if (options.quiet && options.verbose) throw std::invalid_argument("--quiet and --verbose exclude each other");
  if (!options.help && !options.version && !options.listPorts && options.file.empty()) throw std::invalid_argument("no update file given");
  for (std::size_t i = 0; i < options.ports.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (options.ports[i] == options.ports[j])
        throw std::invalid_argument("port " + options.ports[i] + " given twice");
  if (options.simulate && (options.ports.size() > 1 || options.station))
    throw std::invalid_argument("--simulate plays one device: it goes with neither several ports nor --station");
  if ((options.json || !options.recordFile.empty()) && (options.dryRun || options.listPorts))
    throw std::invalid_argument("--json and --record go with a load, not with --dry-run or --list-ports");
  if (options.ports.empty()) options.ports.push_back("COM1");
  return options;
}

int DefaultResponseTimeoutMs(int baud) {
  const int bits = (131 + 132) * 10;
  return bits * 1000 / baud + 500;
}
