#include "driver/ParamMarkerScan.h"

#include "driver/MyParser.h"

namespace da {

TParamMarkerScan::TParamMarkerScan(TParserClass parserClass, TParamMarkerList* params)
    : parserClass_(parserClass), params_(params) {}

std::string TParamMarkerScan::ParseSQL(std::string_view sql, std::string_view renamePrefix) {
  if (params_) params_->ClearParams();
  if (skipWithoutColon_ && sql.find(':') == std::string_view::npos) return std::string(sql);

  std::unique_ptr<TParser> parser = parserClass_(std::string(sql));
  parser->SetOmitBlank(false);
  parser->SetOmitComment(true);
  parser->SetQuotedString(true);
  parser->SetDecSeparator('.');

  std::string out;
  out.reserve(sql.size() + sql.size() / 2);
  size_t chunkStart = parser->CurrPos();
  while (parser->ToLexem(":")) {
    size_t colonPos = parser->LexemPos();
    out.append(sql, chunkStart, colonPos - chunkStart);
    ParseParamMarker(*parser, colonPos, out, renamePrefix);
    chunkStart = parser->CurrPos();
  }
  out.append(sql, chunkStart, std::string_view::npos);
  return out;
}

void TParamMarkerScan::ParseParamMarker(TParser& parser, size_t colonPos, std::string& out,
                                        std::string_view renamePrefix) {
  std::string lexem;
  std::string name;
  int code = parser.GetNext(lexem);
  if (code == LexSymbol && lexem == "@") {
    name = "@";
    code = parser.GetNext(lexem);
  }
  const std::string_view text = parser.Text();
  const size_t end = parser.CurrPos();
  const bool isMarker = code == LexIdent || code == LexNumber || parser.IsKeywordLexem();
  if (!isMarker) {
    out.append(text, colonPos, end - colonPos);
    return;
  }

  if (name.empty() && lexem.size() >= 2 && parser.IsIdentQuote(static_cast<unsigned char>(lexem.front())) &&
      lexem.back() == lexem.front())
    name.assign(lexem, 1, lexem.size() - 2);
  else
    name += lexem;

  if (params_) {
    params_->AddParam(TParamMarker{name, colonPos, end - colonPos});
    out += '?';
    params_->AddParamPosition(out.size());
  } else if (!renamePrefix.empty()) {
    out += renamePrefix;
    out += name;
  } else {
    out.append(text, colonPos, end - colonPos);
  }
}

std::string MySqlParseSQL(std::string_view sql, TParamMarkerList& params) {
  TParamMarkerScan scan(&TMyParser::Create, &params);
  scan.SetSkipTextWithoutColon(true);
  return scan.ParseSQL(sql);
}

}  // namespace da
