// qvflash with several ports at once, its record of every device, station
// mode and ports that are not there yet, against simulated devices.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <filesystem>
#include <functional>
#include <memory>

#include "BootLoaderSim.h"
#include "FlashTestSupport.h"
#include "SampleImage.h"
#include "Sha256.h"
#include "UpdateFile.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Waits (on the test's thread) until `done` holds; false after `limit`.
bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
  for (const auto until = std::chrono::steady_clock::now() + limit; !done();) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// The real qvflash in a child process with the given standard output and
// error (-1: /dev/null); the child is killed if the test ends first.
class TChild {
public:
  TChild(const std::vector<std::string>& args, int out, int err) {
    pid_ = ::fork();
    if (pid_ == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(out >= 0 ? out : null, 1);
      ::dup2(err >= 0 ? err : null, 2);
      std::vector<char*> argv{const_cast<char*>(QVFLASH_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(QVFLASH_PATH, argv.data());
      ::_exit(127);
    }
  }
  ~TChild() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
  }
  pid_t Pid() const { return pid_; }
  // The exit status, or -1 when it did not end within `limit`.
  int Wait(std::chrono::seconds limit = 60s) {
    int status = 0;
    for (auto until = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < until;) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

private:
  pid_t pid_ = -1;
};

class MultiPort : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qvflash-multi-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    file_ = WriteUpdateFile((dir_ / "image.qv").string(), image_);
    record_ = (dir_ / "record.jsonl").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  RunOutput Run(std::vector<std::string> args) { return RunQvflash(std::move(args)); }

  // Each line of the record parsed, with the fields every line must have.
  std::vector<TJson> RecordLines() {
    std::vector<TJson> records;
    for (const std::string& line : Lines(Slurp(record_))) {
      records.push_back(TJson::parse(line));
      const TJson& r = records.back();
      for (const char* field : {"time", "host", "user", "port", "device", "serial", "file", "size", "sha256", "outcome",
                                "status", "frames", "seconds", "message"})
        EXPECT_EQ(r.count(field), 1u) << field << " missing in " << line;
      EXPECT_EQ(r.at("time").get<std::string>().size(), 24u)
          << r.at("time").get<std::string>();  // 2024-05-17T09:41:07.250Z
      EXPECT_EQ(r.at("time").get<std::string>().back(), 'Z');
      EXPECT_EQ(r.at("file").get<std::string>(), file_);
      EXPECT_EQ(r.at("size").get<double>(), 278596);
      EXPECT_EQ(r.at("sha256").get<std::string>(), Sha256Hex(Slurp(file_)));
    }
    return records;
  }

  static void ExpectWholeImage(const TBootLoaderSim& sim, const TImage& image) {
    ASSERT_TRUE(sim.WaitFinished(5s));
    const TSimResult result = sim.Result();
    EXPECT_TRUE(result.Complete()) << result.FirstMismatch;
    ASSERT_TRUE(result.Received);
    EXPECT_EQ(CompareSentRegions(image, *result.Received), "");
  }

  fs::path dir_;
  TImage image_ = MakeSampleImage(33);
  std::string file_, record_;
};

TEST_F(MultiPort, ThreeDevicesAtOnceEachReceiveEveryBlock) {
  std::vector<std::unique_ptr<TBootLoaderSim>> sims;
  // No stall is asked for: a time-out far past any load the machine may carry.
  std::vector<std::string> args{"--json", "--timeout", "10000", "--record", record_, file_};
  for (int i = 0; i < 3; ++i) {
    TSimOptions options;
    options.Chunk = 7 + 20 * i;  // answers in pieces, each port its own way
    sims.push_back(std::make_unique<TBootLoaderSim>(options));
    sims.back()->Start();
    args.insert(args.end(), {"--port", sims.back()->SlavePath()});
  }
  const RunOutput run = Run(args);
  EXPECT_EQ(run.status, exSuccess) << run.err;
  for (const auto& sim : sims) ExpectWholeImage(*sim, image_);

  const TJson document = TJson::parse(run.out);
  EXPECT_EQ(document.at("file").at("sha256").get<std::string>(), Sha256Hex(Slurp(file_)));
  EXPECT_EQ(document.at("status").get<double>(), 0);
  ASSERT_EQ(document.at("results").size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const TJson& r = document.at("results").at(i);
    EXPECT_EQ(r.at("port").get<std::string>(), sims[i]->SlavePath()) << "in the order given";
    EXPECT_EQ(r.at("outcome").get<std::string>(), "ok");
    EXPECT_EQ(r.at("frames").get<double>(), 1112);
    EXPECT_GT(r.at("seconds").get<double>(), 0);
    EXPECT_TRUE(r.at("description").is_null()) << "a pseudo-terminal is no adapter";
  }
  // Plain lines carry their port's name; the summary names each port's outcome.
  EXPECT_NE(run.err.find(sims[1]->SlavePath() + ": Загрузка завершена"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("summary:\n  " + sims[0]->SlavePath() + ": ok: load complete"), std::string::npos) << run.err;
  EXPECT_EQ(RecordLines().size(), 3u);
}

// A stall on one port and a hang-up on another: the rest still finish, and
// the status is that of the first port, in the order given, that failed.
TEST_F(MultiPort, OneStallsOneHangsUpTheOthersFinish) {
  const TSimFault faults[] = {TSimFault::None, TSimFault::Silence, TSimFault::None, TSimFault::HangUp};
  std::vector<std::unique_ptr<TBootLoaderSim>> sims;
  // The silent port stalls after 2 s; the others' answers are not short of time on a loaded machine.
  std::vector<std::string> args{"--json", "--timeout", "2000", "--record", record_, file_};
  for (const TSimFault fault : faults) {
    TSimOptions options;
    options.Fault = fault;
    options.FaultFrame = 50;
    sims.push_back(std::make_unique<TBootLoaderSim>(options));
    sims.back()->Start();
    args.insert(args.end(), {"--port", sims.back()->SlavePath()});
  }
  const RunOutput run = Run(args);
  EXPECT_EQ(run.status, exStall) << run.err;
  ExpectWholeImage(*sims[0], image_);
  ExpectWholeImage(*sims[2], image_);
  const TJson document = TJson::parse(run.out);
  ASSERT_EQ(document.at("results").size(), 4u);
  const char* outcomes[] = {"ok", "stall", "ok", "device-lost"};
  const int statuses[] = {0, 5, 0, 6};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(document.at("results").at(i).at("outcome").get<std::string>(), outcomes[i]) << i;
    EXPECT_EQ(document.at("results").at(i).at("status").get<double>(), statuses[i]) << i;
  }
  EXPECT_EQ(document.at("results").at(1).at("frames").get<double>(), 49);
  EXPECT_NE(document.at("results").at(1).at("message").get<std::string>().find("stalled at data-flash block at 0x0188"),
            std::string::npos);
  EXPECT_NE(run.err.find(sims[3]->SlavePath() + ": device-lost (status 6)"), std::string::npos) << run.err;

  const std::vector<TJson> records = RecordLines();
  ASSERT_EQ(records.size(), 4u);
  int stalls = 0;
  for (const TJson& r : records) stalls += r.at("outcome").get<std::string>() == "stall";
  EXPECT_EQ(stalls, 1);
}

TEST_F(MultiPort, RecordIsAppendedNeverTruncatedAndMustBeWritable) {
  for (int round = 0; round < 2; ++round) {
    TBootLoaderSim sim;
    sim.Start();
    EXPECT_EQ(Run({"--quiet", "--port", sim.SlavePath(), "--record", record_, file_}).status, exSuccess);
  }
  const std::vector<TJson> records = RecordLines();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records.at(1).at("outcome").get<std::string>(), "ok");
  EXPECT_EQ(records.at(1).at("status").get<double>(), 0);

