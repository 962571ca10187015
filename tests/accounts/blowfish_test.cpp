#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accounts/blowfish.h"

namespace talvek::accounts {
namespace {

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

uint64_t Block(const std::string& hex) { return std::stoull(hex, nullptr, 16); }

uint64_t Encrypt(const std::vector<uint8_t>& key, uint64_t plain) {
  Blowfish cipher(key);
  uint32_t left = static_cast<uint32_t>(plain >> 32), right = static_cast<uint32_t>(plain);
  cipher.encryptBlock(left, right);
  uint64_t encrypted = (static_cast<uint64_t>(left) << 32) | right;
  cipher.decryptBlock(left, right);
  EXPECT_EQ((static_cast<uint64_t>(left) << 32) | right, plain);
  return encrypted;
}

struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// The published ECB test vectors.
constexpr Vector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
};

TEST(Blowfish, PublishedEcbVectors) {
  for (const auto& vector : kEcbVectors)
    EXPECT_EQ(Encrypt(Bytes(vector.key), Block(vector.plain)), Block(vector.cipher)) << vector.key;
}

// The published variable-key vectors: keys of 1 to 24 leading bytes of one key.
TEST(Blowfish, PublishedVariableKeyVectors) {
  const auto key = Bytes("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
  const char* expected[] = {
      "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05", "B39E44481BDB1E6E",
      "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82", "15750E7A4F4EC577", "122BA70B3AB64AE0",
      "3A833C9AFFC537F6", "9409DA87A90F6BF2", "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F",
      "93142887EE3BE15C", "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
      "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080"};
  for (size_t length = 1; length <= 24; ++length) {
    std::vector<uint8_t> prefix(key.begin(), key.begin() + static_cast<long>(length));
    EXPECT_EQ(Encrypt(prefix, Block("FEDCBA9876543210")), Block(expected[length - 1])) << "key length " << length;
  }
}

}  // namespace
}  // namespace talvek::accounts
