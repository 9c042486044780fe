#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace keyhound {

// The per-user secret that keys the result cache: 32 random bytes in
// `$XDG_CACHE_HOME/keyhound/secret` (or `~/.cache/keyhound/secret`), made on
// first use with mode 0600. Without it nobody, not a repository and not
// another user, can write an entry this user's runs accept.
using EntrySecret = std::array<uint8_t, 32>;

// Reads the secret, creating it when there is none. Refused (with the
// reason) when it is not a private regular file of this user.
std::expected<EntrySecret, std::string> load_entry_secret();

// The directory it lives in, from the environment; empty when neither
// XDG_CACHE_HOME nor HOME says.
std::string entry_secret_directory();

// BLAKE2b in its keyed mode, a MAC: `bytes` output bytes over the parts in
// order, each preceded by its length so that no two lists of parts give the
// same input.
class KeyedHash {
 public:
  explicit KeyedHash(const EntrySecret& secret);
  ~KeyedHash();
  KeyedHash(const KeyedHash&) = delete;
  KeyedHash& operator=(const KeyedHash&) = delete;

  void add(std::string_view part);
  std::string finish(std::size_t bytes);

 private:
  alignas(16) unsigned char state_[256];
};

}  // namespace keyhound