  TBootLoaderSim untouched;
  untouched.Start();
  const RunOutput refused = Run({"--port", untouched.SlavePath(), "--record", dir_.string(), file_});
  EXPECT_EQ(refused.status, exUsage);
  EXPECT_NE(refused.err.find("cannot write the record file"), std::string::npos) << refused.err;
  // The device then takes a whole load as its first: no port was opened before.
  EXPECT_EQ(Run({"--quiet", "--port", untouched.SlavePath(), file_}).status, exSuccess);
  ASSERT_TRUE(untouched.WaitFinished(10s));
  EXPECT_EQ(untouched.Result().Cycles, 1) << "no port was opened";
}

TEST_F(MultiPort, WaitForPortLoadsAPortThatAppearsLater) {
  const std::string link = (dir_ / "ttyLater").string();
  TSimOptions options;
  options.LinkPath = link;
  TBootLoaderSim sim(options);
  // The device appears once qvflash has found it missing and waits for it.
  const fs::path err = dir_ / "err";
  const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  TChild child({"--wait-for-port", "--greeting-timeout", "60", "--port", link, file_}, -1, errFd);
  ::close(errFd);
  const std::string waiting = "waiting for " + link + " to appear";
  ASSERT_TRUE(WaitUntil([&] { return Slurp(err.string()).find(waiting) != std::string::npos; })) << Slurp(err.string());
  sim.Start();
  EXPECT_EQ(child.Wait(60s), exSuccess) << Slurp(err.string());
  ExpectWholeImage(sim, image_);

  const RunOutput missing = Run({"--wait-for-port", "--greeting-timeout", "1", "--port", link + "-never", file_});
  EXPECT_EQ(missing.status, exPortError);
  EXPECT_NE(missing.err.find(link + "-never did not appear within 1 s"), std::string::npos) << missing.err;
}

