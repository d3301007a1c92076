#include "foundation/hashtable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/textconv.h"

namespace tarvixlib {
namespace {

std::vector<std::string> VisitKeys(const CMyHashTable& t) {
  std::vector<std::string> keys;
  for (CMyHashEntry* e = t.First(); e; e = t.Next(e)) keys.push_back(e->KeyText());
  return keys;
}

TEST(HashTable, BucketCountIsLargestPowerOfTwoWithinLimits) {
  struct Case { uint32_t request, buckets; } cases[] = {
      {0, 16}, {10, 16}, {16, 16}, {31, 16}, {32, 32}, {1000, 512}, {1024, 1024},
      {0x2000000, 0x2000000}, {0xFFFFFFFFu, 0x2000000},
  };
  for (const Case& c : cases) {
    CMyHashTable t;
    ASSERT_TRUE(t.Init(c.request));
    EXPECT_EQ(t.BucketCount(), c.buckets) << "request " << c.request;
  }
}

TEST(HashTable, MimeHeadersVisitInBucketOrder) {
  CMyHashTable t;
  ASSERT_TRUE(t.Init(1024, /*exactCase=*/false));
  int a = 1, b = 2;
  ASSERT_TRUE(t.Put("Content-Type", &a, 0));
  ASSERT_TRUE(t.Put("Content-Transfer-Encoding", &b, 0));
  EXPECT_EQ(t.BucketOf("Content-Transfer-Encoding"), 250u);
  EXPECT_EQ(t.BucketOf("Content-Type"), 982u);
  EXPECT_EQ(VisitKeys(t), (std::vector<std::string>{"Content-Transfer-Encoding", "Content-Type"}));
  // Lookups ignore case, with the same folding as the hash.
  CMyHashEntry* e = t.Lookup("CONTENT-type");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Value(), &a);
}

TEST(HashTable, LatinOneLettersFoldInCaseInsensitiveTables) {
  CMyHashTable t;
  ASSERT_TRUE(t.Init(16, false));
  int v = 0;
  ASSERT_TRUE(t.Put("caf\xE9", &v, 0));
  EXPECT_NE(t.Lookup("CAF\xC9"), nullptr);
  CMyHashTable exact;
  ASSERT_TRUE(exact.Init(16, true));
  ASSERT_TRUE(exact.Put("caf\xE9", &v, 0));
  EXPECT_EQ(exact.Lookup("CAF\xC9"), nullptr);
  EXPECT_EQ(exact.Lookup("Caf\xE9"), nullptr);
  EXPECT_NE(exact.Lookup("caf\xE9"), nullptr);
}

// Finds two distinct text keys that share a bucket of a 16-bucket table.
std::pair<std::string, std::string> TwoKeysOfOneBucket() {
  for (int i = 0; i < 100; ++i)
    for (int j = i + 1; j < 100; ++j) {
      std::string a = "key" + std::to_string(i), b = "key" + std::to_string(j);
      if ((HashName(a.c_str()) & 15) == (HashName(b.c_str()) & 15)) return {a, b};
    }
  return {};
}

TEST(HashTable, ChainVisitsNewestFirstAndSameSizeSetKeepsPlace) {
  auto [k1, k2] = TwoKeysOfOneBucket();
  ASSERT_FALSE(k1.empty());
  CMyHashTable t;
  ASSERT_TRUE(t.Init(16));
  uint32_t v1 = 1, v2 = 2, v3 = 3;
  ASSERT_TRUE(t.Put(k1.c_str(), &v1, 4));
  ASSERT_TRUE(t.Put(k2.c_str(), &v2, 4));
  EXPECT_EQ(VisitKeys(t), (std::vector<std::string>{k2, k1}));

  // Same size: overwritten in place, position kept.
  ASSERT_TRUE(t.Put(k1.c_str(), &v3, 4));
  EXPECT_EQ(VisitKeys(t), (std::vector<std::string>{k2, k1}));
  uint32_t got = 0;
  std::memcpy(&got, t.Lookup(k1.c_str())->Value(), 4);
  EXPECT_EQ(got, 3u);

  // Larger value: the entry is replaced and moves to the head of its chain.
  uint64_t big = 0x1122334455667788ull;
  ASSERT_TRUE(t.Put(k1.c_str(), &big, 8));
  EXPECT_EQ(VisitKeys(t), (std::vector<std::string>{k1, k2}));
  EXPECT_EQ(t.Count(), 2u);
}

TEST(HashTable, NextContinuesWithTheFollowingNonEmptyBucket) {
  CMyHashTable t;
  ASSERT_TRUE(t.Init(16, true, -1, 4));
  for (uint32_t key : {9u, 2u, 18u, 15u}) ASSERT_TRUE(t.Put(&key, nullptr, 0));
  std::vector<uint32_t> order;
  for (CMyHashEntry* e = t.First(); e; e = t.Next(e)) {
    uint32_t k;
    std::memcpy(&k, e->KeyBytes(), 4);
    order.push_back(k);
  }
  // Buckets 2 (18 newest, then 2), 9, 15.
  EXPECT_EQ(order, (std::vector<uint32_t>{18, 2, 9, 15}));
}

TEST(HashTable, OptionsAndLimits) {
  int a = 1, b = 2, c = 3;
  {
    CMyHashTable t;
    ASSERT_TRUE(t.Init(16, true, /*maxEntries=*/2));
    ASSERT_TRUE(t.Put("a", &a, 0));
    ASSERT_TRUE(t.Put("b", &b, 0));
    EXPECT_EQ(t.Put("c", &c, 0), nullptr) << "full table";
    EXPECT_NE(t.Put("a", &c, 0), nullptr) << "replacing in place needs no room";
    EXPECT_EQ(t.Lookup("a")->Value(), &c);
  }
  {
    CMyHashTable t;
    ASSERT_TRUE(t.Init(16));
    t.SetOptions(CMyHashTable::kKeepExisting);
    ASSERT_TRUE(t.Put("a", &a, 0));
    EXPECT_EQ(t.Put("a", &b, 0), nullptr);
    EXPECT_EQ(t.Lookup("a")->Value(), &a);
  }
  {
    CMyHashTable t;
    ASSERT_TRUE(t.Init(16));
    t.SetOptions(CMyHashTable::kAllowDuplicates);
    ASSERT_TRUE(t.Put("a", &a, 0));
    ASSERT_TRUE(t.Put("a", &b, 0));
    EXPECT_EQ(t.Count(), 2u);
    EXPECT_EQ(t.Lookup("a")->Value(), &b) << "newest first";
    void* out = nullptr;
    ASSERT_TRUE(t.Delete("a", &out, sizeof out));
    EXPECT_EQ(out, &b);
    EXPECT_EQ(t.Lookup("a")->Value(), &a);
  }
  {
    CMyHashTable t;
    ASSERT_TRUE(t.Init(16));
    EXPECT_EQ(t.Put(nullptr, &a, 0), nullptr);
    EXPECT_EQ(t.Lookup(nullptr), nullptr);
    EXPECT_FALSE(t.Delete("missing"));
  }
}

TEST(HashTable, ReInitFreesOldContentsAndShortFixedKeysWork) {
  CMyHashTable t;
  ASSERT_TRUE(t.Init(16));
  uint64_t v = 5;
  ASSERT_TRUE(t.Put("x", &v, 8));
  ASSERT_TRUE(t.Init(32, true, -1, 2));  // two-byte keys
  EXPECT_EQ(t.Count(), 0u);
  uint16_t k = 0x0102;
  ASSERT_TRUE(t.Put(&k, &v, 8));
  EXPECT_EQ(t.BucketOf(&k), 0x0102u & 31);
  EXPECT_NE(t.Lookup(&k), nullptr);
}

TEST(HashTable, KeyedHashFoldsLikeTheCompareAndDependsOnTheKey) {
  const CMyHashKey a{1, 2}, b{1, 3};
  EXPECT_EQ(KeyedTextHash("Content-Type", false, a), KeyedTextHash("CONTENT-type", false, a));
  EXPECT_EQ(KeyedTextHash("caf\xE9", false, a), KeyedTextHash("CAF\xC9", false, a));
  EXPECT_NE(KeyedTextHash("Content-Type", true, a), KeyedTextHash("CONTENT-type", true, a));
  EXPECT_NE(KeyedTextHash("Content-Type", false, a), KeyedTextHash("Content-Type", false, b));
  // "AP" and "B/" share the specified hash; under a key they do not.
  ASSERT_EQ(HashNameNoCase("AP"), HashNameNoCase("B/"));
  EXPECT_NE(KeyedTextHash("AP", false, a), KeyedTextHash("B/", false, a));
  // Lengths past one 8-byte word, and the empty text.
  EXPECT_NE(KeyedTextHash("abcdefgh", true, a), KeyedTextHash("abcdefgh\x01", true, a));
  EXPECT_NE(KeyedTextHash("", true, a), KeyedTextHash("\x01", true, a));
}

TEST(HashTable, GrowingSecretHashTableKeepsChainsShort) {
  CMyHashTable t;
  ASSERT_TRUE(t.Init(16, /*exactCase=*/false));
  t.SetOptions(CMyHashTable::kGrow | CMyHashTable::kSecretHash);
  EXPECT_EQ(t.LongestChain(), 0u) << "no bucket array before the first insert";
  // 1024 keys of one HashNameNoCase value ("AP" and "B/" hash alike).
  std::vector<std::string> keys;
  for (uint32_t i = 0; i < 1024; ++i) {
    std::string k;
    for (int bit = 0; bit < 10; ++bit) k += (i >> bit) & 1 ? "B/" : "AP";
    keys.push_back(k);
    ASSERT_TRUE(t.Put(k.c_str(), nullptr, 0));
  }
  EXPECT_EQ(t.Count(), 1024u);
  EXPECT_EQ(t.BucketCount(), 1024u) << "doubled whenever the entries outnumbered the buckets";
  EXPECT_LE(t.LongestChain(), 12u);
  for (const std::string& k : keys) ASSERT_NE(t.Lookup(k.c_str()), nullptr) << k;
  EXPECT_EQ(VisitKeys(t).size(), 1024u);
  // Switching back to the specified hash rehashes what is held.
  t.SetOptions(0);
  EXPECT_EQ(t.LongestChain(), 1024u);
  for (const std::string& k : keys) ASSERT_TRUE(t.Delete(k.c_str())) << k;
  EXPECT_EQ(t.Count(), 0u);
}

TEST(HashTableT, InsertSetGetTakeRemove) {
  CMyHashTableT<const char*, uint32_t> t(64);
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_TRUE(t.Insert("alpha", 1));
  EXPECT_FALSE(t.Insert("alpha", 2)) << "present key";
  uint32_t v = 0;
  ASSERT_TRUE(t.Get("alpha", &v));
  EXPECT_EQ(v, 1u);
  EXPECT_TRUE(t.Set("alpha", 7));
  EXPECT_TRUE(t.Set("beta", 8));
  ASSERT_TRUE(t.Get("alpha", &v));
  EXPECT_EQ(v, 7u);
  EXPECT_FALSE(t.Insert(nullptr, 1));
  EXPECT_FALSE(t.Set(nullptr, 1));
  EXPECT_FALSE(t.Contains(nullptr));
  EXPECT_FALSE(t.Get("ALPHA", &v)) << "exact case by default";
  ASSERT_TRUE(t.Take("beta", &v));
  EXPECT_EQ(v, 8u);
  EXPECT_FALSE(t.Contains("beta"));
  EXPECT_TRUE(t.Remove("alpha"));
  EXPECT_FALSE(t.Remove("alpha"));
  EXPECT_TRUE(t.IsEmpty());

  CMyHashTableT<const char*, uint64_t> wide(16, /*exactCase=*/false);
  ASSERT_TRUE(wide.Set("Big", 0x123456789ABCDEFull));
  uint64_t w = 0;
  ASSERT_TRUE(wide.Get("bIG", &w));
  EXPECT_EQ(w, 0x123456789ABCDEFull);
}

struct Counted {
  explicit Counted(int* live) : live(live) { ++*live; }
  ~Counted() { --*live; }
  int* live;
};

TEST(ObjectHashTable, OwningTableDeletesWhatItDrops) {
  int live = 0;
  {
    CMyObjectHashTableT<const char*, Counted> t(16);
    ASSERT_TRUE(t.Set("a", new Counted(&live)));
    ASSERT_TRUE(t.Set("a", new Counted(&live)));  // the first object is deleted
    EXPECT_EQ(live, 1);
    ASSERT_TRUE(t.Set("b", new Counted(&live)));
    ASSERT_TRUE(t.Set("c", new Counted(&live)));
    EXPECT_TRUE(t.Remove("b"));
    EXPECT_EQ(live, 2);
    Counted* taken = nullptr;
    ASSERT_TRUE(t.Take("c", &taken));
    EXPECT_EQ(live, 2) << "Take hands the object over";
    delete taken;
    t.Clear();
    EXPECT_EQ(live, 0);
    ASSERT_TRUE(t.Set("d", new Counted(&live)));
  }
  EXPECT_EQ(live, 0) << "destruction deletes the rest";

  Counted keep(&live);
  {
    CMyObjectHashTableT<const char*, Counted> borrowed(16, true, /*owned=*/false);
    ASSERT_TRUE(borrowed.Set("k", &keep));
  }
  EXPECT_EQ(live, 1);
}

}  // namespace
}  // namespace tarvixlib
