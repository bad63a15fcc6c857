#include "db/access/data_session.h"

#include <algorithm>

#include "db/access/data_engine.h"
#include "db/access/names.h"
#include "platform/file.h"

namespace downsql::access {

TDataPassword::TDataPassword(std::string password)
    : text(password.substr(0, kMaxNameLength)), digest(base::Md5(text)) {
  std::copy(digest.begin(), digest.end(), check.begin());
  base::BlowfishCbc(digest.data(), digest.size()).Encrypt(check.data(), check.size());
}

TDataSession::TDataSession(TDataEngine& engine, std::string name)
    : engine_(engine), name_(name.substr(0, kMaxNameLength)) {}

TDataSession::~TDataSession() {
  while (!directories_.empty()) directories_.pop_back();
}

void TDataSession::set_private_dir(const std::string& dir) {
  std::string d = NormalizeName(Trim(dir));
  private_dir_ = WithTrailingBackslash(d);
}

std::string TDataSession::PrivateDirectory() const {
  if (!private_dir_.empty()) return private_dir_;
  return WithTrailingBackslash(NormalizeName(platform::CurrentDirectory()));
}

TDataDirectory& TDataSession::OpenDirectory(const std::string& name, const std::string& path,
                                            bool keep_tables_open) {
  bool memory = IsMemoryName(name);
  std::string lookup = WithTrailingBackslash(NormalizeName(path));
  if (lookup.empty() && !memory)
    lookup = WithTrailingBackslash(NormalizeName(platform::CurrentDirectory()));
  if (lookup.size() > kMaxNameLength) {  // the backslash stays within the limit
    lookup.resize(kMaxNameLength - 1);
    lookup += '\\';
  }
  for (auto& d : directories_) {
    if (d->in_memory() == memory && SamePath(d->path(), lookup)) {
      ++d->ref_count_;
      return *d;
    }
  }
  directories_.push_back(
      std::make_unique<TDataDirectory>(*this, name, lookup, memory, keep_tables_open));
  return *directories_.back();
}

void TDataSession::ReleaseDirectory(TDataDirectory& directory) {
  if (--directory.ref_count_ > 0) return;
  auto it = std::find_if(directories_.begin(), directories_.end(),
                         [&](const auto& d) { return d.get() == &directory; });
  if (it != directories_.end()) directories_.erase(it);
}

void TDataSession::RememberPassword(const std::string& text) {
  if (text.empty()) return;
  for (const auto& p : passwords_)
    if (p.text == text) return;
  passwords_.emplace_back(text);
}

void TDataSession::ForgetPassword(const std::string& text) {
  std::erase_if(passwords_, [&](const TDataPassword& p) { return p.text == text; });
}

}  // namespace downsql::access
