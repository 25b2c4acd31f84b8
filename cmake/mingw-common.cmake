set(CMAKE_C_COMPILER ${SFX_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${SFX_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${SFX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SFX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The cross build makes the stub only, and the stub's size is a figure users
# compare (it is prepended to every installer). So:
# - every function and object in a section of its own, for --gc-sections;
# - no run-time type information beyond what exceptions need (the compiler
#   still emits it for every type that is thrown or caught);
# - no locking around local statics: the stub runs on one thread;
# - link-time optimisation across the layers.
# Exceptions stay on: the stub throws and catches CException* and int.
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections -fno-rtti -fno-threadsafe-statics")
set(CMAKE_INTERPROCEDURAL_OPTIMIZATION ON)
# Static, so the stub runs on a bare Windows machine with no runtime DLLs
# (the stub itself goes further and links without the C runtime DLL; see
# src/app/CMakeLists.txt).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--gc-sections")
