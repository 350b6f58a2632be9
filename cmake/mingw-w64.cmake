# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads, so
# that GoogleTest's threading support compiles). Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 package puts no "wine" on PATH; its runner lives here.
find_program(DRAVONEL_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT DRAVONEL_WINE)
  find_program(DRAVONEL_WINE NAMES wine64 wine)
endif()
if(DRAVONEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DRAVONEL_WINE})
endif()
