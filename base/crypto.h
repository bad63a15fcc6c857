// MD5 digests and Blowfish-CBC encryption, through libgcrypt.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace downsql::base {

using Md5Digest = std::array<uint8_t, 16>;

// The MD5 digest (RFC 1321) of data.
Md5Digest Md5(const void* data, size_t size);
inline Md5Digest Md5(std::string_view text) { return Md5(text.data(), text.size()); }

// Blowfish in CBC mode with an all-zero initial vector; the chaining starts
// afresh for every buffer. Only whole 8-byte blocks are enciphered: a tail
// shorter than 8 bytes is left as it is.
class BlowfishCbc {
 public:
  // key: 1 to 56 bytes (the table engine uses a 16-byte MD5 digest).
  BlowfishCbc(const void* key, size_t key_size);
  ~BlowfishCbc();
  BlowfishCbc(const BlowfishCbc&) = delete;
  BlowfishCbc& operator=(const BlowfishCbc&) = delete;

  void Encrypt(void* data, size_t size) const;
  void Decrypt(void* data, size_t size) const;

 private:
  void* handle_;  // gcry_cipher_hd_t
};

}  // namespace downsql::base
