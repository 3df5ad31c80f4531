#include "core/item_table.h"

uint32_t StringHash(TextView key) {
  // h = h * 65599 + unit, four units a step: the four products are independent, so the chain of
  // multiplications is a quarter as long. Wrapping arithmetic makes it exactly the same value.
  constexpr uint32_t p1 = 65599u;
  constexpr uint32_t p2 = p1 * p1;
  constexpr uint32_t p3 = p2 * p1;
  constexpr uint32_t p4 = p3 * p1;
  uint32_t h = 0;
  size_t i = 0;
  const size_t n = key.size();
  for (; i + 4 <= n; i += 4)
    h = h * p4 + key[i] * p3 + key[i + 1] * p2 + key[i + 2] * p1 + key[i + 3];
  for (; i < n; ++i) h = h * p1 + key[i];
  return h;
}
