#pragma once
// Macros of a command: "&name" in a statement text stands for the macro's
// value, substituted before the text reaches the driver. Macros are found
// with a lexer, so an "&" inside a string or a comment is left alone.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "driver/CRParser.h"

namespace da {

class TComponent;
class TMacros;

class TMacro {
 public:
  TMacro(const TMacro&) = delete;
  TMacro& operator=(const TMacro&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  // Setting Value or Active to another value tells the collection (see
  // TMacros::OnMacroChanged).
  const std::string& Value() const { return value_; }
  void SetValue(const std::string& value);
  bool Active() const { return active_; }
  void SetActive(bool active);

 private:
  friend class TMacros;
  TMacro(TMacros* collection, std::string name) : collection_(collection), name_(std::move(name)) {}

  TMacros* collection_;  // weak: the collection owns this macro
  std::string name_;
  std::string value_;
  bool active_ = true;
};

class TMacros {
 public:
  // `owner` (borrowed, may be null) is the component whose name prefixes
  // the errors; it must outlive the collection.
  explicit TMacros(TComponent* owner = nullptr);
  TMacros(const TMacros&) = delete;
  TMacros& operator=(const TMacros&) = delete;

  // The lexer class used to find macros (TSQLParser unless set).
  TParserClass ParserClass() const { return parserClass_; }
  void SetParserClass(TParserClass parserClass) { parserClass_ = parserClass; }

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count(). The reference lives until the macro
  // leaves the collection.
  TMacro& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
  TMacro& Add(const std::string& name);
  void Clear();

  // Names compare without regard to letter case. FindMacro answers null
  // when no macro has the name; MacroByName raises EDatabaseError
  // "Macro %s not found" (with the owner's name in front).
  TMacro* FindMacro(std::string_view name) const;
  TMacro& MacroByName(std::string_view name) const;

  // Rebuilds the list from the macros named in `sql`, in order of first
  // occurrence; a macro that was already there keeps its value, its
  // Active flag and its object. Answers true when the list changed.
  // Raises EParserError on a character the lexer does not allow.
  bool Scan(std::string_view sql);

  // `sql` with every "&name" replaced by the value of the macro of that
  // name (nothing when the macro is inactive or missing). Unchanged when
  // the list is empty or the text holds no "&".
  std::string Expand(std::string_view sql) const;

  // Within an update, value changes are not reported.
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate() {
    if (updateCount_ > 0) --updateCount_;
  }

  // Called when a macro's Value or Active changes outside an update: the
  // owning command re-runs its text-change handling.
  std::function<void(TMacro&)> OnMacroChanged;

 private:
  friend class TMacro;
  void Changed(TMacro& macro);
  std::unique_ptr<TParser> NewParser(std::string_view sql) const;

  TComponent* owner_;  // borrowed
  TParserClass parserClass_;
  std::vector<std::unique_ptr<TMacro>> items_;
  int updateCount_ = 0;
};

}  // namespace da
