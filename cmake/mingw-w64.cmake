# What both MinGW-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR
# and VARNO_MINGW_TARGET (the compilers' target triplet) before including it.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VARNO_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNO_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNO_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNO_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The runtime goes inside each executable and library, so that varno-diag.exe
# needs nothing beside it but the driver library.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
