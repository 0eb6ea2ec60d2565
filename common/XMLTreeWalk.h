#pragma once
// A walk over a node and its subtree in document order that keeps its path
// in a vector instead of on the call stack, so that writing a tree of any
// depth cannot overflow the stack. Used by the XML and JSON writers.
#include "common/ZorvaXMLDoc.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Calls enter(node, level, hasNext) before a node's children and
// leave(node, level, hasNext) after them. `level` counts from `rootLevel`;
// `hasNext` tells whether a later sibling follows (for the root, as given).
template <class Enter, class Leave>
void WalkXMLTree(TXMLNode& root, int32_t rootLevel, bool rootHasNext, Enter&& enter,
                 Leave&& leave) {
  struct Frame {
    TXMLNode* node;
    size_t next;
    bool hasNext;
  };
  std::vector<Frame> path;
  enter(root, rootLevel, rootHasNext);
  path.push_back({&root, 0, rootHasNext});
  while (!path.empty()) {
    Frame& top = path.back();
    const int32_t level = rootLevel + static_cast<int32_t>(path.size()) - 1;
    const auto& children = top.node->Children().Items();
    if (top.next < children.size()) {
      TXMLNode* child = children[top.next++];
      const bool hasNext = top.next < children.size();
      enter(*child, level + 1, hasNext);
      path.push_back({child, 0, hasNext}); // may move `top`: not used after this
    } else {
      leave(*top.node, level, top.hasNext);
      path.pop_back();
    }
  }
}
