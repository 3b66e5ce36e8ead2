// Whether the display server that the environment names answers, asked
// without the window toolkit, which aborts the process when it cannot
// reach one.
#pragma once

namespace zef::frontend {

// True when the Wayland socket (WAYLAND_DISPLAY, inside XDG_RUNTIME_DIR
// unless a full path) accepts a connection, or when the X display
// (DISPLAY) opens. The connection is closed again at once.
bool DisplayServerReachable();

}  // namespace zef::frontend
