#include "foundation/ptrlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace tarvixlib {
namespace {

struct Item {
  uint32_t key;
  int serial;
};

int CompareKey(const void* a, const void* b, void*) {
  uint32_t x = static_cast<const Item*>(a)->key, y = static_cast<const Item*>(b)->key;
  return x < y ? -1 : (x > y ? 1 : 0);
}

// Checks the links both ways and returns the data in order.
std::vector<Item*> Walk(const CMyPtrList& list) {
  std::vector<Item*> out;
  CMyPtrListNode* prev = nullptr;
  for (CMyPtrListNode* n = list.Head(); n; n = n->next) {
    EXPECT_EQ(n->prev, prev);
    out.push_back(static_cast<Item*>(n->data));
    prev = n;
  }
  EXPECT_EQ(list.Tail(), prev);
  EXPECT_EQ(out.size(), list.Count());
  return out;
}

TEST(PtrList, AddRemovePop) {
  Item a{1, 0}, b{2, 0}, c{3, 0};
  CMyPtrList list;
  list.AddTail(&b);
  list.AddHead(&a);
  CMyPtrListNode* nc = list.AddTail(&c);
  EXPECT_EQ(Walk(list), (std::vector<Item*>{&a, &b, &c}));
  EXPECT_EQ(list.RemoveNode(list.Head()->next), &b);
  EXPECT_EQ(Walk(list), (std::vector<Item*>{&a, &c}));
  EXPECT_EQ(list.RemoveNode(nc), &c);
  EXPECT_EQ(list.PopHead(), &a);
  EXPECT_EQ(list.PopHead(), nullptr);
  EXPECT_TRUE(list.IsEmpty());
}

TEST(PtrList, SortOrdersAscendingByKey) {
  for (size_t n : {0u, 1u, 2u, 3u, 17u, 1000u}) {
    std::mt19937 rng(static_cast<uint32_t>(n));
    std::vector<Item> items(n);
    CMyPtrList list;
    for (size_t i = 0; i < n; ++i) {
      items[i] = {static_cast<uint32_t>(rng() % 50), static_cast<int>(i)};  // many equal keys
      list.AddTail(&items[i]);
    }
    list.Sort(CompareKey, nullptr);
    std::vector<Item*> sorted = Walk(list);
    ASSERT_EQ(sorted.size(), n);
    std::vector<int> seen(n, 0);
    for (size_t i = 0; i < n; ++i) {
      if (i) {
        EXPECT_LE(sorted[i - 1]->key, sorted[i]->key) << "n=" << n << " i=" << i;
      }
      ++seen[sorted[i]->serial];
    }
    for (int s : seen) EXPECT_EQ(s, 1);
  }
}

// A comparator that answers at random neither loops the sort for ever nor
// reads outside the list (ASan watches); every item is still there exactly
// once, and a sane sort afterwards orders them.
TEST(PtrList, SortSurvivesAnInconsistentComparator) {
  std::vector<Item> items(200);
  for (size_t i = 0; i < items.size(); ++i) items[i] = {static_cast<uint32_t>(i % 37), static_cast<int>(i)};
  CMyPtrList list;
  for (auto& it : items) list.AddTail(&it);
  std::mt19937 rng(7);
  list.Sort([](const void*, const void*, void* ctx) {
    return static_cast<int>((*static_cast<std::mt19937*>(ctx))() % 3) - 1;
  }, &rng);
  std::vector<Item*> shuffled = Walk(list);
  ASSERT_EQ(shuffled.size(), items.size());
  std::vector<int> seen(items.size(), 0);
  for (Item* item : shuffled) {
    ASSERT_GE(item, &items.front());
    ASSERT_LE(item, &items.back());
    ++seen[static_cast<size_t>(item - items.data())];
  }
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], 1) << "item " << i;

  list.Sort(CompareKey, nullptr);
  std::vector<Item*> sorted = Walk(list);
  ASSERT_EQ(sorted.size(), items.size());
  for (size_t i = 1; i < sorted.size(); ++i) EXPECT_LE(sorted[i - 1]->key, sorted[i]->key) << i;
}

// Notes which objects were destroyed, so a list that deletes the wrong data
// (or some twice) shows.
struct Noted {
  static std::vector<int> destroyed;
  explicit Noted(int id) : id(id) {}
  ~Noted() { destroyed.push_back(id); }
  int id;
};
std::vector<int> Noted::destroyed;

TEST(PtrList, OwningListDeletesItsDataOnceAndBorrowedDataNever) {
  Noted::destroyed.clear();
  {
    CMyPtrListT<Noted> list(/*owned=*/true);
    for (int i = 1; i <= 5; ++i) list.AddTail(new Noted(i));
    Noted* popped = list.PopHeadT();
    EXPECT_TRUE(Noted::destroyed.empty()) << "popping hands the data out";
    delete popped;
    Noted::destroyed.clear();
  }
  std::sort(Noted::destroyed.begin(), Noted::destroyed.end());
  EXPECT_EQ(Noted::destroyed, (std::vector<int>{2, 3, 4, 5}));
  Noted::destroyed.clear();
  {
    Noted kept(9);
    {
      CMyPtrListT<Noted> borrowed;
      borrowed.AddTail(&kept);
    }
    EXPECT_TRUE(Noted::destroyed.empty()) << "a borrowing list deletes nothing";
  }
  EXPECT_EQ(Noted::destroyed, (std::vector<int>{9}));
}

}  // namespace
}  // namespace tarvixlib
