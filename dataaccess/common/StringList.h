#pragma once
// A list of text lines with a change callback, as statement texts are kept:
// every change of the lines (setting the text, adding, deleting, clearing)
// reports once, so that the owner can rescan the text.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace da {

class TStringList {
 public:
  TStringList() = default;
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;

  int Count() const { return static_cast<int>(lines_.size()); }
  bool Empty() const { return lines_.empty(); }
  // REQUIRES: 0 <= index < Count().
  const std::string& operator[](int index) const { return lines_.at(static_cast<size_t>(index)); }
  const std::vector<std::string>& Lines() const { return lines_; }

  // The lines joined, each followed by CR LF (also the last one).
  std::string Text() const;
  // Splits at CR LF, LF or CR; a final line break adds no empty line.
  void SetText(std::string_view text);
  void Add(std::string line);
  void Insert(int index, std::string line);
  void Delete(int index);
  void Clear();
  // Copies the lines of `other` as one change.
  void Assign(const TStringList& other);

  // Changes between BeginUpdate and the matching EndUpdate report once, at
  // the EndUpdate (when anything changed).
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();

  // Called after every change (not while updating).
  std::function<void()> OnChange;

 private:
  void Changed();

  std::vector<std::string> lines_;
  int updateCount_ = 0;
  bool changedWhileUpdating_ = false;
};

}  // namespace da
