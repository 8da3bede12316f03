#pragma once
// The MySQL lexer: "'" and the double quote quote strings, the back quote
// quotes identifiers, "#" and "-- " start line comments, and a quote
// preceded by an odd number of backslashes does not end a string.

#include <memory>
#include <string>
#include <vector>

#include "driver/CRParser.h"

namespace da {

class TMyParser : public TSQLParser {
 public:
  explicit TMyParser(std::string text);
  static std::unique_ptr<TParser> Create(std::string text);

  // The SQL keywords and the MySQL ones.
  static const TLexemTable& MyKeywords();
  static const std::vector<int>& ClauseCodes();

 protected:
  size_t LineCommentStart(size_t pos) const override;
  size_t FindClosingQuote(size_t open) const override;
};

}  // namespace da
