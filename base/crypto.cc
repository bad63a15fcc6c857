// MD5 and Blowfish-CBC through libgcrypt.
#include "base/crypto.h"

#include <gcrypt.h>

#include <cstring>
#include <mutex>
#include <stdexcept>

namespace downsql::base {
namespace {

// libgcrypt wants its version check before first use; doing it once per
// process is enough, and it is safe to repeat.
void EnsureGcrypt() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!gcry_check_version(nullptr)) throw std::runtime_error("libgcrypt is not usable");
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

gcry_cipher_hd_t Handle(void* h) { return static_cast<gcry_cipher_hd_t>(h); }

void Check(gcry_error_t err, const char* what) {
  if (err) throw std::runtime_error(std::string(what) + ": " + gcry_strerror(err));
}

// One MD5 context per thread, reset for each digest: opening and closing a
// context per digest (what gcry_md_hash_buffer does) costs more than the
// digest of a short record.
class Md5Context {
 public:
  Md5Context() {
    EnsureGcrypt();
    Check(gcry_md_open(&handle_, GCRY_MD_MD5, 0), "gcry_md_open");
  }
  ~Md5Context() { gcry_md_close(handle_); }
  Md5Context(const Md5Context&) = delete;
  Md5Context& operator=(const Md5Context&) = delete;

  Md5Digest Digest(const void* data, size_t size) {
    gcry_md_reset(handle_);
    gcry_md_write(handle_, data, size);
    Md5Digest digest;
    std::memcpy(digest.data(), gcry_md_read(handle_, GCRY_MD_MD5), digest.size());
    return digest;
  }

 private:
  gcry_md_hd_t handle_ = nullptr;
};

}  // namespace

Md5Digest Md5(const void* data, size_t size) {
  thread_local Md5Context context;
  return context.Digest(data, size);
}

BlowfishCbc::BlowfishCbc(const void* key, size_t key_size) : handle_(nullptr) {
  EnsureGcrypt();
  gcry_cipher_hd_t h;
  Check(gcry_cipher_open(&h, GCRY_CIPHER_BLOWFISH, GCRY_CIPHER_MODE_CBC, 0), "gcry_cipher_open");
  handle_ = h;
  gcry_error_t err = gcry_cipher_setkey(h, key, key_size);
  if (err) {
    gcry_cipher_close(h);
    Check(err, "gcry_cipher_setkey");
  }
}

BlowfishCbc::~BlowfishCbc() { gcry_cipher_close(Handle(handle_)); }

void BlowfishCbc::Encrypt(void* data, size_t size) const {
  size_t whole = size & ~size_t(7);
  if (whole == 0) return;
  static const uint8_t kZeroIv[8] = {};
  Check(gcry_cipher_setiv(Handle(handle_), kZeroIv, 8), "gcry_cipher_setiv");
  Check(gcry_cipher_encrypt(Handle(handle_), data, whole, nullptr, 0), "gcry_cipher_encrypt");
}

void BlowfishCbc::Decrypt(void* data, size_t size) const {
  size_t whole = size & ~size_t(7);
  if (whole == 0) return;
  static const uint8_t kZeroIv[8] = {};
  Check(gcry_cipher_setiv(Handle(handle_), kZeroIv, 8), "gcry_cipher_setiv");
  Check(gcry_cipher_decrypt(Handle(handle_), data, whole, nullptr, 0), "gcry_cipher_decrypt");
}

}  // namespace downsql::base
