// Internal: splits a Jet SQL statement into tokens.
//
// Jet's rules: blanks, tabs, CR and LF separate tokens and are otherwise free;
// keywords are case-insensitive; [bracketed names] may hold blanks; text
// literals are 'single-' or "double-quoted" with the quote doubled inside.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace jet::sql {

enum class TokenKind {
  kName,     // a bare word: keyword or name
  kBracket,  // [bracketed name] (text holds the name without brackets)
  kText,     // 'text' or "text" (text holds the value, quotes undoubled)
  kNumber,   // 12, 1.5, 2E3
  kDate,     // #1/31/2026#, #2026-01-31 10:00:00# (text holds what is between the #s)
  kSymbol,   // ( ) , ; . * = <> < > <= >= & + - / \ !
  kEnd,
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;
  std::size_t pos = 0;  // byte offset of the token's first character
};

// Tokens of `sql`, ending with one kEnd token. Throws jet::Error kSyntax
// naming the position for an unterminated literal or bracket, an empty
// bracketed name, or a character Jet does not accept.
std::vector<Token> tokenize(std::string_view sql);

// "line L, column C" of byte offset `pos` in `sql` (both 1-based).
std::string describe_position(std::string_view sql, std::size_t pos);

}  // namespace jet::sql
