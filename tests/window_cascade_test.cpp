// Window placement: columns of 24 windows, 30 pixels apart; and the look
// for a display server before the first window.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "TestImages.h"
#include "frontend/Display.h"
#include "frontend/DisplayServer.h"

namespace {

using zef::frontend::ArchiveImageCascade;
using zef::frontend::SourceImageCascade;
using zef::frontend::WindowCascade;
using zef::frontend::WindowPosition;

WindowPosition NthPosition(WindowCascade cascade, int n) {
  WindowPosition at{};
  for (int i = 0; i < n; ++i) at = cascade.Next();
  return at;
}

TEST(WindowCascadeTest, SourceColumnsWrapAfterTwentyFourWindows) {
  EXPECT_EQ(NthPosition(SourceImageCascade(), 1).y, 0);
  const WindowPosition last = NthPosition(SourceImageCascade(), 24);
  EXPECT_EQ(last.x, 0);
  EXPECT_EQ(last.y, 690);
  const WindowPosition wrapped = NthPosition(SourceImageCascade(), 25);
  EXPECT_EQ(wrapped.x, 80);
  EXPECT_EQ(wrapped.y, 0);
  EXPECT_EQ(NthPosition(SourceImageCascade(), 49).x, 160);
}

TEST(WindowCascadeTest, ArchiveColumnsStartAtSixHundredAndStepThirty) {
  const WindowPosition first = NthPosition(ArchiveImageCascade(), 1);
  EXPECT_EQ(first.x, 600);
  const WindowPosition wrapped = NthPosition(ArchiveImageCascade(), 25);
  EXPECT_EQ(wrapped.x, 630);
  EXPECT_EQ(wrapped.y, 0);
}

// Clears the display variables for one test and puts back what was there.
class DisplayEnvironment {
 public:
  DisplayEnvironment() {
    for (Variable& variable : variables_) {
      if (const char* value = std::getenv(variable.name)) variable.saved = value;
      unsetenv(variable.name);
    }
  }
  ~DisplayEnvironment() {
    for (const Variable& variable : variables_) {
      if (variable.saved) {
        setenv(variable.name, variable.saved->c_str(), 1);
      } else {
        unsetenv(variable.name);
      }
    }
  }
  void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

 private:
  struct Variable {
    const char* name;
    std::optional<std::string> saved;
  };
  Variable variables_[3] = {{"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}}, {"XDG_RUNTIME_DIR", {}}};
};

// A socket that accepts connections where a compositor would listen.
int ListenAt(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 4) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST(DisplayServerTest, WaylandSocketCountsOnlyWhileItAccepts) {
  zeftest::TempDir dir;
  DisplayEnvironment environment;
  EXPECT_FALSE(zef::frontend::DisplayServerReachable());
  const int listener = ListenAt((dir / "wayland-9").string());
  ASSERT_GE(listener, 0);
  environment.Set("WAYLAND_DISPLAY", (dir / "wayland-9").string());
  EXPECT_TRUE(zef::frontend::DisplayServerReachable());
  environment.Set("WAYLAND_DISPLAY", "wayland-9");
  EXPECT_FALSE(zef::frontend::DisplayServerReachable()) << "a relative name needs XDG_RUNTIME_DIR";
  environment.Set("XDG_RUNTIME_DIR", dir.path().string());
  EXPECT_TRUE(zef::frontend::DisplayServerReachable());
  environment.Set("WAYLAND_DISPLAY", "wayland-8");
  EXPECT_FALSE(zef::frontend::DisplayServerReachable());
  environment.Set("WAYLAND_DISPLAY", "wayland-9");
  close(listener);
  EXPECT_FALSE(zef::frontend::DisplayServerReachable()) << "the socket is left, nobody listens";
  environment.Set("WAYLAND_DISPLAY", std::string(200, 'w'));
  EXPECT_FALSE(zef::frontend::DisplayServerReachable());
}

TEST(DisplayServerTest, DeadX11DisplayIsNotReachable) {
  if (std::filesystem::exists("/tmp/.X11-unix/X77")) GTEST_SKIP() << "display :77 exists here";
  DisplayEnvironment environment;
  environment.Set("DISPLAY", ":77");
  EXPECT_FALSE(zef::frontend::DisplayServerReachable());
}

}  // namespace
