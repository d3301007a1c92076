#include "foundation/ptrlist.h"

#include <gtest/gtest.h>

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

TEST(PtrList, SortSurvivesAnInconsistentComparator) {
  std::vector<Item> items(200);
  CMyPtrList list;
  for (auto& it : items) list.AddTail(&it);
  std::mt19937 rng(7);
  list.Sort([](const void*, const void*, void* ctx) {
    return static_cast<int>((*static_cast<std::mt19937*>(ctx))() % 3) - 1;
  }, &rng);
  EXPECT_EQ(Walk(list).size(), 200u);
}

struct Counted {
  static int live;
  Counted() { ++live; }
  ~Counted() { --live; }
};
int Counted::live = 0;

TEST(PtrList, OwningListDeletesDataOnClear) {
  {
    CMyPtrListT<Counted> list(/*owned=*/true);
    for (int i = 0; i < 5; ++i) list.AddTail(new Counted);
    delete list.PopHeadT();
    EXPECT_EQ(Counted::live, 4);
  }
  EXPECT_EQ(Counted::live, 0);
  Counted kept;
  {
    CMyPtrListT<Counted> borrowed;
    borrowed.AddTail(&kept);
  }
  EXPECT_EQ(Counted::live, 1);
}

}  // namespace
}  // namespace tarvixlib
