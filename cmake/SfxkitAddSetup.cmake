# sfxkit_add_setup(<name> MANIFEST <file> [TARGET win32|host] [OUTPUT <file>]
#                  [DEPENDS <targets>...] [LEVEL n])
#
# Adds the target <name>, built by default, that packs the manifest into a
# setup executable with sfxkit::sfx. The setup is packed again whenever the
# manifest, any file it packs (sfx writes their list as a depfile) or the
# tool changes. DEPENDS names targets that make files the manifest packs.
#
#   MANIFEST  the JSON manifest; relative to the current source folder
#   TARGET    win32 (default): the i686 stub; host: the POSIX stub
#   OUTPUT    the setup; relative to the current binary folder; default
#             <name>.exe for win32, <name> for host
#   LEVEL     compression level 0 to 12 (sfx's default: 6)
#
# The target's property SFXKIT_SETUP_FILE holds the setup's full path.
include_guard(GLOBAL)

function(sfxkit_add_setup name)
  cmake_parse_arguments(PARSE_ARGV 1 S "" "MANIFEST;TARGET;OUTPUT;LEVEL" "DEPENDS")
  if(S_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "sfxkit_add_setup(${name}): unknown arguments ${S_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT S_MANIFEST)
    message(FATAL_ERROR "sfxkit_add_setup(${name}): MANIFEST is required")
  endif()
  if(NOT TARGET sfxkit::sfx)
    message(FATAL_ERROR "sfxkit_add_setup(${name}): sfxkit::sfx is not defined; use find_package(sfxkit)")
  endif()
  if(NOT S_TARGET)
    set(S_TARGET win32)
  elseif(NOT S_TARGET MATCHES "^(win32|host)$")
    message(FATAL_ERROR "sfxkit_add_setup(${name}): TARGET must be win32 or host, not ${S_TARGET}")
  endif()
  if(NOT S_OUTPUT)
    set(S_OUTPUT ${name})
    if(S_TARGET STREQUAL "win32")
      string(APPEND S_OUTPUT ".exe")
    endif()
  endif()
  set(level "")
  if(DEFINED S_LEVEL)
    if(NOT S_LEVEL MATCHES "^([0-9]|1[0-2])$")
      message(FATAL_ERROR "sfxkit_add_setup(${name}): LEVEL must be 0 to 12, not ${S_LEVEL}")
    endif()
    set(level --level ${S_LEVEL})
  endif()
  get_filename_component(manifest "${S_MANIFEST}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(output "${S_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  set(depfile "${CMAKE_CURRENT_BINARY_DIR}/${name}.setup.d")

  add_custom_command(OUTPUT "${output}"
    COMMAND sfxkit::sfx pack "${manifest}" -o "${output}" --target ${S_TARGET} ${level}
            --depfile "${depfile}"
    DEPENDS "${manifest}" sfxkit::sfx ${S_DEPENDS}
    DEPFILE "${depfile}"
    COMMENT "Packing setup ${name}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS "${output}")
  if(S_DEPENDS)
    add_dependencies(${name} ${S_DEPENDS})
  endif()
  set_target_properties(${name} PROPERTIES SFXKIT_SETUP_FILE "${output}")
endfunction()
