# sfx_cross_stub(win32|win64): the stub cross-built with MinGW-w64 (i686 for
# win32, x86-64 for win64), MinSizeRel as the win32 preset builds it, in a
# tree of its own, <build>/<name>-stub (a cross build makes the stub and
# nothing else). The target is sfx_<name>_stub; SFX_<NAME>_STUB_EXE names the
# program. A second call adds nothing, so the installation and the test
# suites share one cross build.
function(sfx_cross_stub name)
  string(TOUPPER ${name} upper)
  set(dir ${CMAKE_BINARY_DIR}/${name}-stub)
  set(SFX_${upper}_STUB_EXE ${dir}/src/app/sfx-stub.exe PARENT_SCOPE)
  if(TARGET sfx_${name}_stub)
    return()
  endif()
  if(name STREQUAL "win32")
    set(arch i686)
  else()
    set(arch x86_64)
  endif()
  include(ExternalProject)
  ExternalProject_Add(sfx_${name}_stub
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-${arch}-w64-mingw32.cmake
      -DCMAKE_BUILD_TYPE=MinSizeRel
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${dir}/src/app/sfx-stub.exe)
endfunction()
