#pragma once
// The parameter-marker scan of the driver command: finds the markers
// (":name") of a statement text outside strings, quoted identifiers and
// comments, hands each to the command's parameter list and builds the
// final text with "?" in place of each marker. Everything else in the text
// (comments included) reaches the final text unchanged.

#include <cstddef>
#include <string>
#include <string_view>

#include "driver/CRParser.h"

namespace da {

// One marker as the scan found it.
struct TParamMarker {
  std::string name;         // the parameter's name (back quotes removed, keywords in upper case)
  size_t sourcePos = 0;     // 0-based index of the colon in the scanned text
  size_t sourceLength = 0;  // length of the marker in the scanned text, colon included
};

// The driver command's parameter list as the scan fills it.
class TParamMarkerList {
 public:
  virtual ~TParamMarkerList() = default;
  // Called once at the start of every scan.
  virtual void ClearParams() = 0;
  // One marker occurrence, in text order: the command appends a parameter
  // description with that name (AddParam).
  virtual void AddParam(const TParamMarker& marker) = 0;
  // Called right after AddParam with the 1-based position of the "?" that
  // replaced the marker in the final text. The MySQL command records it
  // (propAddParamPosition); others may ignore it.
  virtual void AddParamPosition(size_t position) { (void)position; }
};

class TParamMarkerScan {
 public:
  // `parserClass` is the command's lexer class. `params` is borrowed, must
  // outlive the scan and may be null: then markers are copied unchanged,
  // or replaced by the rename prefix and their name when one is given.
  TParamMarkerScan(TParserClass parserClass, TParamMarkerList* params);
  virtual ~TParamMarkerScan() = default;
  TParamMarkerScan(const TParamMarkerScan&) = delete;
  TParamMarkerScan& operator=(const TParamMarkerScan&) = delete;

  // The MySQL command's shortcut: a text without any ":" is not lexed at
  // all (the list is cleared and the text is its own final text).
  void SetSkipTextWithoutColon(bool value) { skipWithoutColon_ = value; }

  // Scans `sql` and answers the final text. Raises EParserError (from the
  // lexer) on a character that is not allowed outside strings and
  // comments; the list then holds the markers found before it.
  std::string ParseSQL(std::string_view sql, std::string_view renamePrefix = {});

  // One marker: `parser` stands right after the colon at `colonPos`.
  // Appends the replacement, or the text from the colon up to the parser's
  // new position unchanged when the colon starts no marker.
  virtual void ParseParamMarker(TParser& parser, size_t colonPos, std::string& out, std::string_view renamePrefix);

 private:
  TParserClass parserClass_;
  TParamMarkerList* params_;  // borrowed, may be null
  bool skipWithoutColon_ = false;
};

// The scan as the MySQL command runs it: TMyParser, the shortcut for texts
// without ":", and the "?" positions reported to `params`.
std::string MySqlParseSQL(std::string_view sql, TParamMarkerList& params);

}  // namespace da
