#include "zef/CText.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string_view>

namespace zef::tool {

namespace {

// C up to C23 and C++ keywords, since headers are read by both languages,
// and `main`, which compilers warn about as anything but a function.
constexpr std::string_view kKeywords[] = {
    "_Alignas", "_Alignof", "_Atomic", "_BitInt", "_Bool", "_Complex", "_Decimal128",
    "_Decimal32", "_Decimal64", "_Generic", "_Imaginary", "_Noreturn", "_Static_assert",
    "_Thread_local", "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor",
    "bool", "break", "case", "catch", "char", "char16_t", "char32_t", "char8_t", "class",
    "co_await", "co_return", "co_yield", "compl", "concept", "const", "const_cast", "consteval",
    "constexpr", "constinit", "continue", "decltype", "default", "delete", "do", "double",
    "dynamic_cast", "else", "enum", "explicit", "export", "extern", "false", "float", "for",
    "friend", "goto", "if", "inline", "int", "long", "mutable", "namespace", "new", "noexcept",
    "not", "not_eq", "nullptr", "operator", "or", "or_eq", "private", "protected", "public",
    "register", "reinterpret_cast", "requires", "restrict", "return", "short", "signed",
    "sizeof", "static", "static_assert", "static_cast", "struct", "switch", "template", "this",
    "thread_local", "throw", "true", "try", "typedef", "typeid", "typename", "typeof",
    "typeof_unqual", "union", "unsigned", "using", "virtual", "void", "volatile", "wchar_t",
    "while", "xor", "xor_eq", "main"};

bool StartsWith(std::string_view text, std::string_view start) {
  return text.size() >= start.size() && text.substr(0, start.size()) == start;
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool IsIdentifierCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsListed(const std::string& name) {
  const auto is = [&name](std::string_view listed) { return listed == name; };
  return std::any_of(std::begin(kKeywords), std::end(kKeywords), is) || IsStandardHeaderName(name);
}

bool ReservedByUnderscores(const std::string& name) {
  return name.size() >= 2 && name[0] == '_' && (name[1] == '_' || (name[1] >= 'A' && name[1] <= 'Z'));
}

std::string Identifier(const std::string& text) {
  std::string name = text;
  for (char& c : name) {
    if (!IsIdentifierCharacter(c)) c = '_';
  }
  return name;
}

}  // namespace

bool IsReservedName(const std::string& name) {
  if (IsListed(name) || ReservedByUnderscores(name)) return true;
  // The families <stdint.h> and <stdatomic.h> hold and C keeps for its
  // later versions.
  if ((StartsWith(name, "int") || StartsWith(name, "uint")) && EndsWith(name, "_t")) return true;
  if (StartsWith(name, "atomic_") || StartsWith(name, "memory_order_") || StartsWith(name, "ATOMIC_")) return true;
  return (StartsWith(name, "INT") || StartsWith(name, "UINT")) &&
         (EndsWith(name, "_MAX") || EndsWith(name, "_MIN") || EndsWith(name, "_C") ||
          EndsWith(name, "_WIDTH"));
}

std::string SymbolName(const std::string& text) {
  std::string name = Identifier(text);
  if (name.empty() || IsDigit(name.front())) name = "_" + name;
  if (ReservedByUnderscores(name)) name = "zef" + name;
  if (IsReservedName(name)) name += "_";
  return name;
}

std::string MacroName(const std::string& text) {
  std::string name = Identifier(text);
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  if (name.empty() || IsDigit(name.front()) || IsReservedName(name)) name = "ZEF_" + name;
  return name;
}

std::string IncludeGuard(const std::string& headerFile, const std::set<std::string>& taken) {
  std::string guard = MacroName(std::filesystem::path(headerFile).filename().string());
  while (taken.count(guard) != 0) guard += "_GUARD";
  return guard;
}

std::string CommentText(const std::string& text) {
  std::string comment;
  for (const char c : text) {
    const bool plain = c >= ' ' && c <= '~' && c != '\\' && c != '?';
    // Neither a comment's end nor, for -Wcomment, the start of another.
    if ((c == '/' || c == '*') && !comment.empty() && comment.back() == (c == '/' ? '*' : '/')) comment += ' ';
    comment += plain ? c : '_';
  }
  return comment;
}

std::string UniqueName(const std::string& name, const std::set<std::string>& suffixes,
                       std::set<std::string>& taken, std::map<std::string, int>& next) {
  const auto free = [&](const std::string& candidate) {
    return std::none_of(suffixes.begin(), suffixes.end(),
                        [&](const std::string& suffix) { return taken.count(candidate + suffix) != 0; });
  };
  std::string unique = name;
  if (!free(unique)) {
    // Every number below next[name] was found taken before.
    int& n = next.try_emplace(name, 2).first->second;
    while (!free(unique = name + "_" + std::to_string(n))) ++n;
    ++n;
  }
  for (const std::string& suffix : suffixes) taken.insert(unique + suffix);
  return unique;
}

}  // namespace zef::tool