// The program as a production line runs it: device after device on one
// port (whose adapter goes away and comes back), a slow load on another,
// then SIGTERM: the slow load is recorded as interrupted.
TEST_F(MultiPort, StationLoadsDeviceAfterDeviceAndStopsOnSigterm) {
  const std::string link = (dir_ / "ttyLine").string();
  TSimOptions first;
  first.Devices = 3;
  first.LinkPath = link;
  auto line = std::make_unique<TBootLoaderSim>(first);
  line->Start();
  TSimOptions paced;
  paced.Baud = 38400;  // about 70 s a load
  TBootLoaderSim slow(paced);
  slow.Start();

  const fs::path out = dir_ / "out", err = dir_ / "err";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::execl(QVFLASH_PATH, "qvflash", "--station", "--json", "--record", record_.c_str(), "--port", link.c_str(),
            "--port", slow.SlavePath().c_str(), file_.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // However the test ends, the child does not outlive it (a station left
  // running would take over pseudo-terminals that reuse these numbers).
  struct TReap {
    pid_t pid;
    ~TReap() {
      if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    }
  } reap{child};
  auto waitFor = [&](std::size_t lines) { return WaitUntil([&] { return Lines(Slurp(record_)).size() >= lines; }); };
  ASSERT_TRUE(waitFor(3)) << Slurp(err.string());
  // The adapter is pulled out and, once qvflash looks for it, a new one is
  // plugged in under the same name.
  line->Stop();
  line.reset();
  const std::string looking = "waiting for " + link + " to appear";
  ASSERT_TRUE(WaitUntil([&] { return Slurp(err.string()).find(looking) != std::string::npos; })) << Slurp(err.string());
  TSimOptions second;
  second.LinkPath = link;
  TBootLoaderSim replugged(second);
  replugged.Start();
  ASSERT_TRUE(waitFor(4)) << Slurp(err.string());
  ExpectWholeImage(replugged, image_);
  ASSERT_TRUE(WaitUntil([&] { return slow.Result().FramesReceived > 0; })) << "the slow load is under way";

  ::kill(child, SIGTERM);
  int status = 0;
  pid_t ended = 0;
  WaitUntil([&] { return (ended = ::waitpid(child, &status, WNOHANG)) != 0; }, 30s);
  ASSERT_EQ(ended, child) << "qvflash did not stop on SIGTERM";
  reap.pid = 0;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), exInterrupted) << Slurp(err.string());

  const std::vector<TJson> records = RecordLines();
  ASSERT_EQ(records.size(), 5u) << Slurp(err.string());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(records.at(i).at("outcome").get<std::string>(), "ok") << i;
  EXPECT_EQ(records.at(4).at("port").get<std::string>(), slow.SlavePath());
  EXPECT_EQ(records.at(4).at("outcome").get<std::string>(), "interrupted");
  EXPECT_EQ(records.at(4).at("status").get<double>(), exInterrupted);
  EXPECT_GT(records.at(4).at("frames").get<double>(), 0);
  const TJson document = TJson::parse(Slurp(out.string()));
  EXPECT_EQ(document.at("results").size(), 5u);
  const std::string text = Slurp(err.string());
  EXPECT_NE(text.find("summary:\n  " + link + ": 4 ok, 0 failed\n  " + slow.SlavePath() + ": 0 ok, 1 failed"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(link + ": device 4: ok"), std::string::npos) << text;
}

