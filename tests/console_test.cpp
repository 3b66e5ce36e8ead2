// The key test of the key wait: it must see a waiting key without taking
// it, end on closed or unreadable input, and leave a terminal as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "frontend/Console.h"

namespace {

using zef::frontend::InputState;
using zef::frontend::PollInput;

// Both ends of a pipe, closed on destruction unless closed before.
struct Pipe {
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    for (int fd : fds) {
      if (fd >= 0) close(fd);
    }
  }
  void CloseWriteEnd() {
    close(fds[1]);
    fds[1] = -1;
  }
  int fds[2] = {-1, -1};
};

// A pseudo-terminal in line mode, as a console is before the wait.
struct Terminal {
  Terminal() {
    EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios mode{};
    tcgetattr(slave, &mode);
    mode.c_lflag |= ICANON | ECHO;
    tcsetattr(slave, TCSANOW, &mode);
  }
  ~Terminal() {
    close(master);
    close(slave);
  }
  termios Mode() const {
    termios mode{};
    tcgetattr(slave, &mode);
    return mode;
  }
  int master = -1;
  int slave = -1;
};

bool SameMode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

TEST(KeyTest, WaitingInputOnAPipeIsSeenAndLeftUnread) {
  Pipe pipe;
  ASSERT_EQ(write(pipe.fds[1], "k", 1), 1);
  EXPECT_EQ(PollInput(pipe.fds[0], 0), InputState::kKeyWaiting);
  char key = 0;
  EXPECT_EQ(read(pipe.fds[0], &key, 1), 1);
  EXPECT_EQ(key, 'k');
}

TEST(KeyTest, OpenPipeWithoutInputKeepsWaiting) {
  Pipe pipe;
  EXPECT_EQ(PollInput(pipe.fds[0], 1), InputState::kNothing);
}

TEST(KeyTest, EndOfInputEndsTheWait) {
  Pipe pipe;
  pipe.CloseWriteEnd();
  EXPECT_EQ(PollInput(pipe.fds[0], 0), InputState::kEnded);

  const int devNull = open("/dev/null", O_RDONLY);
  ASSERT_GE(devNull, 0);
  EXPECT_NE(PollInput(devNull, 0), InputState::kNothing);
  close(devNull);
}

TEST(KeyTest, InputThatIsNotOpenEndsTheWait) {
  Pipe pipe;
  const int closedFd = pipe.fds[0];
  close(pipe.fds[0]);
  pipe.fds[0] = -1;
  EXPECT_EQ(PollInput(closedFd, 0), InputState::kEnded);
}

// The terminal hands typed bytes on to its reader in the background, so a
// key may need a few looks to show, as in the key wait itself.
InputState LookForKey(int fd) {
  InputState state = InputState::kNothing;
  for (int look = 0; look < 500 && state == InputState::kNothing; ++look) {
    state = PollInput(fd, 10);
  }
  return state;
}

TEST(KeyTest, SingleKeyOnATerminalInLineModeIsSeenWithoutEnter) {
  Terminal terminal;
  const termios before = terminal.Mode();
  EXPECT_EQ(PollInput(terminal.slave, 0), InputState::kNothing);
  EXPECT_TRUE(SameMode(terminal.Mode(), before));

  ASSERT_EQ(write(terminal.master, "q", 1), 1);
  ASSERT_EQ(LookForKey(terminal.slave), InputState::kKeyWaiting);
  EXPECT_TRUE(SameMode(terminal.Mode(), before));

  // The key is still there for whoever reads the terminal next, even in
  // line mode and without Enter.
  pollfd entry{terminal.slave, POLLIN, 0};
  ASSERT_EQ(poll(&entry, 1, 0), 1);
  char key = 0;
  EXPECT_EQ(read(terminal.slave, &key, 1), 1);
  EXPECT_EQ(key, 'q');
}

}  // namespace
