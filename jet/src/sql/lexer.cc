#include "sql/lexer.h"

#include "jet/error.h"

namespace jet::sql {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_start(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
bool is_name_char(char c) { return is_name_start(c) || is_digit(c); }

[[noreturn]] void fail(std::string_view sql, std::size_t pos, const std::string& what) {
  throw Error(ErrorCategory::kSyntax, "syntax error at " + describe_position(sql, pos) + ": " + what);
}

}  // namespace

std::string describe_position(std::string_view sql, std::size_t pos) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < pos && i < sql.size(); ++i) {
    if (sql[i] == '\n') {
      ++line;
      column = 1;
    } else if (sql[i] != '\r') {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::vector<Token> tokenize(std::string_view sql) {
  std::vector<Token> out;
  out.reserve(sql.size() / 4 + 2);
  std::size_t i = 0;
  const std::size_t n = sql.size();
  while (i < n) {
    char c = sql[i];
    if (is_blank(c)) {
      ++i;
      continue;
    }
    Token t;
    t.pos = i;
    if (is_name_start(c)) {
      std::size_t j = i;
      while (j < n && is_name_char(sql[j])) ++j;
      t.kind = TokenKind::kName;
      t.text = std::string(sql.substr(i, j - i));
      i = j;
    } else if (is_digit(c) || (c == '.' && i + 1 < n && is_digit(sql[i + 1]))) {
      std::size_t j = i;
      while (j < n && is_digit(sql[j])) ++j;
      if (j < n && sql[j] == '.') {
        ++j;
        while (j < n && is_digit(sql[j])) ++j;
      }
      if (j < n && (sql[j] == 'e' || sql[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < n && (sql[k] == '+' || sql[k] == '-')) ++k;
        if (k < n && is_digit(sql[k])) {
          while (k < n && is_digit(sql[k])) ++k;
          j = k;
        }
      }
      if (j < n && is_name_start(sql[j])) fail(sql, j, "a number runs into the word after it");
      t.kind = TokenKind::kNumber;
      t.text = std::string(sql.substr(i, j - i));
      i = j;
    } else if (c == '[') {
      std::size_t close = sql.find(']', i + 1);
      if (close == std::string_view::npos) fail(sql, i, "the name in square brackets is not closed by ']'");
      if (close == i + 1) fail(sql, i, "empty name in square brackets");
      t.kind = TokenKind::kBracket;
      t.text = std::string(sql.substr(i + 1, close - i - 1));
      if (t.text.find('[') != std::string::npos) fail(sql, i, "'[' inside a name in square brackets");
      i = close + 1;
    } else if (c == '\'' || c == '"') {
      std::size_t j = i + 1;
      std::string value;
      bool closed = false;
      while (j < n) {
        // Copy up to the next quote in one piece; a doubled quote is one
        // quote character of the text.
        std::size_t q = sql.find(c, j);
        if (q == std::string_view::npos) {
          j = n;
          break;
        }
        value.append(sql.data() + j, q - j);
        if (q + 1 < n && sql[q + 1] == c) {
          value.push_back(c);
          j = q + 2;
          continue;
        }
        closed = true;
        j = q + 1;
        break;
      }
      if (!closed) fail(sql, i, std::string("the text literal starting with ") + c + " is not closed");
      t.kind = TokenKind::kText;
      t.text = std::move(value);
      i = j;
    } else {
      t.kind = TokenKind::kSymbol;
      if ((c == '<' && i + 1 < n && (sql[i + 1] == '>' || sql[i + 1] == '=')) ||
          (c == '>' && i + 1 < n && sql[i + 1] == '=')) {
        t.text = std::string(sql.substr(i, 2));
        i += 2;
      } else if (std::string_view("(),;.*=<>&+-/\\!").find(c) != std::string_view::npos) {
        t.text = std::string(1, c);
        ++i;
      } else if (c == '#') {
        std::size_t close = sql.find('#', i + 1);
        if (close == std::string_view::npos) fail(sql, i, "the date literal starting with # is not closed by '#'");
        t.kind = TokenKind::kDate;
        t.text = std::string(sql.substr(i + 1, close - i - 1));
        i = close + 1;
      } else {
        unsigned char u = static_cast<unsigned char>(c);
        char buf[8];
        if (u < 0x20 || u == 0x7F) {
          static const char* hex = "0123456789ABCDEF";
          buf[0] = '0'; buf[1] = 'x'; buf[2] = hex[u >> 4]; buf[3] = hex[u & 15]; buf[4] = 0;
          fail(sql, i, std::string("unexpected control character ") + buf);
        }
        fail(sql, i, std::string("unexpected character '") + c + "'");
      }
    }
    out.push_back(std::move(t));
  }
  Token end;
  end.kind = TokenKind::kEnd;
  end.pos = n;
  out.push_back(std::move(end));
  return out;
}

}  // namespace jet::sql
