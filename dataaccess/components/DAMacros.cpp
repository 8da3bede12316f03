#include "components/DAMacros.h"

#include "common/AnsiCase.h"
#include "common/DAErrors.h"
#include "common/Format.h"

namespace da {
namespace {

constexpr char kMacroChar = '&';

bool NamesMacro(int code, const TParser& parser) { return code == LexIdent || parser.IsKeywordLexem(); }

}  // namespace

void TMacro::SetValue(const std::string& value) {
  if (value_ == value) return;
  value_ = value;
  if (collection_) collection_->Changed(*this);
}

void TMacro::SetActive(bool active) {
  if (active_ == active) return;
  active_ = active;
  if (collection_) collection_->Changed(*this);
}

TMacros::TMacros(TComponent* owner) : owner_(owner), parserClass_(&TSQLParser::Create) {}

TMacro& TMacros::Add(const std::string& name) {
  items_.push_back(std::unique_ptr<TMacro>(new TMacro(this, name)));
  return *items_.back();
}

void TMacros::Clear() { items_.clear(); }

TMacro* TMacros::FindMacro(std::string_view name) const {
  for (const auto& m : items_)
    if (AnsiSameText(m->Name(), name)) return m.get();
  return nullptr;
}

TMacro& TMacros::MacroByName(std::string_view name) const {
  if (TMacro* m = FindMacro(name)) return *m;
  DatabaseError(Format("Macro %s not found", {name}), owner_);
}

void TMacros::Changed(TMacro& macro) {
  if (updateCount_ == 0 && OnMacroChanged) OnMacroChanged(macro);
}

std::unique_ptr<TParser> TMacros::NewParser(std::string_view sql) const {
  std::unique_ptr<TParser> parser = parserClass_(std::string(sql));
  parser->SetOmitBlank(false);
  parser->SetUppercaseKeywords(false);
  return parser;
}

bool TMacros::Scan(std::string_view sql) {
  if (sql.find(kMacroChar) == std::string_view::npos) {
    bool changed = !items_.empty();
    Clear();
    return changed;
  }

  struct Entry {
    std::string name, value;
    bool active = true;
  };
  std::vector<Entry> found;
  std::unique_ptr<TParser> parser = NewParser(sql);
  std::string lexem;
  for (int code = parser->GetNext(lexem); code != LexEnd; code = parser->GetNext(lexem)) {
    if (code != LexSymbol || lexem.size() != 1 || lexem[0] != kMacroChar) continue;
    code = parser->GetNext(lexem);
    if (code == LexEnd) break;
    if (!NamesMacro(code, *parser)) continue;
    bool seen = false;
    for (const Entry& e : found) seen = seen || AnsiSameText(e.name, lexem);
    if (seen) continue;
    Entry e{lexem, {}, true};
    if (const TMacro* old = FindMacro(lexem)) {
      e.value = old->Value();
      e.active = old->Active();
    }
    found.push_back(std::move(e));
  }

  bool differs = found.size() != items_.size();
  for (size_t i = 0; !differs && i < found.size(); ++i)
    differs = found[i].name != items_[i]->Name() || found[i].value != items_[i]->Value() ||
              found[i].active != items_[i]->Active();
  if (!differs) return false;

  // Macros that survive keep their object, so references to them stay good.
  std::vector<std::unique_ptr<TMacro>> next;
  for (Entry& e : found) {
    std::unique_ptr<TMacro> macro;
    for (auto& old : items_)
      if (old && AnsiSameText(old->Name(), e.name)) {
        macro = std::move(old);
        break;
      }
    if (!macro) macro.reset(new TMacro(this, e.name));
    macro->name_ = std::move(e.name);
    macro->value_ = std::move(e.value);
    macro->active_ = e.active;
    next.push_back(std::move(macro));
  }
  items_ = std::move(next);
  return true;
}

std::string TMacros::Expand(std::string_view sql) const {
  if (items_.empty() || sql.find(kMacroChar) == std::string_view::npos) return std::string(sql);
  std::unique_ptr<TParser> parser = NewParser(sql);
  parser->SetQuotedString(true);

  std::string out;
  out.reserve(sql.size());
  std::string lexem;
  size_t from = parser->CurrPos();
  for (int code = parser->GetNext(lexem); code != LexEnd; code = parser->GetNext(lexem)) {
    if (code == LexSymbol && lexem.size() == 1 && lexem[0] == kMacroChar) {
      code = parser->GetNext(lexem);
      if (code != LexEnd && NamesMacro(code, *parser)) {
        if (const TMacro* macro = FindMacro(lexem); macro && macro->Active()) out += macro->Value();
        from = parser->CurrPos();
        continue;
      }
    }
    // Everything else, an "&" with what follows it included, as written.
    out.append(sql, from, parser->CurrPos() - from);
    from = parser->CurrPos();
  }
  out.append(sql, from, std::string_view::npos);
  return out;
}

}  // namespace da
