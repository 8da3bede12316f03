#include "common/StringList.h"

namespace da {

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  lines_ = std::move(lines);
  Changed();
}

void TStringList::Add(std::string line) {
  lines_.push_back(std::move(line));
  Changed();
}

void TStringList::Insert(int index, std::string line) {
  if (index < 0 || index > Count()) index = Count();
  lines_.insert(lines_.begin() + index, std::move(line));
  Changed();
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  lines_.erase(lines_.begin() + index);
  Changed();
}

void TStringList::Clear() {
  lines_.clear();
  Changed();
}

void TStringList::Assign(const TStringList& other) {
  if (&other == this) return;
  lines_ = other.lines_;
  Changed();
}

void TStringList::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ == 0 && changedWhileUpdating_) {
    changedWhileUpdating_ = false;
    if (OnChange) OnChange();
  }
}

void TStringList::Changed() {
  if (updateCount_ > 0) {
    changedWhileUpdating_ = true;
    return;
  }
  if (OnChange) OnChange();
}

}  // namespace da
