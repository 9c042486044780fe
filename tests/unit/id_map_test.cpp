#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/id_map.hpp"
#include "rules/risk.hpp"

namespace keyhound {
namespace {

const void* address(uintptr_t value) { return reinterpret_cast<const void*>(value); }

// Node ids as a parse gives them: close together and aligned, or scattered.
std::vector<const void*> ids_of(const std::string& layout, std::size_t count) {
  std::vector<const void*> ids;
  std::mt19937_64 random(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (layout == "packed") ids.push_back(address(0x7f0000001000 + 32 * i));
    if (layout == "strided") ids.push_back(address(0x7f0000001000 + 4096 * i));
    if (layout == "scattered") ids.push_back(address((random() | 1) & ~uintptr_t{7}));
  }
  return ids;
}

class IdMapTest : public ::testing::TestWithParam<std::string> {};

TEST_P(IdMapTest, HoldsWhatAnOrderedMapHoldsThroughEveryGrowth) {
  for (std::size_t count : {1u, 12u, 13u, 100u, 5000u}) {
    std::vector<const void*> ids = ids_of(GetParam(), count);
    IdMap<std::size_t> map;
    std::map<const void*, std::size_t> expected;
    std::mt19937 random(static_cast<unsigned>(count));
    // Each id is added twice in a shuffled order: the second adds nothing.
    std::vector<const void*> order = ids;
    order.insert(order.end(), ids.begin(), ids.end());
    std::shuffle(order.begin(), order.end(), random);
    for (std::size_t i = 0; i < order.size(); ++i) {
      auto [at, added] = map.try_emplace(order[i], i);
      auto [was, added_too] = expected.try_emplace(order[i], i);
      ASSERT_EQ(added, added_too) << count;
      ASSERT_EQ(at->first, order[i]);
      ASSERT_EQ(at->second, was->second);
    }
    ASSERT_EQ(map.size(), expected.size());
    for (const void* id : ids) {
      auto found = map.find(id);
      ASSERT_NE(found, map.end());
      EXPECT_EQ(found->second, expected[id]);
    }
    // Ids near the held ones, and null, are not there.
    for (const void* id : ids) {
      const void* beside = address(reinterpret_cast<uintptr_t>(id) + 8);
      EXPECT_EQ(map.contains(beside), expected.contains(beside));
    }
    EXPECT_FALSE(map.contains(nullptr));
    std::map<const void*, std::size_t> iterated(map.begin(), map.end());
    EXPECT_EQ(iterated, expected);
    // A set of the same ids says each is new once, and holds them all.
    IdSet set;
    for (const void* id : order) set.insert(id);
    EXPECT_EQ(std::set<const void*>(set.begin(), set.end()),
              std::set<const void*>(ids.begin(), ids.end()));
    EXPECT_FALSE(set.insert(ids[0]).second);
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, IdMapTest, ::testing::Values("packed", "strided", "scattered"));

TEST(IdMapTest, ValuesStayWithTheirKeysWhenTheTableGrowsAndMoves) {
  IdMap<std::string> map;
  map.reserve(3);
  std::vector<const void*> ids = ids_of("packed", 300);
  for (std::size_t i = 0; i < ids.size(); ++i) map[ids[i]] = "value " + std::to_string(i);
  IdMap<std::string> moved = std::move(map);
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(map.find(ids[0]), map.end());
  for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(moved[ids[i]], "value " + std::to_string(i));
  EXPECT_EQ(moved.size(), ids.size());
}

TEST(IdMapTest, ANullKeyIsRefused) {
  IdMap<int> map;
  EXPECT_THROW(map.try_emplace(nullptr, 1), InternalFault);
  IdSet set;
  EXPECT_THROW(set.insert(nullptr), InternalFault);
}

TEST(RiskReasonTest, AMadeReasonOutlivesTheTextItWasMadeFrom) {
  RiskReason copy;
  {
    std::string text = "key 'name' from a parameter, long enough to leave the string's own buffer";
    RiskReason reason(text);
    text.assign(text.size(), 'x');
    copy = reason;
  }
  EXPECT_EQ(copy.view(), "key 'name' from a parameter, long enough to leave the string's own buffer");
  EXPECT_EQ(RiskReason("a computed key"), RiskReason(std::string("a computed key")));
  EXPECT_NE(RiskReason("a computed key"), RiskReason("a constant key"));
  EXPECT_TRUE(RiskReason().empty());
}

}  // namespace
}  // namespace keyhound
