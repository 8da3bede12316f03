#include "driver/CRParser.h"

#include <algorithm>

#include "common/RegionalSettings.h"

namespace da {
namespace {

unsigned char AsciiUpper(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

// Compares `text` (a-z as upper case) with an upper-case table entry.
int CompareUpper(std::string_view text, std::string_view entry) {
  size_t n = std::min(text.size(), entry.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char a = AsciiUpper(static_cast<unsigned char>(text[i]));
    unsigned char b = static_cast<unsigned char>(entry[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  if (text.size() == entry.size()) return 0;
  return text.size() < entry.size() ? -1 : 1;
}

void SetRange(TCharClasses& cc, int from, int to, uint8_t flag) {
  for (int c = from; c <= to; ++c) cc.flags[c] |= flag;
}

}  // namespace

// The classes every lexer shares: blanks, digits, symbols, letters.
TCharClasses CommonCharClasses() {
  TCharClasses cc;
  for (int c : {9, 10, 13, 32}) cc.flags[c] |= TCharClasses::Blank;
  SetRange(cc, '0', '9', TCharClasses::Digit);
  SetRange(cc, 33, 47, TCharClasses::Symbol);
  SetRange(cc, 58, 64, TCharClasses::Symbol);
  SetRange(cc, 91, 94, TCharClasses::Symbol);
  cc.flags[96] |= TCharClasses::Symbol;
  SetRange(cc, 123, 126, TCharClasses::Symbol);
  SetRange(cc, 'A', 'Z', TCharClasses::Alpha);
  SetRange(cc, 'a', 'z', TCharClasses::Alpha);
  SetRange(cc, 128, 255, TCharClasses::Alpha);
  return cc;
}

namespace {

const TParserTraits& BaseTraits() {
  static const TCharClasses classes = [] {
    TCharClasses cc = CommonCharClasses();
    cc.flags['\''] |= TCharClasses::StringQuote;
    cc.flags['"'] |= TCharClasses::StringQuote;
    return cc;
  }();
  // The 28 characters 33-47, 58-64 and 91-96, numbered from 1.
  static const TLexemTable symbols = [] {
    std::vector<std::pair<std::string, int>> entries;
    int code = 1;
    for (auto [from, to] : {std::pair{33, 47}, std::pair{58, 64}, std::pair{91, 96}})
      for (int c = from; c <= to; ++c) entries.emplace_back(std::string(1, static_cast<char>(c)), code++);
    return TLexemTable(std::move(entries));
  }();
  static const TLexemTable keywords({{"AND", 29}, {"NOT", 30}, {"OR", 31}});
  static const TParserTraits traits{&classes, &symbols, &keywords};
  return traits;
}

const TParserTraits& SqlTraits() {
  static const TCharClasses classes = [] {
    TCharClasses cc = CommonCharClasses();
    // "#" and "$" are letters here, so they are no longer symbols.
    for (unsigned char c : {'#', '$'})
      cc.flags[c] = static_cast<uint8_t>((cc.flags[c] & ~TCharClasses::Symbol) | TCharClasses::Alpha);
    cc.flags['\''] |= TCharClasses::StringQuote;
    cc.flags['"'] |= TCharClasses::IdentQuote;
    return cc;
  }();
  static const TParserTraits traits{&classes, &TSQLParser::SqlSymbols(), &TSQLParser::SqlKeywords()};
  return traits;
}

}  // namespace

// --- TLexemTable -------------------------------------------------------------

TLexemTable::TLexemTable(std::vector<std::pair<std::string, int>> entries) : entries_(std::move(entries)) { Sort(); }

TLexemTable::TLexemTable(const TLexemTable& base, std::vector<std::pair<std::string, int>> entries)
    : entries_(base.entries_) {
  entries_.insert(entries_.end(), std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
  Sort();
}

void TLexemTable::Sort() {
  for (auto& e : entries_)
    for (char& c : e.first) c = static_cast<char>(AsciiUpper(static_cast<unsigned char>(c)));
  // Plain byte order of the upper-case texts.
  std::sort(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
}

int TLexemTable::Find(std::string_view text, const std::string** tableText) const {
  size_t lo = 0, hi = entries_.size();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    int cmp = CompareUpper(text, entries_[mid].first);
    if (cmp == 0) {
      if (tableText) *tableText = &entries_[mid].first;
      return entries_[mid].second;
    }
    if (cmp < 0)
      hi = mid;
    else
      lo = mid + 1;
  }
  return 0;
}

// --- TParser -----------------------------------------------------------------

TParser::TParser(std::string text) : TParser(std::move(text), BaseTraits()) {}

TParser::TParser(std::string text, const TParserTraits& traits)
    : text_(std::move(text)), traits_(traits), decSeparator_(Regional().decimalSeparator) {}

std::unique_ptr<TParser> TParser::Create(std::string text) { return std::make_unique<TParser>(std::move(text)); }

void TParser::SetCommentDelimiters(std::string begin, std::string end) {
  commentBegin_ = std::move(begin);
  commentEnd_ = std::move(end);
}

void TParser::ToBegin() {
  pos_ = 0;
  line_ = 0;
  lineStart_ = 0;
  prev_ = prevPrev_ = Mark{};
  lexemPos_ = 0;
  lexem_.clear();
  keywordLexem_ = false;
}

void TParser::Back() {
  pos_ = prev_.pos;
  line_ = prev_.line;
  lineStart_ = prev_.lineStart;
  prev_ = prevPrev_;
  lexemPos_ = pos_;
  lexem_.clear();
  keywordLexem_ = false;
}

size_t TParser::LineCommentStart(size_t pos) const { return (CharIs(pos, '/') && CharIs(pos + 1, '/')) ? 2 : 0; }

size_t TParser::FindClosingQuote(size_t open) const { return text_.find(text_[open], open + 1); }

// CR, LF and CR LF are one line break each: an LF right after a CR was
// counted with the CR.
void TParser::CountLines(size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    char c = text_[i];
    if (c == '\r' || (c == '\n' && (i == 0 || text_[i - 1] != '\r'))) {
      ++line_;
      lineStart_ = i + 1;
    } else if (c == '\n') {
      lineStart_ = i + 1;
    }
  }
}

bool TParser::SkipComment() {
  const size_t n = text_.size();
  const size_t start = pos_;
  if (size_t opener = LineCommentStart(pos_)) {
    pos_ += opener;
    while (pos_ < n && text_[pos_] != '\r' && text_[pos_] != '\n') ++pos_;
    return true;
  }
  if (!commentBegin_.empty() && text_.compare(pos_, commentBegin_.size(), commentBegin_) == 0) {
    size_t close = commentEnd_.empty() ? std::string::npos : text_.find(commentEnd_, pos_ + commentBegin_.size());
    pos_ = close == std::string::npos ? n : close + commentEnd_.size();
    CountLines(start, pos_);
    return true;
  }
  return false;
}

int TParser::ReadQuoted(int code, bool keepQuotes) {
  const size_t open = pos_;
  const size_t close = FindClosingQuote(open);
  const size_t end = close == std::string::npos ? text_.size() : close + 1;
  if (keepQuotes)
    lexem_.assign(text_, open, end - open);
  else
    lexem_.assign(text_, open + 1, (close == std::string::npos ? end : close) - open - 1);
  CountLines(open, end);
  pos_ = end;
  return code;
}

int TParser::ReadSymbol() {
  const TCharClasses& cc = *traits_.classes;
  const std::string* tableText = nullptr;
  size_t len = 1;
  int code = traits_.symbols->Find(std::string_view(text_).substr(pos_, 1), &tableText);
  // A longer symbol is matched one symbol character at a time while the
  // table knows the longer text.
  while (code != 0 && pos_ + len < text_.size() && cc.Has(static_cast<unsigned char>(text_[pos_ + len]), TCharClasses::Symbol)) {
    const std::string* longerText = nullptr;
    int longer = traits_.symbols->Find(std::string_view(text_).substr(pos_, len + 1), &longerText);
    if (longer == 0) break;
    code = longer;
    tableText = longerText;
    ++len;
  }
  if (code != 0)
    lexem_ = *tableText;
  else
    lexem_.assign(text_, pos_, 1);
  pos_ += len;
  return code != 0 ? code : LexSymbol;
}

void TParser::UnknownSymbol(unsigned char c) const {
  static const char kHex[] = "0123456789ABCDEF";
  std::string message = "Parser: The unknown symbol '";
  message += static_cast<char>(c);
  message += "'  $00";
  message += kHex[c >> 4];
  message += kHex[c & 15];
  throw EParserError(message);
}

int TParser::RawNext() {
  const TCharClasses& cc = *traits_.classes;
  const size_t n = text_.size();
  prevPrev_ = prev_;
  prev_ = Mark{pos_, line_, lineStart_};
  lexem_.clear();
  keywordLexem_ = false;
  lexemPos_ = pos_;

  for (;;) {
    if (pos_ >= n) return LexEnd;
    size_t start = pos_;
    while (pos_ < n && cc.Has(static_cast<unsigned char>(text_[pos_]), TCharClasses::Blank)) ++pos_;
    if (pos_ > start) {
      CountLines(start, pos_);
      if (!omitBlank_) {
        lexemPos_ = start;
        lexem_.assign(text_, start, pos_ - start);
        return LexBlank;
      }
    }
    if (pos_ >= n) {
      lexemPos_ = pos_;
      return LexEnd;
    }
    start = pos_;
    if (!SkipComment()) break;
    if (!omitComment_) {
      lexemPos_ = start;
      lexem_.assign(text_, start, pos_ - start);
      return LexComment;
    }
  }

  lexemPos_ = pos_;
  const unsigned char c = static_cast<unsigned char>(text_[pos_]);
  if (cc.Has(c, TCharClasses::Symbol)) {
    if (cc.Has(c, TCharClasses::StringQuote)) return ReadQuoted(LexString, quotedString_);
    if (cc.Has(c, TCharClasses::IdentQuote)) return ReadQuoted(LexIdent, true);
    return ReadSymbol();
  }
  if (cc.Has(c, TCharClasses::Alpha) || c == '_') {
    size_t end = pos_ + 1;
    while (end < n) {
      unsigned char d = static_cast<unsigned char>(text_[end]);
      if (!cc.Has(d, TCharClasses::Alpha | TCharClasses::Digit) && d != '_') break;
      ++end;
    }
    lexem_.assign(text_, pos_, end - pos_);
    pos_ = end;
    return LexIdent;
  }
  if (cc.Has(c, TCharClasses::Digit)) {
    auto isDigit = [&](size_t i) { return i < n && cc.Has(static_cast<unsigned char>(text_[i]), TCharClasses::Digit); };
    size_t end = pos_ + 1;
    while (isDigit(end)) ++end;
    if (end < n && text_[end] == decSeparator_ && isDigit(end + 1)) {
      end += 2;
      while (isDigit(end)) ++end;
    }
    lexem_.assign(text_, pos_, end - pos_);
    pos_ = end;
    return LexNumber;
  }
  UnknownSymbol(c);
}

int TParser::GetNext(std::string& lexem) {
  int code = RawNext();
  if (code == LexIdent) {
    const std::string* tableText = nullptr;
    if (int keyword = traits_.keywords->Find(lexem_, &tableText)) {
      code = keyword;
      keywordLexem_ = true;
      if (uppercaseKeywords_) lexem_ = *tableText;
    }
  }
  lexem = lexem_;
  return code;
}

bool TParser::ToLexem(std::string_view symbol) {
  std::string wanted(symbol);
  for (char& c : wanted) c = static_cast<char>(AsciiUpper(static_cast<unsigned char>(c)));
  for (;;) {
    int code = RawNext();
    if (code == LexEnd) return false;
    bool comparable = code > 0 || code == LexSymbol ||
                      (code == LexIdent && !lexem_.empty() && !IsIdentQuote(static_cast<unsigned char>(lexem_[0])));
    if (comparable && CompareUpper(lexem_, wanted) == 0) return true;
  }
}

// --- TSQLParser --------------------------------------------------------------

TSQLParser::TSQLParser(std::string text) : TParser(std::move(text), SqlTraits()) {}

TSQLParser::TSQLParser(std::string text, const TParserTraits& traits) : TParser(std::move(text), traits) {}

std::unique_ptr<TParser> TSQLParser::Create(std::string text) { return std::make_unique<TSQLParser>(std::move(text)); }

size_t TSQLParser::LineCommentStart(size_t pos) const { return (CharIs(pos, '-') && CharIs(pos + 1, '-')) ? 2 : 0; }

const TLexemTable& TSQLParser::SqlSymbols() {
  static const TLexemTable table({{"*", 1}, {"=", 2}, {":", 3}, {",", 4}, {".", 5}, {"/", 6}, {";", 7}});
  return table;
}

const TLexemTable& TSQLParser::SqlKeywords() {
  static const TLexemTable table({
      {"ALL", 100},       {"AND", 101},       {"AS", 102},          {"BEGIN", 103},     {"BY", 104},
      {"COMMIT", 105},    {"DELETE", 106},    {"DISTINCT", 107},    {"END", 108},       {"EXECUTE", 109},
      {"FETCH", 110},     {"FOR", 111},       {"FROM", 112},        {"FULL", 113},      {"GROUP", 114},
      {"HAVING", 115},    {"INNER", 116},     {"INSERT", 117},      {"INTO", 119},      {"IS", 120},
      {"JOIN", 121},      {"LEFT", 122},      {"LIMIT", 123},       {"LOCK", 124},      {"MINUS", 125},
      {"NOT", 126},       {"OFFSET", 127},    {"ON", 128},          {"OR", 130},        {"ORDER", 131},
      {"OUTER", 132},     {"RELEASE", 133},   {"RETURNING", 134},   {"RIGHT", 135},     {"ROLLBACK", 136},
      {"SAVEPOINT", 137}, {"SELECT", 138},    {"SET", 139},         {"TO", 140},        {"TRANSACTION", 141},
      {"UNION", 142},     {"UPDATE", 143},    {"WHERE", 144},       {"WITH", 145},
  });
  return table;
}

const std::vector<int>& TSQLParser::ClauseCodes() {
  static const std::vector<int> codes{144, 114, 115, 142, 118, 125, 131};
  return codes;
}

}  // namespace da
