// JsonRef's ownership: each handle gives back exactly the one reference it holds, on
// destruction and on being assigned over, and none when it was moved from or released.
// jansson's reference count is the witness.
#include <gtest/gtest.h>

#include <utility>

#include "base/json_ref.h"

namespace {

// The value's reference count, which jansson keeps in the value itself.
std::size_t references(const json_t* value) { return value->refcount; }

TEST(JsonRef, ShareTakesOneReferenceAndDestructionGivesItBack) {
  const JsonRef owner = JsonRef::adopt(json_array());
  {
    const JsonRef shared = JsonRef::share(owner.get());
    EXPECT_EQ(references(owner.get()), 2U);
  }
  EXPECT_EQ(references(owner.get()), 1U);
}

TEST(JsonRef, MoveAssignmentReleasesTheValueItHeld) {
  const JsonRef first = JsonRef::adopt(json_array());
  const JsonRef second = JsonRef::adopt(json_object());
  JsonRef holder = JsonRef::share(first.get());
  JsonRef incoming = JsonRef::share(second.get());
  ASSERT_EQ(references(first.get()), 2U);
  ASSERT_EQ(references(second.get()), 2U);

  holder = std::move(incoming);
  EXPECT_EQ(references(first.get()), 1U) << "the value held before was not given back";
  EXPECT_EQ(references(second.get()), 2U) << "the moved reference was taken or lost";
  EXPECT_EQ(holder.get(), second.get());
  EXPECT_FALSE(incoming);  // NOLINT(bugprone-use-after-move): emptiness is the point

  holder = JsonRef();
  EXPECT_EQ(references(second.get()), 1U);
}

TEST(JsonRef, MoveConstructionAndReleaseHandOverWithoutCounting) {
  JsonRef original = JsonRef::adopt(json_array());
  json_t* value = original.get();
  JsonRef moved(std::move(original));
  EXPECT_FALSE(original);  // NOLINT(bugprone-use-after-move): emptiness is the point
  EXPECT_EQ(references(value), 1U);
  json_t* released = moved.release();
  EXPECT_FALSE(moved);
  EXPECT_EQ(references(released), 1U);
  json_decref(released);
}

}  // namespace
