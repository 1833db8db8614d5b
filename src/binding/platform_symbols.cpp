#include "binding/platform_symbols.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "binding/python.h"
#else
#include <dlfcn.h>
#endif

namespace vardelquin {

#if defined(_WIN32)
void* find_interpreter_symbol(const char* name) noexcept {
  // A Windows DLL's exports are its own, not the process's, so the search
  // goes to the interpreter's DLL (python3X.dll, or its debug build): the
  // module that holds one of its functions. The module links against
  // python3.dll, whose entries forward there, so the address taken here is
  // already the one inside the interpreter's DLL.
  HMODULE interpreter = nullptr;
  if (GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&Py_GetVersion), &interpreter) == 0) {
    return nullptr;
  }
  return reinterpret_cast<void*>(GetProcAddress(interpreter, name));
}
#else
void* find_interpreter_symbol(const char* name) noexcept {
  // On ELF and Mach-O systems the interpreter's symbols are global to the
  // process (in the executable or in the libpython it loaded first), so a
  // search of the default scope finds them without a handle.
  return dlsym(RTLD_DEFAULT, name);
}
#endif

}  // namespace vardelquin
