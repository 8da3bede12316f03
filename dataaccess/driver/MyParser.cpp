#include "driver/MyParser.h"

namespace da {
namespace {

const TParserTraits& MyTraits() {
  static const TCharClasses classes = [] {
    TCharClasses cc = CommonCharClasses();
    cc.flags['\''] |= TCharClasses::StringQuote;
    cc.flags['"'] |= TCharClasses::StringQuote;
    cc.flags['`'] |= TCharClasses::IdentQuote;
    return cc;
  }();
  static const TParserTraits traits{&classes, &TSQLParser::SqlSymbols(), &TMyParser::MyKeywords()};
  return traits;
}

}  // namespace

TMyParser::TMyParser(std::string text) : TSQLParser(std::move(text), MyTraits()) {}

std::unique_ptr<TParser> TMyParser::Create(std::string text) { return std::make_unique<TMyParser>(std::move(text)); }

size_t TMyParser::LineCommentStart(size_t pos) const {
  if (CharIs(pos, '#')) return 1;
  if (CharIs(pos, '-') && CharIs(pos + 1, '-') && CharIs(pos + 2, ' ')) return 3;
  return 0;
}

// The next same quote ends the run unless an odd number of backslashes
// stands right before it (counted back to the opening quote, no further).
// A doubled quote therefore ends the run at its first half.
size_t TMyParser::FindClosingQuote(size_t open) const {
  const std::string& text = Text();
  const char quote = text[open];
  size_t from = open + 1;
  for (;;) {
    size_t q = text.find(quote, from);
    if (q == std::string::npos) return q;
    size_t backslashes = 0;
    while (q - backslashes > open + 1 && text[q - backslashes - 1] == '\\') ++backslashes;
    if (backslashes % 2 == 0) return q;
    from = q + 1;
  }
}

const TLexemTable& TMyParser::MyKeywords() {
  static const TLexemTable table(TSQLParser::SqlKeywords(),
                                 {
                                     {"CHARSET", 1000},     {"COLUMNS", 1001},     {"CREATE", 1002},
                                     {"CROSS", 1003},       {"DELIMITER", 1004},   {"DESC", 1005},
                                     {"DESCRIBE", 1006},    {"EXPLAIN", 1007},     {"FORCE", 1008},
                                     {"FUNCTION", 1009},    {"IGNORE", 1010},      {"NATURAL", 1011},
                                     {"PRIVILEGES", 1012},  {"PROCEDURE", 1013},   {"REPLACE", 1014},
                                     {"SHOW", 1015},        {"SLAVE", 1016},       {"STATUS", 1017},
                                     {"STRAIGHT_JOIN", 1018}, {"TRIGGER", 1019},   {"USE", 1020},
                                     {"HANDLER", 1021},     {"DISTINCTROW", 1022}, {"ENGINES", 1023},
                                     {"PROCESSLIST", 1024},
                                 });
  return table;
}

const std::vector<int>& TMyParser::ClauseCodes() {
  static const std::vector<int> codes{144, 114, 115, 131, 123, 1013, 111, 124};
  return codes;
}

}  // namespace da
