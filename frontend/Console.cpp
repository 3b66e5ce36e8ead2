#include "frontend/Console.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "frontend/Display.h"

namespace zef::frontend {

namespace {

// Short enough that a key press ends the wait at once to the eye, long
// enough that waiting costs no noticeable processor time.
constexpr int kPollIntervalMillis = 10;

InputState ClassifyPoll(int ready, short revents) {
  if (ready < 0) return errno == EINTR ? InputState::kNothing : InputState::kEnded;
  if (ready == 0) return InputState::kNothing;
  if (revents & POLLIN) return InputState::kKeyWaiting;
  return InputState::kEnded;  // hang-up, error or a descriptor that is not open
}

InputState PollOnce(int fd, int timeoutMillis) {
  pollfd entry{fd, POLLIN, 0};
  const int ready = poll(&entry, 1, timeoutMillis);
  return ClassifyPoll(ready, entry.revents);
}

// Signals that would end or stop the process while the terminal is out of
// its own mode are held back for the few microseconds of the test.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGTTOU, SIGTTIN}) sigaddset(&held, s);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~HeldSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t previous_;
};

// In line mode a terminal reports input only after Enter. Switching line
// mode off for an instant makes a single typed key visible; switching it
// back hands the key, unread, to whoever reads the terminal next.
InputState PollTerminalKey(int fd, const termios& lineMode) {
  termios keyMode = lineMode;
  keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON);
  keyMode.c_cc[VMIN] = 1;
  keyMode.c_cc[VTIME] = 0;
  HeldSignals held;
  if (tcsetattr(fd, TCSANOW, &keyMode) != 0) return InputState::kNothing;
  const InputState state = PollOnce(fd, 0);
  tcsetattr(fd, TCSANOW, &lineMode);
  return state;
}

// A terminal whose foreground is another job's is not ours to switch; it
// only counts once this job is brought to the foreground.
bool OwnsTerminal(int fd) {
  const pid_t foreground = tcgetpgrp(fd);
  return foreground == -1 || foreground == getpgrp();  // -1: not our controlling terminal
}

}  // namespace

void PrintText(const char* text) { std::fputs(text, stdout); }

void PrintLine(const std::string& text) { std::printf("%s\n", text.c_str()); }

InputState PollInput(int fd, int timeoutMillis) {
  termios lineMode{};
  if (isatty(fd) && tcgetattr(fd, &lineMode) == 0 && (lineMode.c_lflag & ICANON) &&
      OwnsTerminal(fd)) {
    const InputState key = PollTerminalKey(fd, lineMode);
    if (key != InputState::kNothing) return key;
  }
  return PollOnce(fd, timeoutMillis);
}

void WaitForKey() {
  PrintText(kKeyPrompt);
  AwaitKeyPress();
}

void AwaitKeyPress() {
  std::fflush(stdout);
  while (PollInput(STDIN_FILENO, kPollIntervalMillis) == InputState::kNothing) {
    PumpWindowEvents();
  }
}

}  // namespace zef::frontend
