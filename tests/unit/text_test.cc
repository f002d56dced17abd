#include <gtest/gtest.h>

#include <string>

#include "shared/text.h"

namespace {

struct JoinCase {
  size_t firstLength, secondLength, capacity;
  int fits;
};

TEST(TextTest, JoinNeverPassesTheBuffer) {
  const JoinCase cases[] = {{3, 4, 8, 1}, {3, 5, 8, 0}, {0, 0, 1, 1}, {0, 1, 1, 0}, {259, 0, 260, 1}, {250, 10, 260, 0}};
  for (const JoinCase& c : cases) {
    std::string first(c.firstLength, 'a'), second(c.secondLength, 'b');
    std::string buffer(c.capacity + 1, '#');  // one guard byte past the end
    EXPECT_EQ(c.fits, JoinText(&buffer[0], c.capacity, first.c_str(), second.c_str()));
    EXPECT_EQ('#', buffer[c.capacity]);
    EXPECT_EQ(c.fits ? first + second : "", std::string(buffer.c_str()));
  }
}

TEST(TextTest, CopyBoundedTerminates) {
  char out[4];
  EXPECT_EQ(1, CopyBounded(out, sizeof out, "abcdef", 3));
  EXPECT_STREQ("abc", out);
  EXPECT_EQ(0, CopyBounded(out, sizeof out, "abcdef", 4));
  EXPECT_STREQ("", out);
  EXPECT_EQ(0, CopyBounded(out, 0, "a", 1));
}

}  // namespace
