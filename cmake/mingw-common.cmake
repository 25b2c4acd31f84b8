set(CMAKE_C_COMPILER ${SFX_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${SFX_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${SFX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SFX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Every function and object in a section of its own, so that the linker can
# drop whatever the stub never reaches (framework helpers the tool uses,
# runtime pieces behind them).
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
# Static, so the stub runs on a bare Windows machine with no runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--gc-sections")
