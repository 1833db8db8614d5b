// The cyclic collector kept off while loads builds its result.
#pragma once

#include "binding/interpreter.h"

namespace vardelquin {

// A tree of new objects holds no garbage, yet the collector would pass
// over it again and again while it is allocated. The previous state is
// restored on every path, so a caller that had the collector off keeps it
// off. Before 3.10 the switch is not in the stable ABI, and the collector
// runs as it always does.
class CollectorPause {
 public:
  CollectorPause() noexcept {
    if (auto disable = interpreter_api().gc_disable) was_enabled_ = disable() != 0;
  }
  ~CollectorPause() {
    if (was_enabled_) interpreter_api().gc_enable();
  }
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool was_enabled_ = false;
};

}  // namespace vardelquin
