#include "frontend/DisplayServer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

// Last: its macros (Status, None, Bool, ...) would clash with other headers.
#include <X11/Xlib.h>

namespace zef::frontend {

namespace {

const char* EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

bool X11DisplayReachable() {
  if (EnvironmentValue("DISPLAY") == nullptr) return false;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

bool WaylandDisplayReachable() {
  const char* name = EnvironmentValue("WAYLAND_DISPLAY");
  if (name == nullptr) return false;
  std::string path = name;
  if (path.front() != '/') {
    const char* runtimeDir = EnvironmentValue("XDG_RUNTIME_DIR");
    if (runtimeDir == nullptr) return false;
    path = std::string(runtimeDir) + "/" + path;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  path.copy(address.sun_path, path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

}  // namespace

bool DisplayServerReachable() { return WaylandDisplayReachable() || X11DisplayReachable(); }

}  // namespace zef::frontend
