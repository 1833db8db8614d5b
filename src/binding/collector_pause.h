// The cyclic collector kept off while loads builds its result.
#pragma once

#include "binding/interpreter.h"
#include "binding/signal_poll.h"

namespace vardelquin {

// A tree of new objects holds no garbage, yet the collector would pass
// over it again and again while it is allocated. The previous state is
// restored on every path, so a caller that had the collector off keeps it
// off; signal handlers run with that state too, and a handler that
// switches the collector on or off decides what the caller finds when the
// call ends. Before 3.10 the switch is not in the stable ABI, and the collector
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

  // run_signal_handlers, with the collector as the caller left it.
  bool run_signal_handlers_unpaused() noexcept {
    const InterpreterApi& api = interpreter_api();
    if (was_enabled_) api.gc_enable();
    const bool go_on = run_signal_handlers();
    if (api.gc_disable != nullptr) was_enabled_ = api.gc_disable() != 0;
    return go_on;
  }
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool was_enabled_ = false;
};

}  // namespace vardelquin
