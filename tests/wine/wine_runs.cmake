# sfx_wine_runs(TARGET STUB COMPILER [SOURCE...]): the test program that runs
# the scenario table of tests/e2e under Wine (the runner of tests/wine, with
# the extra SOURCEs) on the cross-built stub STUB (win32 or win64), with the
# suite's Windows helpers built by COMPILER (a MinGW gcc) into
# <current build dir>/programs: the programs of programs/*.c, the stand-in
# for the version-install service (version_shim.c) and the library laid
# beside a setup under system libraries' names (planted.c).
function(sfx_wine_runs target stub compiler)
  set(wine ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  set(src ${wine}/programs)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/programs)
  set(outputs "")
  foreach(out record_start.exe hold_file.exe file_facts.exe version.dll planted.dll)
    get_filename_component(stem ${out} NAME_WE)
    set(sources ${src}/${stem}.c)
    set(flags "")
    if(out MATCHES "[.]dll$")
      set(flags -shared)
    endif()
    if(out STREQUAL "version.dll")
      set(sources ${src}/version_shim.c ${src}/version_shim.def)
      list(APPEND flags -Wl,--enable-stdcall-fixup)
    endif()
    add_custom_command(OUTPUT ${dir}/${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${compiler} -Os -s -Wall -Wextra -Werror ${flags} -o ${dir}/${out} ${sources}
      DEPENDS ${sources}
      COMMENT "Windows test program ${dir}/${out}")
    list(APPEND outputs ${dir}/${out})
  endforeach()
  add_custom_target(${target}_programs DEPENDS ${outputs})

  sfx_cross_stub(${stub})
  string(TOUPPER ${stub} upper)
  add_executable(${target} ${wine}/wine_support.cpp ${wine}/wine_backend.cpp ${wine}/wine_runner.cpp
                 ${PROJECT_SOURCE_DIR}/tests/e2e/scenario_table.cpp ${ARGN})
  target_link_libraries(${target} PRIVATE sfx_pack sfx_test_support GTest::gtest)
  target_compile_definitions(${target} PRIVATE
    SFX_WINE_STUB="${SFX_${upper}_STUB_EXE}" SFX_WINE_PROGRAMS="${dir}")
  add_dependencies(${target} sfx_${stub}_stub ${target}_programs)
endfunction()
