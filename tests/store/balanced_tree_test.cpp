#include "store/balanced_tree.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "platform/utf16.h"

namespace mirel {
namespace {

int ByNumber(int a, int b) { return a < b ? -1 : (a > b ? 1 : 0); }

template <class T>
int Height(const typename BalancedTree<T>::TreeNode* node) {
  if (node == nullptr) return 0;
  int g = Height<T>(node->greater), s = Height<T>(node->smaller);
  EXPECT_EQ(node->balance, g - s);
  EXPECT_LE(std::abs(g - s), 1);
  return 1 + std::max(g, s);
}

TEST(BalancedTreeTest, RandomInsertionsKeepTheTreeBalancedAndOrdered) {
  // Every kind of rotation, many times over: the heights and balances
  // stay right and the walk stays in order.
  BalancedTree<int> big;
  std::mt19937 random(7);
  std::set<int> reference;
  for (int k = 0; k < 20000; ++k) {
    int v = static_cast<int>(random() % 5000);
    EXPECT_EQ(big.Insert(v, ByNumber), reference.insert(v).second);
  }
  Height<int>(big.root());
  std::vector<int> walked;
  EXPECT_EQ(big.Walk([&](int v) {
    walked.push_back(v);
    return v % 2 == 0;
  }),
            static_cast<size_t>(std::count_if(reference.begin(), reference.end(),
                                              [](int v) { return v % 2 == 0; })));
  EXPECT_EQ(walked, std::vector<int>(reference.begin(), reference.end()));
  EXPECT_NE(big.Find(42, ByNumber), nullptr);
  EXPECT_EQ(big.Find(5001, ByNumber), nullptr);
}

TEST(BalancedTreeTest, EqualPayloadsAreKeptOnceUnlessTheComparisonBreaksTies) {
  BalancedTree<std::u16string_view> words;
  auto units = [](std::u16string_view a, std::u16string_view b) { return CompareUnits(a, b); };
  EXPECT_TRUE(words.Insert(u"词", units));
  EXPECT_FALSE(words.Insert(u"词", units));
  EXPECT_EQ(words.Walk([](auto) { return true; }), 1u);
  EXPECT_EQ(BalancedTree<int>().Walk([](int) { return true; }), 0u);

  struct Item {
    int key;
    int order;
  };
  BalancedTree<Item> keepAll;
  auto tieByOrder = [](const Item& a, const Item& b) {
    return a.key != b.key ? ByNumber(a.key, b.key) : ByNumber(a.order, b.order);
  };
  for (int k = 0; k < 5; ++k) EXPECT_TRUE(keepAll.Insert(Item{1, 5 - k}, tieByOrder));
  std::vector<int> orders;
  keepAll.Walk([&](const Item& i) {
    orders.push_back(i.order);
    return true;
  });
  EXPECT_EQ(orders, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_LT(CompareUnits(u"a", u"ab"), 0);
  EXPECT_GT(CompareUnits(u"\xFF00", u"a"), 0);
}

}  // namespace
}  // namespace mirel
