# Checks the include rules of src/ (run as a test: cmake -DSRC=<src> -P ...).
#
# 1. Layers include one way, low to high:
#      platform, framework, payload, inflate, install, app;
#    pack may use everything below install, tool uses pack.
#    An include "layer/file.h" is allowed only from a layer that may use it;
#    an include without a folder names a file beside the includer.
# 2. The code that goes into the Win32 stub (every stub layer except the
#    host emulation in platform/host) includes no standard containers,
#    strings or streams: the stub must stay small.
#
# Every violation is printed as "src/file:line: ..." and the check fails.

cmake_minimum_required(VERSION 3.25)

if(NOT SRC)
  message(FATAL_ERROR "usage: cmake -DSRC=<path to src> -P check_layers.cmake")
endif()

# What each folder of src/ may include (besides itself).
set(uses_platform  "")
set(uses_framework "platform")
set(uses_payload   "platform;framework")
set(uses_inflate   "platform;framework;payload")
set(uses_install   "platform;framework;payload;inflate")
set(uses_app       "platform;framework;payload;inflate;install")
set(uses_pack      "platform;framework;payload;inflate")
set(uses_tool      "platform;framework;payload;inflate;pack")
set(layers platform framework payload inflate install app pack tool)

set(stub_forbidden
    string string_view vector list deque map set unordered_map unordered_set
    array queue stack forward_list iostream istream ostream sstream fstream
    iomanip streambuf)

get_filename_component(SRC "${SRC}" ABSOLUTE)
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
list(SORT files)
set(errors 0)
set(checked 0)
foreach(rel IN LISTS files)
  string(REGEX MATCH "^[^/]+" layer "${rel}")
  if(NOT layer IN_LIST layers)
    message(NOTICE "src/${rel}: in no known layer; add its folder to ${CMAKE_CURRENT_LIST_FILE}")
    math(EXPR errors "${errors} + 1")
    continue()
  endif()
  set(stub_code FALSE)
  if(NOT layer STREQUAL "pack" AND NOT layer STREQUAL "tool" AND NOT rel MATCHES "^platform/host/")
    set(stub_code TRUE)
  endif()

  # One list element per line; characters that CMake lists treat specially
  # are replaced first (no include line contains them).
  file(READ ${SRC}/${rel} content)
  string(REGEX REPLACE "[][;\\]" "_" content "${content}")
  string(REPLACE "\n" ";" content "${content}")
  set(lineno 0)
  foreach(line IN LISTS content)
    math(EXPR lineno "${lineno} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*[\"<]")
      continue()
    endif()
    math(EXPR checked "${checked} + 1")
    set(where "src/${rel}:${lineno}")
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(target "${CMAKE_MATCH_1}")
      if(target MATCHES "\\.\\./")
        message(NOTICE "${where}: includes \"${target}\": name other layers' headers from src/, not by ../")
        math(EXPR errors "${errors} + 1")
      elseif(target MATCHES "^([^/]+)/")
        set(to "${CMAKE_MATCH_1}")
        if(to IN_LIST layers AND NOT to STREQUAL layer AND NOT to IN_LIST uses_${layer})
          string(REPLACE ";" ", " allowed "${uses_${layer}}")
          if(allowed STREQUAL "")
            set(allowed "nothing else")
          endif()
          message(NOTICE "${where}: includes \"${target}\", but ${layer}/ may not use ${to}/ "
                             "(it may use: ${allowed})")
          math(EXPR errors "${errors} + 1")
        endif()
      endif()
    elseif(stub_code AND line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
      set(header "${CMAKE_MATCH_1}")
      if(header IN_LIST stub_forbidden)
        message(NOTICE "${where}: includes <${header}>, but ${layer}/ is stub code, "
                           "which uses no standard strings, containers or streams")
        math(EXPR errors "${errors} + 1")
      endif()
    endif()
  endforeach()
endforeach()

list(LENGTH files nfiles)
if(errors GREATER 0)
  message(FATAL_ERROR "${errors} include(s) break the layer rules (see docs/architecture.md)")
endif()
message(STATUS "${nfiles} files, ${checked} includes: every include follows the layer rules")