// Device after device on one line, round after round: a station never stops
// by itself, because the loader lets go of each device before its closing
// pause and the next one sees it go.
TEST_F(MultiPort, AStationTakesEveryDeviceOfALine) {
  for (int round = 0; round < 5; ++round) {
    int completed = 0;
    std::mutex mutex;
    std::condition_variable done;
    TSimOptions line;
    line.Devices = 10;
    line.OnDeviceDone = [&](const TSimResult&) {
      std::lock_guard lock(mutex);
      ++completed;
      done.notify_all();
    };
    TBootLoaderSim sim(line);
    sim.Start();
    const std::string record = (dir_ / ("station-" + std::to_string(round))).string();
    TChild child({"--station", "--quiet", "--record", record, "--port", sim.SlavePath(), file_}, -1, -1);
    {
      std::unique_lock lock(mutex);
      done.wait_for(lock, 60s, [&] { return completed == 10; });
    }
    ::kill(child.Pid(), SIGTERM);
    EXPECT_EQ(child.Wait(), exSuccess) << "round " << round;
    EXPECT_EQ(completed, 10) << "round " << round << ": the station stopped after " << completed << " devices";
    EXPECT_EQ(Lines(Slurp(record)).size(), 10u) << "round " << round;
  }
}

// A record or log that cannot take what is written is never lost silently:
// a FIFO without a reader is refused at once (with a reader it works), a
// full disk or a closed pipe for the document makes the status 8.
TEST_F(MultiPort, OutputsThatCannotBeWrittenAreNotLostSilently) {
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const char* option : {"--record", "--log"}) {
    const RunOutput refused = Run({"--simulate", option, fifo, file_});
    EXPECT_EQ(refused.status, exUsage) << option;
    EXPECT_NE(refused.err.find(fifo + ": a FIFO that no program reads"), std::string::npos) << refused.err;
  }
  // A reader that has the FIFO open before qvflash starts; the line fits the
  // pipe, and is read once the run is over.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(Run({"--simulate", "--quiet", "--record", fifo, file_}).status, exSuccess);
  std::string read;
  char buffer[4096];
  for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) read.append(buffer, static_cast<std::size_t>(n));
  ::close(reader);
  EXPECT_NE(read.find("\"outcome\":\"ok\""), std::string::npos) << read;

  RunOutput full = Run({"--simulate", "--quiet", "--record", "/dev/full", file_});
  EXPECT_EQ(full.status, exResultsLost);
  EXPECT_NE(full.err.find("the record of this device could not be written to /dev/full: No space left on device"),
            std::string::npos)
      << full.err;

  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  ::close(pipe[0]);  // nobody will read the document
  const fs::path err = dir_ / "err";
  const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  TChild child({"--simulate", "--quiet", "--json", file_}, pipe[1], errFd);
  ::close(pipe[1]);
  ::close(errFd);
  EXPECT_EQ(child.Wait(), exResultsLost) << "not killed by SIGPIPE";
  EXPECT_NE(Slurp(err.string()).find("the results could not be written to standard output: Broken pipe"),
            std::string::npos)
      << Slurp(err.string());
}

// SIGHUP (the terminal of a station closed), SIGQUIT and SIGUSR1 stop a run
// as SIGTERM does: the load under way is recorded as interrupted.
TEST_F(MultiPort, HangUpAndOtherSignalsStopLikeSigterm) {
  for (const int signal : {SIGHUP, SIGQUIT, SIGUSR1}) {
    TSimOptions paced;
    paced.Baud = 38400;
    TBootLoaderSim sim(paced);
    sim.Start();
    const std::string record = (dir_ / ("record-" + std::to_string(signal))).string();
    TChild child({"--port", sim.SlavePath(), "--record", record, file_}, -1, -1);
    ASSERT_TRUE(WaitUntil([&] { return sim.Result().FramesReceived >= 5; })) << ::strsignal(signal);
    ::kill(child.Pid(), signal);
    EXPECT_EQ(child.Wait(), exInterrupted) << ::strsignal(signal);
    const std::vector<std::string> lines = Lines(Slurp(record));
    ASSERT_EQ(lines.size(), 1u) << ::strsignal(signal);
    EXPECT_EQ(TJson::parse(lines[0]).at("outcome").get<std::string>(), "interrupted");
  }
}

// A terminal or pipe that takes no output holds up no load: the device gets
// its whole image while qvflash's stderr is not read.
TEST_F(MultiPort, OutputThatIsNotReadHoldsUpNoLoad) {
  TBootLoaderSim sim;
  sim.Start();
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  TChild child({"--verbose", "--port", sim.SlavePath(), file_}, -1, pipe[1]);
  ::close(pipe[1]);
  // Every command and answer, far more than the pipe holds, waits unread.
  EXPECT_TRUE(sim.WaitFinished(20s));
  EXPECT_TRUE(sim.Result().Complete());
  std::thread drain([&] {
    char buffer[65536];
    while (::read(pipe[0], buffer, sizeof buffer) > 0) {
    }
  });
  EXPECT_EQ(child.Wait(), exSuccess);
  drain.join();
  ::close(pipe[0]);
}

}  // namespace
