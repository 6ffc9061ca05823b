// Decoding of compressed SMAF score sequences: a pre-order code tree (1 = internal node, then
// its left and right subtrees; 0 = leaf, then its 8-bit value), then one code per output
// byte, all read most significant bit first across byte boundaries.
#include "formats/smaf_score.h"

#include "core/codec.h"

namespace vlm::smaf {

namespace {

constexpr int LEAF_LIMIT = 256;       // node values below this are leaves (byte values)
constexpr int MAX_NODES = 511;        // 256 leaves and 255 internal nodes
constexpr uint32_t LENGTH_BYTES = 4;

struct BitReader {
  const uint8_t* bytes;
  uint64_t bits;  // available
  uint64_t pos = 0;

  bool done() const { return pos >= bits; }
  int bit() {
    if (pos >= bits) return -1;
    const int b = (bytes[pos >> 3] >> (7 - (pos & 7))) & 1;
    ++pos;
    return b;
  }
};

struct CodeTree {
  uint16_t left[MAX_NODES] = {}, right[MAX_NODES] = {};
  int nextInternal = LEAF_LIMIT;
  bool bad = false;
};

// Reads a subtree; returns its node value (a byte value for a leaf, 256.. for an internal node).
// Recursion depth is bounded by the 255 internal nodes.
int readNode(BitReader& in, CodeTree& tree) {
  const int kind = in.bit();
  if (kind < 0) {
    tree.bad = true;
    return 0;
  }
  if (kind == 0) {
    int value = 0;
    for (int i = 0; i < 8; ++i) {
      const int b = in.bit();
      if (b < 0) {
        tree.bad = true;
        return 0;
      }
      value = value << 1 | b;
    }
    return value;
  }
  if (tree.nextInternal >= MAX_NODES) {
    tree.bad = true;
    return 0;
  }
  const int node = tree.nextInternal++;
  tree.left[node] = uint16_t(readNode(in, tree));
  if (tree.bad) return 0;
  tree.right[node] = uint16_t(readNode(in, tree));
  return node;
}

}  // namespace

bool decompressSequence(const uint8_t* body, uint32_t size, std::vector<uint8_t>* out) {
  out->clear();
  if (size < LENGTH_BYTES) return false;
  const uint32_t length = getBE(body, 4);
  if (length > MAX_UNCOMPRESSED) return false;
  BitReader in{body + LENGTH_BYTES, uint64_t(size - LENGTH_BYTES) * 8};
  CodeTree tree;
  const int root = readNode(in, tree);
  if (tree.bad || root < LEAF_LIMIT) return false;
  // Every code is at least one bit long: a stated length beyond the bits left is corrupt.
  if (length > in.bits - in.pos) return false;
  out->reserve(length);
  for (uint32_t i = 0; i < length; ++i) {
    int node = root;
    while (node >= LEAF_LIMIT) {
      const int b = in.bit();
      if (b < 0) return false;
      node = b ? tree.right[node] : tree.left[node];
    }
    out->push_back(uint8_t(node));
  }
  return true;
}

}  // namespace vlm::smaf
