# sfx_wine_programs(TARGET COMPILER DIR): the suite's Windows helper programs
# (programs/*.c) and the version.dll stand-in, built with COMPILER (a MinGW
# gcc) into DIR, behind the custom target TARGET.
function(sfx_wine_programs target compiler dir)
  set(src ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  set(outputs "")
  foreach(program record_start hold_file file_facts)
    add_custom_command(OUTPUT ${dir}/${program}.exe
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${compiler} -Os -s -Wall -Wextra -Werror -o ${dir}/${program}.exe ${src}/${program}.c
      DEPENDS ${src}/${program}.c
      COMMENT "Windows test program ${dir}/${program}.exe")
    list(APPEND outputs ${dir}/${program}.exe)
  endforeach()
  # The stand-in for the version-install service (see version_shim.c).
  add_custom_command(OUTPUT ${dir}/version.dll
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${compiler} -Os -s -Wall -Wextra -Werror -shared -Wl,--enable-stdcall-fixup
            -o ${dir}/version.dll
            ${src}/version_shim.c ${src}/version_shim.def
    DEPENDS ${src}/version_shim.c ${src}/version_shim.def
    COMMENT "Windows test library ${dir}/version.dll")
  list(APPEND outputs ${dir}/version.dll)
  # The library laid beside a setup under system libraries' names (planted.c).
  add_custom_command(OUTPUT ${dir}/planted.dll
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${compiler} -Os -s -Wall -Wextra -Werror -shared -o ${dir}/planted.dll ${src}/planted.c
    DEPENDS ${src}/planted.c
    COMMENT "Windows test library ${dir}/planted.dll")
  list(APPEND outputs ${dir}/planted.dll)
  add_custom_target(${target} DEPENDS ${outputs})
endfunction()
