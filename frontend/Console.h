// Console output and the key wait that ends every run.
#pragma once

#include <string>

namespace zef::frontend {

inline constexpr const char* kKeyPrompt = "press any key to continue...\n";

// Writes the text as it stands.
void PrintText(const char* text);
// Writes the text and a line feed.
void PrintLine(const std::string& text);

// Prints the key prompt, then waits as AwaitKeyPress does.
void WaitForKey();
// Waits until a key press is waiting on standard input, or input has ended
// or cannot be read, and keeps the windows live meanwhile. The key is left
// unread.
void AwaitKeyPress();

enum class InputState {
  kKeyWaiting,  // something can be read; it has not been read
  kNothing,     // nothing yet; the caller may ask again
  kEnded,       // end of input, or input that cannot be read
};

// Looks whether input is waiting on fd, sleeping at most timeoutMillis when
// nothing is. A terminal is looked at key by key, not line by line, and is
// left in the mode it had.
InputState PollInput(int fd, int timeoutMillis);

}  // namespace zef::frontend
