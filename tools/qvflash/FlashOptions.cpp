#include "FlashOptions.h"

#include <string_view>

#include "CommandLine.h"

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
    throw EUsageError(std::string(option) + " takes a whole number from " + std::to_string(min) + " to " +
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
         "                           next one and load it, until stopped by a signal; a port that goes away\n"
         "                           is waited for until it comes back\n"
         "      --wait-for-port      wait for a port that does not exist yet (up to the greeting time-out;\n"
         "                           with --station for as long as it takes) instead of failing\n"
         "      --record FILE        append one JSON line per device attempt to FILE (synced to disk)\n"
         "      --json               print the results as one JSON document on stdout at the end\n"
         "      --list-ports         list the ports the window offers (adapters described) and exit\n"
         "      --simulate           load into the built-in simulated device instead of a port\n"
         "      --dry-run            check the file and print what would be sent; opens no port\n"
         "  -t, --timeout MS         how much later than its time on the line an answer may come,\n"
         "                           however many bytes trickle in meanwhile (default 500)\n"
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
         "  3  port error (missing, busy, not permitted or not a serial port)\n"
         "  4  no greeting (the device did not start its boot loader handshake)\n"
         "  5  stall on a response (time-out, wrong block sum, page select refused)\n"
         "  6  device lost (the line hung up during the load)\n"
         "  7  interrupted (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1 or SIGUSR2 while a load was under way)\n"
         "  8  results lost: a record line or the --json document could not be written\n"
         "     (takes precedence; stderr says how each device ended)\n"
         "With several ports: 0 when every port succeeded, otherwise the status of the first\n"
         "port, in the order given, that did not. With --station: 0 only when every device\n"
         "recorded succeeded, otherwise the status of the first failed device of the first\n"
         "port, in the order given, that had one.\n";
}

TFlashOptions ParseFlashOptions(int argc, const char* const argv[]) {
  enum : int {
    oStation = 256,
    oWaitForPort,
    oJson,
    oRecord,
    oListPorts,
    oSimulate,
    oDryRun,
    oGreetingTimeout,
    oLog,
    oVersion
  };
  const TCommandLineSyntax syntax{"p:t:qvh",
                                  {{"port", required_argument, nullptr, 'p'},
                                   {"station", no_argument, nullptr, oStation},
                                   {"wait-for-port", no_argument, nullptr, oWaitForPort},
                                   {"record", required_argument, nullptr, oRecord},
                                   {"json", no_argument, nullptr, oJson},
                                   {"list-ports", no_argument, nullptr, oListPorts},
                                   {"simulate", no_argument, nullptr, oSimulate},
                                   {"dry-run", no_argument, nullptr, oDryRun},
                                   {"timeout", required_argument, nullptr, 't'},
                                   {"greeting-timeout", required_argument, nullptr, oGreetingTimeout},
                                   {"log", required_argument, nullptr, oLog},
                                   {"quiet", no_argument, nullptr, 'q'},
                                   {"verbose", no_argument, nullptr, 'v'},
                                   {"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, oVersion}}};
  TFlashOptions options;
  const std::vector<std::string> operands = ParseCommandLine(argc, argv, syntax, [&](int id, const char* value) {
    switch (id) {
      case 'p': options.ports.emplace_back(value); break;
      case oStation: options.station = true; break;
      case oWaitForPort: options.waitForPort = true; break;
      case oRecord: options.recordFile = value; break;
      case oJson: options.json = true; break;
      case oListPorts: options.listPorts = true; break;
      case oSimulate: options.simulate = true; break;
      case oDryRun: options.dryRun = true; break;
      case 't': options.timeoutMs = ParseNumber("--timeout", value, 1, 3600000); break;
      case oGreetingTimeout: options.greetingTimeoutS = ParseNumber("--greeting-timeout", value, 1, 86400); break;
      case oLog: options.logFile = value; break;
      case 'q': options.quiet = true; break;
      case 'v': options.verbose = true; break;
      case 'h': options.help = true; break;
      case oVersion: options.version = true; break;
      default: break;
    }
  });
  if (options.help || options.version) return options;
  if (operands.size() > 1) throw EUsageError("only one update file, not '" + operands[1] + "' as well");
  if (!operands.empty()) options.file = operands.front();
  if (options.quiet && options.verbose) throw EUsageError("--quiet and --verbose exclude each other");
  if (!options.listPorts && options.file.empty()) throw EUsageError("no update file given");
  for (std::size_t i = 0; i < options.ports.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (options.ports[i] == options.ports[j]) throw EUsageError("port " + options.ports[i] + " given twice");
  if (options.simulate && (options.ports.size() > 1 || options.station))
    throw EUsageError("--simulate plays one device: it goes with neither several ports nor --station");
  if ((options.json || !options.recordFile.empty()) && (options.dryRun || options.listPorts))
    throw EUsageError("--json and --record go with a load, not with --dry-run or --list-ports");
  if (options.ports.empty()) options.ports.push_back("COM1");
  return options;
}
