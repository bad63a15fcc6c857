// Little- and big-endian reads and writes of unaligned integers.
//
// Table files store integers little-endian; index keys are big-endian so
// that a byte-wise comparison orders them.
#pragma once

#include <cstdint>
#include <cstring>

namespace downsql::base {

inline uint16_t GetLE16(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
inline uint32_t GetLE32(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}
inline uint64_t GetLE64(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return uint64_t(GetLE32(b)) | (uint64_t(GetLE32(b + 4)) << 32);
}
inline void PutLE16(void* p, uint16_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  b[0] = uint8_t(v);
  b[1] = uint8_t(v >> 8);
}
inline void PutLE32(void* p, uint32_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = uint8_t(v >> (8 * i));
}
inline void PutLE64(void* p, uint64_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 8; ++i) b[i] = uint8_t(v >> (8 * i));
}

inline uint16_t GetBE16(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}
inline uint32_t GetBE32(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}
inline uint64_t GetBE64(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return (uint64_t(GetBE32(b)) << 32) | uint64_t(GetBE32(b + 4));
}
inline void PutBE16(void* p, uint16_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  b[0] = uint8_t(v >> 8);
  b[1] = uint8_t(v);
}
inline void PutBE32(void* p, uint32_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = uint8_t(v >> (24 - 8 * i));
}
inline void PutBE64(void* p, uint64_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 8; ++i) b[i] = uint8_t(v >> (56 - 8 * i));
}

// IEEE doubles travel as their 64-bit pattern.
inline double GetLEDouble(const void* p) {
  uint64_t bits = GetLE64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline void PutLEDouble(void* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  PutLE64(p, bits);
}

}  // namespace downsql::base
