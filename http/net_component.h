// TNetComponent: the work and status events shared by the client's classes.
//
// A work phase of a mode (reading or writing) is opened by BeginWork, grows
// by DoWork and is closed by EndWork. Phases nest: only the outermost one
// fires OnWorkBegin and OnWorkEnd, and progress counts only while a phase is
// open. OnWork reports the running position of the phase, not the count.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace downsql::http {

enum TWorkMode { wmRead, wmWrite };

class TNetComponent;

using TWorkBeginEvent = std::function<void(TNetComponent& sender, TWorkMode mode, int64_t size)>;
using TWorkEvent = std::function<void(TNetComponent& sender, TWorkMode mode, int64_t position)>;
using TWorkEndEvent = std::function<void(TNetComponent& sender, TWorkMode mode)>;
using TStatusEvent = std::function<void(TNetComponent& sender, const std::string& text)>;

class TNetComponent {
 public:
  TNetComponent() = default;
  virtual ~TNetComponent() = default;
  TNetComponent(const TNetComponent&) = delete;
  TNetComponent& operator=(const TNetComponent&) = delete;

  void BeginWork(TWorkMode mode, int64_t size);
  void DoWork(TWorkMode mode, int64_t count);
  void EndWork(TWorkMode mode);
  void DoStatus(const std::string& text);

  int WorkLevel(TWorkMode mode) const { return work_[mode].level; }
  int64_t WorkSize(TWorkMode mode) const { return work_[mode].size; }
  int64_t WorkPosition(TWorkMode mode) const { return work_[mode].position; }

  TWorkBeginEvent OnWorkBegin;
  TWorkEvent OnWork;
  TWorkEndEvent OnWorkEnd;
  TStatusEvent OnStatus;

 private:
  struct WorkInfo {
    int level = 0;
    int64_t size = 0;
    int64_t position = 0;
  };
  WorkInfo work_[2];
};

}  // namespace downsql::http
