#include "base/crypto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace downsql::base {
namespace {

std::vector<uint8_t> Hex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string ToHex(const uint8_t* p, size_t n) {
  static const char* kDigits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

TEST(Md5, Rfc1321TestSuite) {
  struct Case {
    const char* text;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) {
    Md5Digest d = Md5(c.text);
    EXPECT_EQ(ToHex(d.data(), d.size()), c.digest) << '"' << c.text << '"';
  }
}

// Eric Young's published Blowfish ECB vectors (8-byte keys). One block in
// CBC mode with a zero initial vector is exactly one ECB block.
TEST(BlowfishCbc, PublishedVectorsAsOneBlock) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
  } cases[] = {
      {"0000000000000000", "0000000000000000", "4ef997456198dd78"},
      {"ffffffffffffffff", "ffffffffffffffff", "51866fd5b85ecb8a"},
      {"3000000000000000", "1000000000000001", "7d856f9a613063f2"},
      {"1111111111111111", "1111111111111111", "2466dd878b963c9d"},
      {"0123456789abcdef", "1111111111111111", "61f9c3802281b096"},
      {"1111111111111111", "0123456789abcdef", "7d0cc630afda1ec7"},
      {"fedcba9876543210", "0123456789abcdef", "0aceab0fc6a0a28d"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> key = Hex(c.key), block = Hex(c.plain);
    BlowfishCbc bf(key.data(), key.size());
    bf.Encrypt(block.data(), block.size());
    EXPECT_EQ(ToHex(block.data(), 8), c.cipher) << c.key;
    bf.Decrypt(block.data(), block.size());
    EXPECT_EQ(ToHex(block.data(), 8), c.plain) << c.key;
  }
}

TEST(BlowfishCbc, ChainsBlocksFromZeroIvAndRestartsPerBuffer) {
  std::vector<uint8_t> key = Hex("0123456789abcdeffedcba9876543210");
  BlowfishCbc bf(key.data(), key.size());
  std::vector<uint8_t> plain = Hex("00112233445566778899aabbccddeeff");

  // Second block enciphers P2 xor C1: build it from two one-block calls.
  std::vector<uint8_t> c1(plain.begin(), plain.begin() + 8);
  bf.Encrypt(c1.data(), 8);
  std::vector<uint8_t> c2(8);
  for (int i = 0; i < 8; ++i) c2[i] = plain[8 + i] ^ c1[i];
  bf.Encrypt(c2.data(), 8);

  std::vector<uint8_t> both = plain;
  bf.Encrypt(both.data(), both.size());
  EXPECT_EQ(ToHex(both.data(), 16), ToHex(c1.data(), 8) + ToHex(c2.data(), 8));

  std::vector<uint8_t> again = plain;  // no chaining carried over from the last call
  bf.Encrypt(again.data(), again.size());
  EXPECT_EQ(again, both);
  bf.Decrypt(again.data(), again.size());
  EXPECT_EQ(again, plain);
}

TEST(BlowfishCbc, TailShorterThanABlockStaysPlain) {
  std::vector<uint8_t> key = Hex("00112233445566778899aabbccddeeff");
  BlowfishCbc bf(key.data(), key.size());
  for (size_t size : {size_t(0), size_t(5), size_t(13), size_t(23)}) {
    std::vector<uint8_t> plain(size);
    for (size_t i = 0; i < size; ++i) plain[i] = uint8_t(i * 7 + 1);
    std::vector<uint8_t> data = plain;
    bf.Encrypt(data.data(), data.size());
    size_t whole = size / 8 * 8;
    EXPECT_TRUE(std::equal(data.begin() + whole, data.end(), plain.begin() + whole)) << size;
    if (whole > 0) {
      EXPECT_NE(std::memcmp(data.data(), plain.data(), whole), 0) << size;
    }
    bf.Decrypt(data.data(), data.size());
    EXPECT_EQ(data, plain) << size;
  }
}

}  // namespace
}  // namespace downsql::base
