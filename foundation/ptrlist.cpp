#include "foundation/ptrlist.h"

#include <cstdlib>
#include <new>
#include <utility>

namespace tarvixlib {

CMyPtrList::CMyPtrList(bool owned, Deleter deleter)
    : owned_(owned), deleter_(deleter ? deleter : [](void* p) { std::free(p); }) {}

CMyPtrList::~CMyPtrList() { Clear(); }

CMyPtrListNode* CMyPtrList::AddHead(void* data) {
  auto* node = new (std::nothrow) CMyPtrListNode{head_, nullptr, data};
  if (!node) return nullptr;
  if (head_) head_->prev = node; else tail_ = node;
  head_ = node;
  ++count_;
  return node;
}

CMyPtrListNode* CMyPtrList::AddTail(void* data) {
  auto* node = new (std::nothrow) CMyPtrListNode{nullptr, tail_, data};
  if (!node) return nullptr;
  if (tail_) tail_->next = node; else head_ = node;
  tail_ = node;
  ++count_;
  return node;
}

void* CMyPtrList::RemoveNode(CMyPtrListNode* node) {
  if (!node) return nullptr;
  if (node->prev) node->prev->next = node->next; else head_ = node->next;
  if (node->next) node->next->prev = node->prev; else tail_ = node->prev;
  void* data = node->data;
  delete node;
  --count_;
  return data;
}

void* CMyPtrList::PopHead() { return head_ ? RemoveNode(head_) : nullptr; }

void CMyPtrList::Clear() {
  CMyPtrListNode* node = head_;
  head_ = tail_ = nullptr;
  count_ = 0;
  while (node) {
    CMyPtrListNode* next = node->next;
    if (owned_ && node->data) deleter_(node->data);
    delete node;
    node = next;
  }
}

namespace {

struct SortState {
  CMyPtrList::Comparator compare;
  void* context;
  bool Less(CMyPtrListNode* a, CMyPtrListNode* b) const { return compare(a->data, b->data, context) < 0; }
  bool Greater(CMyPtrListNode* a, CMyPtrListNode* b) const { return compare(a->data, b->data, context) > 0; }
};

// In-place quicksort (median of three, Hoare partition), recursing into the
// smaller side so the stack stays logarithmic; short runs by insertion.
void QuickSort(CMyPtrListNode** a, size_t lo, size_t hi, const SortState& s) {
  while (hi - lo > 16) {
    size_t mid = lo + (hi - lo) / 2;
    if (s.Greater(a[lo], a[mid])) std::swap(a[lo], a[mid]);
    if (s.Greater(a[mid], a[hi])) std::swap(a[mid], a[hi]);
    if (s.Greater(a[lo], a[mid])) std::swap(a[lo], a[mid]);
    CMyPtrListNode* pivot = a[mid];
    size_t i = lo, j = hi;
    for (;;) {
      while (i < hi && s.Less(a[i], pivot)) ++i;
      while (j > lo && s.Greater(a[j], pivot)) --j;
      if (i >= j) break;
      std::swap(a[i], a[j]);
      ++i;
      --j;
    }
    // a[lo..j] <= pivot <= a[j+1..hi]; the clamp keeps an inconsistent
    // comparator from stalling the loop.
    if (j >= hi) j = hi - 1;
    if (j - lo < hi - j) {
      QuickSort(a, lo, j, s);
      lo = j + 1;
    } else {
      QuickSort(a, j + 1, hi, s);
      hi = j;
    }
  }
  for (size_t i = lo + 1; i <= hi; ++i) {
    CMyPtrListNode* v = a[i];
    size_t k = i;
    while (k > lo && s.Greater(a[k - 1], v)) {
      a[k] = a[k - 1];
      --k;
    }
    a[k] = v;
  }
}

}  // namespace

void CMyPtrList::Sort(Comparator compare, void* context) {
  if (count_ < 2 || !compare) return;
  auto** nodes = new (std::nothrow) CMyPtrListNode*[count_];
  if (!nodes) return;  // left unsorted rather than half relinked
  size_t n = 0;
  for (CMyPtrListNode* node = head_; node; node = node->next) nodes[n++] = node;
  QuickSort(nodes, 0, n - 1, SortState{compare, context});
  for (size_t i = 0; i < n; ++i) {
    nodes[i]->prev = i ? nodes[i - 1] : nullptr;
    nodes[i]->next = i + 1 < n ? nodes[i + 1] : nullptr;
  }
  head_ = nodes[0];
  tail_ = nodes[n - 1];
  delete[] nodes;
}

}  // namespace tarvixlib
