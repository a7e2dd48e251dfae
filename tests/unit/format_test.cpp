#include <gtest/gtest.h>

#include <string>

#include "common/format.h"

namespace kova::test {
namespace {

// Short messages are composed on the stack, long ones (a whole file line in
// a refusal, a long path) in a buffer of their own: both come out whole.
TEST(FormatTest, TextsOfEveryLengthComeOutWhole) {
  for (const size_t length : {0u, 1u, 254u, 255u, 256u, 257u, 4000u}) {
    const std::string text(length, 'x');
    EXPECT_EQ(Format("%s", text.c_str()), text) << length;
    EXPECT_EQ(Format("[%s]%d", text.c_str(), 7), "[" + text + "]7") << length;
  }
}

}  // namespace
}  // namespace kova::test
