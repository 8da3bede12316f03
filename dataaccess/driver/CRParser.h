#pragma once
// The SQL lexer: a generic lexer (TParser) and its SQL refinement
// (TSQLParser). The driver command and the macros of the components use it
// to find parameter markers and macros outside string literals, quoted
// identifiers and comments; the MySQL refinement is in MyParser.h.
//
// A lexer holds its own copy of the text, so the caller's string may go
// away. It never reads outside the text: an unterminated string, quoted
// identifier or comment runs to the end of the text.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Exception.h"

namespace da {

// Lexem codes answered by GetNext. Symbols and keywords of the tables
// answer their own (positive) codes.
inline constexpr int LexEnd = 0;
inline constexpr int LexSymbol = -102;   // a symbol character not in the symbol table
inline constexpr int LexIdent = -103;    // identifier or quoted identifier
inline constexpr int LexNumber = -105;
inline constexpr int LexString = -106;
inline constexpr int LexBlank = -107;    // only when OmitBlank is off
inline constexpr int LexComment = -108;  // only when OmitComment is off

// A character the lexer does not allow outside strings, quoted
// identifiers and comments. The lexer stays usable (it stands on that
// character).
class EParserError : public Exception {
 public:
  using Exception::Exception;
};

// A table of symbols or keywords with their codes, sorted once by the
// upper-case texts and searched by bisection.
class TLexemTable {
 public:
  explicit TLexemTable(std::vector<std::pair<std::string, int>> entries);
  // The entries of `base` and the further `entries`.
  TLexemTable(const TLexemTable& base, std::vector<std::pair<std::string, int>> entries);

  // The code of `text`, the letters a-z compared as upper case; 0 when the
  // table does not hold it. `tableText` (optional) receives the table's text.
  int Find(std::string_view text, const std::string** tableText = nullptr) const;
  size_t Count() const { return entries_.size(); }

 private:
  void Sort();
  std::vector<std::pair<std::string, int>> entries_;
};

// The character classes of one lexer class, one flag set per 8-bit code.
struct TCharClasses {
  enum : uint8_t {
    Blank = 1,
    Symbol = 2,
    Alpha = 4,
    Digit = 8,
    StringQuote = 16,
    IdentQuote = 32,
  };
  std::array<uint8_t, 256> flags{};
  bool Has(unsigned char c, uint8_t flag) const { return (flags[c] & flag) != 0; }
};

// The classes every lexer shares: blanks 9, 10, 13, 32; digits; symbols
// 33-47, 58-64, 91-94, 96, 123-126; letters A-Z, a-z, 128-255. A lexer class
// adds its quotes (and moves characters between symbols and letters).
TCharClasses CommonCharClasses();

// What a lexer class contributes: its character classes and its tables.
// The objects are process-wide and outlive every lexer.
struct TParserTraits {
  const TCharClasses* classes;
  const TLexemTable* symbols;
  const TLexemTable* keywords;
};

class TParser;
// A lexer class: creates a lexer of that class on a text.
using TParserClass = std::unique_ptr<TParser> (*)(std::string text);

class TParser {
 public:
  explicit TParser(std::string text);
  virtual ~TParser() = default;
  TParser(const TParser&) = delete;
  TParser& operator=(const TParser&) = delete;

  static std::unique_ptr<TParser> Create(std::string text);

  // Settings (defaults: OmitBlank true, OmitComment false,
  // UppercaseKeywords true, QuotedString false, the regional decimal
  // separator, "/*" and "*/").
  bool OmitBlank() const { return omitBlank_; }
  void SetOmitBlank(bool value) { omitBlank_ = value; }
  bool OmitComment() const { return omitComment_; }
  void SetOmitComment(bool value) { omitComment_ = value; }
  bool UppercaseKeywords() const { return uppercaseKeywords_; }
  void SetUppercaseKeywords(bool value) { uppercaseKeywords_ = value; }
  bool QuotedString() const { return quotedString_; }
  void SetQuotedString(bool value) { quotedString_ = value; }
  char DecSeparator() const { return decSeparator_; }
  void SetDecSeparator(char value) { decSeparator_ = value; }
  // An empty delimiter switches block comments off.
  void SetCommentDelimiters(std::string begin, std::string end);

