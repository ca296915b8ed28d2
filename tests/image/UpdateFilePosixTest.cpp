// The update file on POSIX systems: special files and read-only files.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "SampleImage.h"
#include "UpdateFile.h"
#include "UpdateFileFixture.h"

namespace fs = std::filesystem;

namespace {

// Anything that is not a regular file is refused at once as an input/output
// error. Each read runs in a child under a watchdog, so a regression fails
// instead of hanging the suite.
TEST_F(UpdateFile, SpecialFilesAreRefusedWithoutBlocking) {
  ASSERT_EQ(::mkfifo((dir_ / "pipe.qv").c_str(), 0600), 0);
  fs::create_symlink(dir_ / "pipe.qv", dir_ / "link.qv");
  fs::create_directories(dir_ / "dir.qv");
  fs::create_symlink("/dev/null", dir_ / "null.qv");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string sockPath = (dir_ / "sock.qv").string();
  ASSERT_LT(sockPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, sockPath.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  for (const auto& [name, code] :
       {std::pair{"pipe.qv", ESPIPE}, std::pair{"link.qv", ESPIPE}, std::pair{"dir.qv", EISDIR},
        std::pair{"null.qv", ENODEV}, std::pair{"sock.qv", ESPIPE}}) {
    const std::string path = (dir_ / name).string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::alarm(5);
      TImage image;
      try {
        ReadUpdateFile(path, image);
        ::_exit(100);
      } catch (const EInOutError& e) {
        ::_exit(e.Code() == code && std::string(e.what()) == "I/O error " + std::to_string(code) ? 0 : 101);
      } catch (...) {
        ::_exit(102);
      }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << name << ": blocked (killed by its watchdog)";
    EXPECT_EQ(WEXITSTATUS(status), 0) << name;
  }
  ::close(sock);
}

TEST_F(UpdateFile, ReadOnlyFileLoadsAlsoForAnUnprivilegedUser) {
  const std::string text = GoodText(MakeSampleImage(6));
  const std::string path = Write("ro.qv", text);
  ::chmod(path.c_str(), 0444);
  // Root may open anything for writing, so the check only bites as an ordinary user.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    try {
      TImage image;
      ::_exit(ReadUpdateFile(path, image) == TUpdateFileOutcome::Read && UpdateFileText(image) == text ? 0 : 1);
    } catch (...) {
      ::_exit(2);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
