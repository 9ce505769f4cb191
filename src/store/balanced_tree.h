// An AVL-balanced binary tree of payloads ordered by a comparison the caller
// supplies with each call: the ordered set a command-tip table is looked up
// in. Inserting a payload equal to one already present adds nothing. Nodes
// live in an arena owned by the tree; no operation recurses, so very large
// trees need no stack. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <new>
#include <utility>
#include <vector>

namespace mirel {

template <class Payload>
class BalancedTree {
 public:
  struct TreeNode {
    Payload payload;
    TreeNode* greater = nullptr;
    TreeNode* smaller = nullptr;
    int balance = 0;  // height of greater minus height of smaller
  };

  BalancedTree() = default;
  BalancedTree(BalancedTree&&) noexcept = default;
  BalancedTree& operator=(BalancedTree&&) noexcept = default;
  BalancedTree(const BalancedTree&) = delete;
  BalancedTree& operator=(const BalancedTree&) = delete;

  // compare(inserted, nodePayload) > 0 when `inserted` belongs after the
  // node. Returns true when a node was added; false when an equal payload is
  // present (the new one is dropped) or memory ran out.
  template <class Compare>
  bool Insert(Payload payload, Compare compare);

  // compare(key, nodePayload) as for Insert. Null when not found.
  template <class Key, class Compare>
  const Payload* Find(const Key& key, Compare compare) const;

  // Calls visit(payload) in ascending order; returns how many calls returned
  // true. The tree must not change during the walk.
  template <class Visit>
  size_t Walk(Visit visit) const;

  const TreeNode* root() const { return root_; }
  size_t size() const { return nodes_.size(); }
  bool empty() const { return root_ == nullptr; }

 private:
  static constexpr int kMaxDepth = 50;

  TreeNode* NewNode(Payload&& payload) {
    try {
      return &nodes_.emplace_back(TreeNode{std::move(payload)});
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

  std::deque<TreeNode> nodes_;
  TreeNode* root_ = nullptr;
};

template <class Payload>
template <class Compare>
bool BalancedTree<Payload>::Insert(Payload payload, Compare compare) {
  if (root_ == nullptr) {
    root_ = NewNode(std::move(payload));
    return root_ != nullptr;
  }
  TreeNode* path[kMaxDepth];
  int dirs[kMaxDepth];
  int depth = 0;
  int critical = -1;
  TreeNode** criticalLink = &root_;
  TreeNode** link = &root_;
  TreeNode* node = root_;
  while (true) {
    int c = compare(payload, node->payload);
    if (c == 0) return false;
    if (node->balance != 0) {
      critical = depth;
      criticalLink = link;
    }
    if (depth == kMaxDepth) return false;  // unreachable for any tree that fits in memory
    path[depth] = node;
    dirs[depth] = c > 0 ? 1 : -1;
    ++depth;
    TreeNode** child = c > 0 ? &node->greater : &node->smaller;
    if (*child == nullptr) {
      *child = NewNode(std::move(payload));
      if (*child == nullptr) return false;
      break;
    }
    link = child;
    node = *child;
  }
  for (int k = critical < 0 ? 0 : critical; k < depth; ++k) path[k]->balance += dirs[k];
  if (critical < 0) return true;

  TreeNode* a = path[critical];
  if (a->balance == 2) {
    TreeNode* b = a->greater;
    if (b->balance == 1) {
      a->balance = b->balance = 0;
      a->greater = b->smaller;
      b->smaller = a;
      *criticalLink = b;
    } else {
      TreeNode* c = b->smaller;
      a->balance = c->balance == 1 ? -1 : 0;
      b->balance = c->balance == -1 ? 1 : 0;
      c->balance = 0;
      b->smaller = c->greater;
      c->greater = b;
      a->greater = c->smaller;
      c->smaller = a;
      *criticalLink = c;
    }
  } else if (a->balance == -2) {
    TreeNode* b = a->smaller;
    if (b->balance == -1) {
      a->balance = b->balance = 0;
      a->smaller = b->greater;
      b->greater = a;
      *criticalLink = b;
    } else {
      TreeNode* c = b->greater;
      a->balance = c->balance == -1 ? 1 : 0;
      b->balance = c->balance == 1 ? -1 : 0;
      c->balance = 0;
      b->greater = c->smaller;
      c->smaller = b;
      a->smaller = c->greater;
      c->greater = a;
      *criticalLink = c;
    }
  }
  return true;
}

template <class Payload>
template <class Key, class Compare>
const Payload* BalancedTree<Payload>::Find(const Key& key, Compare compare) const {
  const TreeNode* node = root_;
  while (node != nullptr) {
    int c = compare(key, node->payload);
    if (c == 0) return &node->payload;
    node = c > 0 ? node->greater : node->smaller;
  }
  return nullptr;
}

template <class Payload>
template <class Visit>
size_t BalancedTree<Payload>::Walk(Visit visit) const {
  size_t count = 0;
  std::vector<const TreeNode*> stack;
  const TreeNode* node = root_;
  while (node != nullptr || !stack.empty()) {
    while (node != nullptr) {
      stack.push_back(node);
      node = node->smaller;
    }
    node = stack.back();
    stack.pop_back();
    if (visit(node->payload)) ++count;
    node = node->greater;
  }
  return count;
}

}  // namespace mirel