  const std::string& Text() const { return text_; }

  // Back to the start of the text, counters reset.
  void ToBegin();

  // Reads the next lexem: its text into `lexem`, its code as the answer.
  // Identifiers found in the keyword table answer the keyword's code (and,
  // with UppercaseKeywords, its upper-case text). Raises EParserError on a
  // character that is not allowed.
  int GetNext(std::string& lexem);

  // Reads lexems (without keyword mapping) until one equal to `symbol` has
  // been read: a symbol, or an identifier that is not quoted, compared in
  // upper case. Strings, quoted identifiers and comments never match.
  // False at the end of the text.
  bool ToLexem(std::string_view symbol);

  // Steps back over the last lexem read (at most two steps are kept).
  void Back();

  // Characters consumed so far: the 0-based index of the next character.
  size_t CurrPos() const { return pos_; }
  // 0-based start and length of the last lexem read.
  size_t LexemPos() const { return lexemPos_; }
  size_t LexemLength() const { return pos_ - lexemPos_; }
  // The text of the last lexem (as GetNext answered it).
  const std::string& Lexem() const { return lexem_; }
  // The last GetNext found its lexem in the keyword table.
  bool IsKeywordLexem() const { return keywordLexem_; }

  // 0-based line of the next character, and its column.
  int CurrLine() const { return line_; }
  size_t CurrCol() const { return pos_ - lineStart_; }

  bool IsIdentQuote(unsigned char c) const { return traits_.classes->Has(c, TCharClasses::IdentQuote); }
  bool IsStringQuote(unsigned char c) const { return traits_.classes->Has(c, TCharClasses::StringQuote); }
  const TLexemTable& Symbols() const { return *traits_.symbols; }
  const TLexemTable& Keywords() const { return *traits_.keywords; }

 protected:
  TParser(std::string text, const TParserTraits& traits);

  // Length of the line-comment opener at `pos`, 0 when none starts there.
  virtual size_t LineCommentStart(size_t pos) const;
  // Index of the quote that closes the quoted run opened at `open`, or npos
  // when it is not closed. The generic rule: the next same quote.
  virtual size_t FindClosingQuote(size_t open) const;

  bool CharIs(size_t pos, char c) const { return pos < text_.size() && text_[pos] == c; }

 private:
  struct Mark {
    size_t pos = 0;
    int line = 0;
    size_t lineStart = 0;
  };

  // The raw step: the next lexem without keyword mapping.
  int RawNext();
  bool SkipComment();
  int ReadQuoted(int code, bool keepQuotes);
  int ReadSymbol();
  void CountLines(size_t from, size_t to);
  [[noreturn]] void UnknownSymbol(unsigned char c) const;

  std::string text_;
  TParserTraits traits_;
  bool omitBlank_ = true;
  bool omitComment_ = false;
  bool uppercaseKeywords_ = true;
  bool quotedString_ = false;
  char decSeparator_;
  std::string commentBegin_ = "/*";
  std::string commentEnd_ = "*/";

  size_t pos_ = 0;
  int line_ = 0;
  size_t lineStart_ = 0;
  Mark prev_, prevPrev_;
  size_t lexemPos_ = 0;
  std::string lexem_;
  bool keywordLexem_ = false;
};

// The SQL lexer: "#" and "$" are letters, "'" quotes strings, the double
// quote quotes identifiers, "--" starts a line comment.
class TSQLParser : public TParser {
 public:
  explicit TSQLParser(std::string text);
  static std::unique_ptr<TParser> Create(std::string text);

  static const TLexemTable& SqlSymbols();
  static const TLexemTable& SqlKeywords();
  // Keyword codes of the clauses in clause order (for statement rewriting).
  static const std::vector<int>& ClauseCodes();

 protected:
  TSQLParser(std::string text, const TParserTraits& traits);
  size_t LineCommentStart(size_t pos) const override;
};

}  // namespace da
