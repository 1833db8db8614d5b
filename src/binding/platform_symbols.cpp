#include "binding/platform_symbols.h"

#include <dlfcn.h>

namespace vardelquin {

void* find_interpreter_symbol(const char* name) noexcept {
  // On ELF and Mach-O systems the interpreter's symbols are global to the
  // process (in the executable or in the libpython it loaded first), so a
  // search of the default scope finds them without a handle.
  return dlsym(RTLD_DEFAULT, name);
}

}  // namespace vardelquin
