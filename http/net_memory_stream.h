// TNetMemoryStream: a growable byte store with a position, the destination
// of an answer's body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace downsql::http {

class TNetMemoryStream {
 public:
  int64_t Position() const { return position_; }
  // Moves the position; beyond the end the gap reads as zero bytes once
  // something is written there.
  void SetPosition(int64_t position) { position_ = position < 0 ? 0 : position; }
  int64_t Size() const { return static_cast<int64_t>(data_.size()); }
  // Grows with zero bytes or cuts; the position stays inside the new size.
  void SetSize(int64_t size);
  // Writes at the position and advances it, growing the store as needed.
  void Write(std::string_view bytes);
  // Makes room for size bytes without changing the size, so that writes up
  // to it do not move the bytes already stored.
  void Reserve(int64_t size);

  const std::string& Data() const { return data_; }
  // Hands the stored bytes over, leaving the stream empty.
  std::string TakeData();

 private:
  // Hints the system to back a store of many megabytes with large pages.
  void AdviseIfLarge();

  std::string data_;
  int64_t position_ = 0;
};

}  // namespace downsql::http
