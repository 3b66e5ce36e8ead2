#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace zef {

// Fills in a printf-style message template; messages are short, so a fixed
// buffer with a heap fallback keeps the common case allocation-light.
[[gnu::format(printf, 1, 2)]] inline std::string FormatMessage(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  va_list retry;
  va_copy(retry, args);
  const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  std::string text;
  if (length >= 0 && size_t(length) < sizeof buffer) {
    text.assign(buffer, size_t(length));
  } else if (length >= 0) {
    text.resize(size_t(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, retry);
    text.resize(size_t(length));
  }
  va_end(retry);
  return text;
}

}  // namespace zef
