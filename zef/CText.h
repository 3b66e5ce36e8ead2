// Every piece of C that zef writes: identifiers, macro names, include
// guards and comments. Whatever a file name or option holds, the text that
// comes out compiles under -std=c99 -Wall -Wextra -Werror -pedantic and in
// C++: no control character or comment end reaches a comment, and no name
// is one that C, its library headers or another name of the file takes.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>

namespace zef::tool {

// True for a name that C or C++ reserve, or that a C standard header
// defines: keywords, `main`, names starting with "__" or '_' and a capital,
// and every macro and type of the C99 headers (and of C11's) as the
// common C libraries define them (size_t, uint8_t, SIZE_MAX, EOF, FILE,
// NAN, CHAR_BIT, SIGINT, errno, ...), with the families C keeps for its
// later versions (int..._t, INT..._MAX, atomic_..., ATOMIC_...).
bool IsReservedName(const std::string& name);

// One of the macros and types that the C standard headers define
// (StandardNames.cpp).
bool IsStandardHeaderName(std::string_view name);

// The text as a name that may stand in C as it is: every character but
// ASCII letters, digits and '_' as '_', '_' in front of a leading digit (or
// of nothing), "zef" in front of a name reserved by its leading
// underscores, and '_' after any other reserved name.
std::string SymbolName(const std::string& text);

// The text as a macro name: upper case, every character but letters,
// digits and '_' as '_', and "ZEF_" in front of a leading digit, of
// nothing, or of a name that is reserved.
std::string MacroName(const std::string& text);

// A guard for a header: the macro name of its file name, with "_GUARD"
// added until it is none of `taken`.
std::string IncludeGuard(const std::string& headerFile, const std::set<std::string>& taken);

// Text fit for the inside of a /* */ or // comment on one line: control
// characters, bytes outside ASCII, '\\' and '?' (which start splices and
// trigraphs) as '_', and "*/" and "/*" broken up.
std::string CommentText(const std::string& text);

// `name` as is, or with "_2", "_3", ... appended, whichever comes first
// with every one of `name + suffix` for `suffixes` free of `taken`; the
// names it gives are added to `taken`. `next` keeps per name the number
// to try first the next time, so that n equal names take linear time.
std::string UniqueName(const std::string& name, const std::set<std::string>& suffixes,
                       std::set<std::string>& taken, std::map<std::string, int>& next);

}  // namespace zef::tool
