// The rollback journal of a table's in-place writes.
#include "db/storage/table_journal.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>

#include "base/byte_order.h"
#include "db/storage/engine_error.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace downsql::storage {
namespace {

constexpr char kMagic[8] = {'T', 'B', 'J', 'R', 'N', 'L', '2', '\0'};
constexpr size_t kHeaderSize = 64;
constexpr size_t kHeaderChecked = 48;
constexpr size_t kOffRecordsStart = 40;
constexpr size_t kOffRecordsEnd = 56;
constexpr size_t kRecordHeaderSize = 24;
// A record longer than this is garbage, not an image.
constexpr uint32_t kMaxRecordLength = 1u << 30;
// Tries at opening a journal that another process is looking at (Armed
// holds it for a read of its header).
constexpr int kOpenTries = 500;
constexpr uint32_t kOpenPauseMs = 2;

uint32_t Crc(const uint8_t* data, size_t n, uint32_t crc = 0) {
  while (n > 0) {
    uInt part = uInt(std::min<size_t>(n, 1u << 30));
    crc = uint32_t(crc32(crc, data, part));
    data += part;
    n -= part;
  }
  return crc;
}

uint32_t NewSalt() {
  static std::atomic<uint32_t> serial{0};
  static const uint32_t seed = uint32_t(std::random_device{}());
  uint32_t salt = (uint32_t(platform::TickMs()) * 2654435761u) ^ (++serial * 40503u) ^ seed;
  return salt == 0 ? 1 : salt;
}

bool IsArmed(const uint8_t* header) {
  return std::memcmp(header, kMagic, sizeof kMagic) == 0 &&
         base::GetLE32(header + kHeaderChecked) == Crc(header, kHeaderChecked);
}

bool IsInUse(const ETabulaEngineError& e) { return e.code() == kErrAccessDenied; }

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

TTableJournal::TTableJournal(std::string path, platform::FileOpener* opener, Files files)
    : path_(std::move(path)), opener_(opener), files_(files), file_(path_, false) {
  file_.set_opener(opener);
  for (TEngineFile* f : files_)
    if (f) f->set_write_guard(this);
}

TTableJournal::~TTableJournal() {
  for (TEngineFile* f : files_)
    if (f) f->set_write_guard(nullptr);
  try {
    file_.Close();
  } catch (...) {
  }
}

int TTableJournal::IndexOf(const TEngineFile* file) const {
  for (size_t i = 0; i < kFileCount; ++i)
    if (files_[i] == file) return int(i);
  return -1;
}

bool TTableJournal::OpenUnshared(TEngineFile& journal) {
  for (int attempt = 1;; ++attempt) {
    try {
      journal.Open(/*read_only=*/false, /*exclusive=*/true);
      return true;
    } catch (const ETabulaEngineError& e) {
      if (e.code() == kErrFileNotFound) return false;
      if (!IsInUse(e)) throw;
      if (attempt >= kOpenTries) return false;
    }
    platform::SleepMs(kOpenPauseMs);
  }
}

bool TTableJournal::OpenFile(bool make) {
  if (file_.is_open()) return true;
  if (platform::FileExists(path_)) {
    if (OpenUnshared(file_)) return true;
    // Held elsewhere all along: Create below reports it.
  } else if (!make) {
    return false;
  }
  file_.Create(/*exclusive=*/true);
  // The journal must still be there after a power cut.
  try {
    if (opener_ != nullptr) {
      opener_->SyncDirectory(DirectoryOf(path_));
    } else {
      platform::SyncDirectory(DirectoryOf(path_));
    }
  } catch (const platform::OsError& e) {
    file_.RaiseOsError(e);
  }
  return true;
}

bool TTableJournal::Hold() {
  if (active_) return false;
  if (!OpenFile(/*make=*/false)) return false;
  held_ = true;
  return Restore();
}

bool TTableJournal::Restore() {
  restoring_ = true;
  try {
    const bool restored = Replay(file_, files_);
    if (restored) {
      Disarm(file_, kHeaderSize);
      file_.Flush();
    }
    restoring_ = false;
    return restored;
  } catch (...) {
    restoring_ = false;
    active_ = false;
    held_ = false;
    // The journal stays armed for whoever opens the table next.
    try {
      file_.Close();
    } catch (...) {
    }
    throw;
  }
}

void TTableJournal::Release() {
  held_ = false;
  if (active_) return;
  try {
    file_.Close();
  } catch (...) {
    // Closing a journal has nothing left to lose.
  }
}

void TTableJournal::Begin(bool durable) {
  if (active_) {
    // Records written so far are on the disk already (every Cover flushes
    // them); a durable batch also flushes its disarming.
    durable_ = durable_ || durable;
    return;
  }
  OpenFile(/*make=*/true);
  // Where the previous batch's records ended; an armed header here is a
  // dead writer's that nobody restored yet.
  uint8_t header[kHeaderSize] = {};
  size_t got = file_.ReadUpTo(0, header, sizeof header);
  if (got == sizeof header && IsArmed(header)) {
    // The write lock's Hold (or the opener) restores that before anything
    // is read; writing on top of it would build on a torn table.
    file_.Close();
    throw ETabulaEngineError(kErrAccessDenied, {path_});
  }
  uint64_t previous_end = got == sizeof header ? base::GetLE64(header + kOffRecordsEnd) : 0;
  if (previous_end < kHeaderSize || previous_end > file_.Size()) previous_end = kHeaderSize;
  start_ = previous_end;
  if (start_ > kRestartAt) {
    // The disarmed header reaches the disk before its records are
    // overwritten.
    file_.Flush();
    start_ = kHeaderSize;
  }
  for (size_t i = 0; i < kFileCount; ++i) {
    old_length_[i] = files_[i] ? files_[i]->Size() : kNoFile;
    imaged_[i].clear();
    unflushed_[i] = false;
  }
  salt_ = NewSalt();
  end_ = start_;
  header_written_ = false;
  durable_ = durable;
  active_ = true;
}
void TTableJournal::AppendImages(int index, uint64_t from, uint64_t to, std::vector<uint8_t>& out) {
  to = std::min(to, old_length_[size_t(index)]);
  if (from >= to) return;
  std::map<uint64_t, uint64_t>& done = imaged_[size_t(index)];
  // The parts of [from, to) not journaled yet.
  std::vector<std::pair<uint64_t, uint64_t>> missing;
  uint64_t at = from;
  auto it = done.upper_bound(from);
  if (it != done.begin()) --it;
  for (; it != done.end() && it->first < to; ++it) {
    if (it->second <= at) continue;
    if (it->first > at) missing.emplace_back(at, it->first);
    at = std::max(at, it->second);
  }
  if (at < to) missing.emplace_back(at, to);
  for (auto [a, b] : missing) {
    size_t n = size_t(b - a);
    size_t start = out.size();
    out.resize(start + kRecordHeaderSize + n);
    uint8_t* rec = out.data() + start;
    size_t got = files_[size_t(index)]->ReadUpTo(a, rec + kRecordHeaderSize, n);
    if (got < n) std::memset(rec + kRecordHeaderSize + got, 0, n - got);
    base::PutLE32(rec, salt_);
    rec[4] = uint8_t(index);
    rec[5] = rec[6] = rec[7] = 0;
    base::PutLE64(rec + 8, a);
    base::PutLE32(rec + 16, uint32_t(n));
    uint32_t crc = Crc(rec, 20);
    base::PutLE32(rec + 20, Crc(rec + kRecordHeaderSize, n, crc));
    // Merge into the journaled set.
    uint64_t lo = a, hi = b;
    auto next = done.lower_bound(lo);
    if (next != done.begin()) {
      auto prev = std::prev(next);
      if (prev->second >= lo) {
        lo = prev->first;
        hi = std::max(hi, prev->second);
        next = done.erase(prev);
      }
    }
    while (next != done.end() && next->first <= hi) {
      hi = std::max(hi, next->second);
      next = done.erase(next);
    }
    done.emplace(lo, hi);
  }
}

void TTableJournal::Cover(const std::vector<TRange>& ranges) {
  if (restoring_) return;
  if (!active()) Begin(false);
  std::vector<uint8_t>& out = scratch_;
  out.clear();
  for (const TRange& r : ranges) {
    int index = IndexOf(r.file);
    if (index < 0 || r.length == 0) continue;
    unflushed_[size_t(index)] = true;
    AppendImages(index, r.offset, r.offset + r.length, out);
  }
  if (header_written_ && out.empty()) return;
  if (!header_written_) {
    // The header goes with the first records (in one write when they
    // follow it) and is never rewritten during the batch.
    uint8_t header[kHeaderSize] = {};
    std::memcpy(header, kMagic, sizeof kMagic);
    base::PutLE32(header + 8, salt_);
    for (size_t i = 0; i < kFileCount; ++i) base::PutLE64(header + 16 + 8 * i, old_length_[i]);
    base::PutLE64(header + kOffRecordsStart, start_);
    base::PutLE32(header + kHeaderChecked, Crc(header, kHeaderChecked));
    if (start_ == kHeaderSize) {
      out.insert(out.begin(), header, header + kHeaderSize);
      file_.Write(0, out.data(), out.size());
      end_ += out.size() - kHeaderSize;
      out.clear();
    } else {
      file_.Write(0, header, kHeaderSize);
    }
    header_written_ = true;
  }
  if (!out.empty()) {
    file_.Write(end_, out.data(), out.size());
    end_ += out.size();
  }
  // Nothing changes in place before its before-image is on the disk.
  file_.Flush();
}

void TTableJournal::BeforeWrite(TEngineFile& file, uint64_t offset, uint64_t length) {
  if (restoring_) return;
  int index = IndexOf(&file);
  if (index < 0) return;
  // Most writes were covered ahead of time; only the rest costs a journal
  // write.
  if (active() && header_written_ && offset >= old_length_[size_t(index)]) {
    unflushed_[size_t(index)] = true;
    return;
  }
  Cover({{&file, offset, length}});
}

void TTableJournal::BeforeTruncate(TEngineFile& file, uint64_t size) {
  if (restoring_) return;
  int index = IndexOf(&file);
  if (index < 0) return;
  if (!active()) Begin(false);
  uint64_t old = old_length_[size_t(index)];
  Cover({{&file, size, old > size ? old - size : 0}});
  unflushed_[size_t(index)] = true;
}

void TTableJournal::AfterFlush(TEngineFile& file) {
  int index = IndexOf(&file);
  if (index >= 0) unflushed_[size_t(index)] = false;
}

void TTableJournal::FlushWrittenFiles() {
  for (size_t i = 0; i < kFileCount; ++i)
    if (files_[i] && unflushed_[i]) files_[i]->Flush();
}

void TTableJournal::Disarm(TEngineFile& journal, uint64_t records_end) {
  uint8_t header[kHeaderSize] = {};
  base::PutLE64(header + kOffRecordsEnd, records_end);
  journal.Write(0, header, sizeof header);
}

void TTableJournal::Finish() {
  active_ = false;
  if (!held_) file_.Close();
}

void TTableJournal::Commit() {
  if (!active()) return;
  if (header_written_) {
    // The table files reach the disk before the journal lets go of them.
    FlushWrittenFiles();
    // A flushed disarming frees the whole journal for the next batch.
    Disarm(file_, durable_ ? kHeaderSize : end_);
    if (durable_) file_.Flush();
  }
  Finish();
}

void TTableJournal::Rollback() {
  if (!active()) return;
  if (header_written_) Restore();
  Finish();
}

bool TTableJournal::Replay(TEngineFile& journal, const Files& files) {
  uint8_t header[kHeaderSize];
  if (journal.ReadUpTo(0, header, sizeof header) != sizeof header || !IsArmed(header)) return false;
  uint32_t salt = base::GetLE32(header + 8);
  uint64_t at = base::GetLE64(header + kOffRecordsStart);
  std::vector<uint8_t> image;
  for (;;) {
    uint8_t rec[kRecordHeaderSize];
    if (journal.ReadUpTo(at, rec, sizeof rec) != sizeof rec) break;
    uint32_t n = base::GetLE32(rec + 16);
    if (base::GetLE32(rec) != salt || rec[4] >= kFileCount || n > kMaxRecordLength) break;
    image.resize(n);
    if (journal.ReadUpTo(at + kRecordHeaderSize, image.data(), n) != n) break;
    if (Crc(image.data(), n, Crc(rec, 20)) != base::GetLE32(rec + 20)) break;
    if (TEngineFile* f = files[rec[4]]) f->Write(base::GetLE64(rec + 8), image.data(), n);
    at += kRecordHeaderSize + n;
  }
  for (size_t i = 0; i < kFileCount; ++i) {
    uint64_t old = base::GetLE64(header + 16 + 8 * i);
    if (!files[i] || old == kNoFile) continue;
    if (files[i]->Size() > old) files[i]->Truncate(old);
    files[i]->Flush();
  }
  return true;
}

bool TTableJournal::Armed(const std::string& path, platform::FileOpener* opener) {
  if (!platform::FileExists(path)) return false;
  TEngineFile journal(path, false);
  journal.set_opener(opener);
  try {
    journal.Open(/*read_only=*/true, /*exclusive=*/false);
  } catch (const ETabulaEngineError& e) {
    // Held by a live writer, or gone meanwhile.
    if (IsInUse(e) || e.code() == kErrFileNotFound) return false;
    throw;
  }
  uint8_t header[kHeaderSize];
  bool armed = journal.ReadUpTo(0, header, sizeof header) == sizeof header && IsArmed(header);
  journal.Close();
  return armed;
}

bool TTableJournal::Recover(const std::string& path, platform::FileOpener* opener,
                            const std::array<std::string, kFileCount>& file_names) {
  if (!platform::FileExists(path)) return false;
  TEngineFile journal(path, false);
  journal.set_opener(opener);
  if (!OpenUnshared(journal)) return false;
  uint8_t header[kHeaderSize];
  if (journal.ReadUpTo(0, header, sizeof header) != sizeof header || !IsArmed(header)) {
    journal.Close();
    return false;
  }
  std::array<std::unique_ptr<TEngineFile>, kFileCount> owned;
  Files files{};
  for (size_t i = 0; i < kFileCount; ++i) {
    if (file_names[i].empty() || !platform::FileExists(file_names[i])) continue;
    owned[i] = std::make_unique<TEngineFile>(file_names[i], false);
    owned[i]->set_opener(opener);
    owned[i]->Open(/*read_only=*/false, /*exclusive=*/false);
    files[i] = owned[i].get();
  }
  bool restored = Replay(journal, files);
  if (restored) {
    Disarm(journal, kHeaderSize);
    journal.Flush();
  }
  for (auto& f : owned)
    if (f) f->Close();
  journal.Close();
  return restored;
}

}  // namespace downsql::storage
