// A doubly linked list of pointers that can be sorted in place.
//
// When the list owns its data, Clear (and destruction) hands each node's data
// to the list's deleter. The list does not lock; owners serialise access.
#pragma once

#include <cstddef>

namespace tarvixlib {

struct CMyPtrListNode {
  CMyPtrListNode* next;
  CMyPtrListNode* prev;
  void* data;
};

class CMyPtrList {
public:
  using Deleter = void (*)(void* data);
  // Comparator for Sort: a positive result puts a after b.
  using Comparator = int (*)(const void* a, const void* b, void* context);

  // owned: Clear frees each node's data with the deleter (default free()).
  explicit CMyPtrList(bool owned = false, Deleter deleter = nullptr);
  virtual ~CMyPtrList();
  CMyPtrList(const CMyPtrList&) = delete;
  CMyPtrList& operator=(const CMyPtrList&) = delete;

  // Return the new node, or null when it could not be allocated.
  CMyPtrListNode* AddHead(void* data);
  CMyPtrListNode* AddTail(void* data);
  // Unlinks and frees the node (never its data); returns the data.
  void* RemoveNode(CMyPtrListNode* node);
  // The data of the first node, removed; null when empty.
  void* PopHead();
  void Clear();
  // Not stable: equal elements may change their relative order.
  void Sort(Comparator compare, void* context);

  CMyPtrListNode* Head() const { return head_; }
  CMyPtrListNode* Tail() const { return tail_; }
  size_t Count() const { return count_; }
  bool IsEmpty() const { return count_ == 0; }
  bool IsOwned() const { return owned_; }
  void SetOwned(bool owned) { owned_ = owned; }

private:
  CMyPtrListNode* head_ = nullptr;
  CMyPtrListNode* tail_ = nullptr;
  size_t count_ = 0;
  bool owned_;
  Deleter deleter_;
};

// A list of T* whose owned data is destroyed with delete.
template <typename T>
class CMyPtrListT : public CMyPtrList {
public:
  explicit CMyPtrListT(bool owned = false)
      : CMyPtrList(owned, [](void* p) { delete static_cast<T*>(p); }) {}
  static T* DataOf(const CMyPtrListNode* node) { return static_cast<T*>(node->data); }
  T* PopHeadT() { return static_cast<T*>(PopHead()); }
};

}  // namespace tarvixlib
