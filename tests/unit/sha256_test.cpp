#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/sha256.h"

namespace kova::test {
namespace {

struct DigestCase {
  std::string message;
  size_t piece;  // fed in pieces of this many bytes, to cross the blocks
  const char* digest;
};

// The standard's examples (empty, one block, two blocks of padding, the
// 896-bit message, a million 'a') and lengths at the padding's edges.
TEST(Sha256Test, TheStandardsVectorsAndThePaddingsEdges) {
  const DigestCase cases[] = {
      {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7,
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
       "opqrsmnopqrstnopqrstu",
       64, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(55, 'a'), 55,
       "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), 3, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), 64,
       "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(1000000, 'a'), 1000,
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {std::string(1000000, 'a'), 999,
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const DigestCase& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.message.data());
    EXPECT_EQ(Sha256Hex(bytes, c.message.size()), c.digest) << c.message.size() << " bytes";

    Sha256 pieces;
    for (size_t at = 0; at < c.message.size(); at += c.piece) {
      pieces.Update(bytes + at, std::min(c.piece, c.message.size() - at));
    }
    std::string hex;
    for (const uint8_t byte : pieces.Finish()) {
      static constexpr char kDigits[] = "0123456789abcdef";
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 0x0f];
    }
    EXPECT_EQ(hex, c.digest) << c.message.size() << " bytes in pieces of " << c.piece;
  }
}

}  // namespace
}  // namespace kova::test
