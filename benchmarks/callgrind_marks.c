/* Marks around a measured loop, for benchmarks/instructions.py under
   valgrind --tool=callgrind --collect-atstart=no. Called through ctypes;
   outside valgrind each request is a few no-op instructions. */
#include <valgrind/callgrind.h>

/* Turns collection on before the loop and off after it. */
void marks_toggle_collect(void) { CALLGRIND_TOGGLE_COLLECT; }

/* Writes what was collected since the last dump, under this name, and zeroes
   the counters. */
void marks_dump(const char *name) { CALLGRIND_DUMP_STATS_AT(name); }

/* Starts instrumenting once the imports are done (valgrind runs with
   --instr-atstart=no), which keeps the interpreter's start-up fast. */
void marks_start_instrumentation(void) { CALLGRIND_START_INSTRUMENTATION; }
