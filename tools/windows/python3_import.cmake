# The extension cross-built for x86_64 Windows from Linux (included by
# CMakeLists.txt when VARDELQUIN_WINDOWS_PYTHON_INCLUDE_DIR is set; see
# tools/link_windows_extension.sh). It is linked as on Windows, against the
# interpreter's stable-ABI DLL, python3.dll, through an import library made
# here from CPython's stable ABI list: every function and data item up to
# 3.9 and nothing else, so that a call outside the 3.9 stable ABI, or a
# misspelt one, leaves an undefined symbol and fails the link.
if(NOT WIN32 OR NOT CMAKE_CROSSCOMPILING)
  message(FATAL_ERROR "VARDELQUIN_WINDOWS_PYTHON_INCLUDE_DIR is for cross-building for Windows only")
endif()
if(NOT EXISTS "${VARDELQUIN_WINDOWS_PYTHON_INCLUDE_DIR}/Python.h")
  message(FATAL_ERROR "no Python.h in VARDELQUIN_WINDOWS_PYTHON_INCLUDE_DIR (${VARDELQUIN_WINDOWS_PYTHON_INCLUDE_DIR})")
endif()
if(NOT EXISTS "${VARDELQUIN_STABLE_ABI_LIST}")
  message(FATAL_ERROR "the stable ABI list VARDELQUIN_STABLE_ABI_LIST (${VARDELQUIN_STABLE_ABI_LIST}) is missing")
endif()
# python3_def.py reads the list with tomllib.
find_package(Python3 3.11 REQUIRED COMPONENTS Interpreter)
find_program(VARDELQUIN_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)

# The host's headers with Windows' pyconfig.h. Python.h includes
# "pyconfig.h" from its own folder before any include path, so the headers
# are copied without the host's one and ours is put beside them.
set(VARDELQUIN_WINDOWS_PYTHON_HEADERS ${CMAKE_BINARY_DIR}/windows-python-include)
file(REMOVE_RECURSE ${VARDELQUIN_WINDOWS_PYTHON_HEADERS})
file(COPY ${VARDELQUIN_WINDOWS_PYTHON_INCLUDE_DIR}/ DESTINATION ${VARDELQUIN_WINDOWS_PYTHON_HEADERS}
     PATTERN pyconfig.h EXCLUDE PATTERN internal EXCLUDE)
configure_file(${CMAKE_CURRENT_LIST_DIR}/pyconfig.h ${VARDELQUIN_WINDOWS_PYTHON_HEADERS}/pyconfig.h COPYONLY)

set(VARDELQUIN_PYTHON3_DEF ${CMAKE_BINARY_DIR}/python3.def)
set(VARDELQUIN_PYTHON3_IMPORT_LIBRARY ${CMAKE_BINARY_DIR}/libpython3.dll.a)
add_custom_command(OUTPUT ${VARDELQUIN_PYTHON3_DEF}
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/python3_def.py ${VARDELQUIN_STABLE_ABI_LIST} 3.9
          ${VARDELQUIN_PYTHON3_DEF}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/python3_def.py ${VARDELQUIN_STABLE_ABI_LIST}
  COMMENT "python3.def: the stable ABI of CPython 3.9"
  VERBATIM)
add_custom_command(OUTPUT ${VARDELQUIN_PYTHON3_IMPORT_LIBRARY}
  COMMAND ${VARDELQUIN_DLLTOOL} --input-def ${VARDELQUIN_PYTHON3_DEF} --dllname python3.dll
          --output-lib ${VARDELQUIN_PYTHON3_IMPORT_LIBRARY}
  DEPENDS ${VARDELQUIN_PYTHON3_DEF}
  COMMENT "libpython3.dll.a: the import library of python3.dll"
  VERBATIM)
add_custom_target(vardelquin_python3_import_library DEPENDS ${VARDELQUIN_PYTHON3_IMPORT_LIBRARY})

add_library(vardelquin MODULE ${VARDELQUIN_BINDING_SOURCES})
add_dependencies(vardelquin vardelquin_python3_import_library)
target_include_directories(vardelquin SYSTEM PRIVATE ${VARDELQUIN_WINDOWS_PYTHON_HEADERS})
target_link_libraries(vardelquin PRIVATE ${VARDELQUIN_PYTHON3_IMPORT_LIBRARY})
set_target_properties(vardelquin PROPERTIES PREFIX "" SUFFIX ".pyd")
