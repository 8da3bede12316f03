#pragma once
// A parameter list for the marker-scan tests: records what the scan hands
// over, and checks that the final text differs from the input only at the
// markers.

#include <string>
#include <string_view>
#include <vector>

#include "driver/ParamMarkerScan.h"

namespace da::testutil {

struct MarkerRecorder : TParamMarkerList {
  std::vector<TParamMarker> markers;
  std::vector<size_t> positions;
  int clears = 0;

  void ClearParams() override {
    ++clears;
    markers.clear();
    positions.clear();
  }
  void AddParam(const TParamMarker& marker) override { markers.push_back(marker); }
  void AddParamPosition(size_t position) override { positions.push_back(position); }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& m : markers) names.push_back(m.name);
    return names;
  }
};

// Empty when `final` cut at the recorded "?" positions gives back `input`
// cut at the recorded marker spans; otherwise what differs.
inline std::string CheckOnlyMarkersChanged(std::string_view input, std::string_view final,
                                           const MarkerRecorder& rec) {
  if (rec.markers.size() != rec.positions.size()) return "markers and positions differ in number";
  size_t in = 0, out = 0;
  for (size_t i = 0; i < rec.markers.size(); ++i) {
    const TParamMarker& m = rec.markers[i];
    size_t pos = rec.positions[i];
    if (m.sourcePos < in || m.sourcePos + m.sourceLength > input.size() || m.sourceLength == 0)
      return "marker " + std::to_string(i) + " lies outside the text or out of order";
    if (input[m.sourcePos] != ':') return "marker " + std::to_string(i) + " does not start at a colon";
    if (pos == 0 || pos - 1 < out || pos > final.size() || final[pos - 1] != '?')
      return "position " + std::to_string(i) + " is not a '?' of the final text";
    if (input.substr(in, m.sourcePos - in) != final.substr(out, pos - 1 - out))
      return "the text before marker " + std::to_string(i) + " changed";
    in = m.sourcePos + m.sourceLength;
    out = pos;
  }
  if (input.substr(in) != final.substr(out)) return "the text after the last marker changed";
  return {};
}

}  // namespace da::testutil
