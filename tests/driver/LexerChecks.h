#pragma once
// Checks shared by the bounded random test and the libFuzzer entry: every
// lexer class walks any text to its end without leaving it, and the
// marker scan changes nothing but the markers.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "MarkerRecorder.h"
#include "driver/CRParser.h"
#include "driver/MyParser.h"
#include "driver/ParamMarkerScan.h"

namespace da::testutil {

// Empty when the lexer behaved; otherwise what went wrong.
inline std::string CheckLexerWalk(TParserClass parserClass, std::string_view text, bool omitBlank,
                                  bool omitComment, bool quoted) {
  std::unique_ptr<TParser> p = parserClass(std::string(text));
  p->SetOmitBlank(omitBlank);
  p->SetOmitComment(omitComment);
  p->SetQuotedString(quoted);
  std::string lexem;
  size_t last = 0;
  // Every lexem but the end consumes at least one character.
  for (size_t steps = 0; steps <= text.size() + 1; ++steps) {
    int code;
    try {
      code = p->GetNext(lexem);
    } catch (const EParserError&) {
      if (p->CurrPos() >= text.size()) return "an error at the end of the text";
      return {};  // a character that is not allowed: a clear error is the answer
    }
    if (p->CurrPos() > text.size()) return "the position left the text";
    if (p->LexemPos() + p->LexemLength() > text.size()) return "a lexem reaches past the text";
    if (code == LexEnd) return p->CurrPos() == text.size() ? std::string() : "the end before the end of the text";
    if (p->CurrPos() <= last) return "a lexem consumed nothing";
    last = p->CurrPos();
  }
  return "the lexer does not reach the end";
}

// Empty when the scan kept everything but the markers.
inline std::string CheckMarkerScan(std::string_view text) {
  MarkerRecorder rec;
  std::string final;
  try {
    final = MySqlParseSQL(text, rec);
  } catch (const EParserError&) {
    return {};
  }
  std::string problem = CheckOnlyMarkersChanged(text, final, rec);
  if (!problem.empty()) return problem;
  // Without a parameter list the text comes back unchanged.
  TParamMarkerScan copy(&TMyParser::Create, nullptr);
  copy.SetSkipTextWithoutColon(true);
  if (copy.ParseSQL(text) != text) return "the scan without a list changed the text";
  return {};
}

inline std::string CheckAll(std::string_view text) {
  const TParserClass classes[] = {&TParser::Create, &TSQLParser::Create, &TMyParser::Create};
  for (TParserClass c : classes)
    for (int mode = 0; mode < 8; ++mode) {
      std::string problem = CheckLexerWalk(c, text, mode & 1, mode & 2, mode & 4);
      if (!problem.empty()) return problem;
    }
  return CheckMarkerScan(text);
}

}  // namespace da::testutil
