// Letter case for options and script keys, which match in any case.
#pragma once

#include <cctype>
#include <string>

namespace zef::frontend {

inline std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace zef::frontend
