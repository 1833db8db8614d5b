/* The interpreter's configuration on x86_64 Windows, as far as the limited
   API's headers read it. A Windows installation has its own pyconfig.h;
   a cross build from Linux has only the host interpreter's headers, which
   are the same for the limited API except this file, so the build puts
   this one in place of the host's (see CMakeLists.txt). It holds what the
   headers test and nothing about the C library or the system, which the
   limited API does not reach. */
#ifndef Py_CONFIG_H
#define Py_CONFIG_H

#define MS_WIN32
#define MS_WIN64
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD
#define PY_HAVE_THREAD_NATIVE_ID

/* The interpreter is a DLL: the module imports its functions and data
   (__declspec(dllimport)) and exports its PyInit_ function. */
#define Py_ENABLE_SHARED 1
#define HAVE_DECLSPEC_DLL

/* LLP64: long stays 32 bits on 64-bit Windows, and wchar_t is 16 bits.
   Py_ssize_t, which Windows has no ssize_t for, is then intptr_t. */
#define SIZEOF_SHORT 2
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_VOID_P 8
#define SIZEOF_SIZE_T 8
#define SIZEOF_UINTPTR_T 8
#define SIZEOF_TIME_T 8
#define SIZEOF_WCHAR_T 2
#define SIZEOF_FLOAT 4
#define SIZEOF_DOUBLE 8
#define SIZEOF__BOOL 1
#define ALIGNOF_SIZE_T 8
#define ALIGNOF_LONG 4

#define HAVE_STDDEF_H 1
#define HAVE_WCHAR_H 1
#define HAVE_USABLE_WCHAR_T 1
#define HAVE_LONG_LONG 1

#endif /* Py_CONFIG_H */
