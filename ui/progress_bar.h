// A one-line progress bar on standard error, drawn only when standard error
// is a terminal:
//
//   writing draws [##############----------------]  47%  412345 / 876543
//
// redrawn in place when the shown percentage changes, and ended with a line
// break by Finish (or the destructor).
#pragma once

#include <cstdint>
#include <string>

namespace downsql::ui {

class TProgressBar {
 public:
  explicit TProgressBar(std::string label);
  ~TProgressBar();
  TProgressBar(const TProgressBar&) = delete;
  TProgressBar& operator=(const TProgressBar&) = delete;

  bool shown() const { return enabled_; }
  void Update(int64_t done, int64_t total);
  void Finish();

 private:
  std::string label_;
  bool enabled_;
  bool drawn_ = false;
  int last_percent_ = -1;
};

}  // namespace downsql::ui
