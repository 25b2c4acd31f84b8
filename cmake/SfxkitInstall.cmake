# Installing sfxkit: the tool, its stubs, the man page made from the tool's
# own help, bash completion, the CMake package (sfxkit::sfx and
# sfxkit_add_setup) and a Debian package through CPack.
#
#   PREFIX/bin/sfx
#   PREFIX/lib/sfxkit/sfx-stub               the host stub
#   PREFIX/share/sfxkit/sfx-stub.exe         the i686 stub (when cross-built)
#   PREFIX/share/man/man1/sfx.1
#   PREFIX/share/bash-completion/completions/sfx
#   PREFIX/lib/cmake/sfxkit/                 find_package(sfxkit CONFIG)
#
# sfx finds the stubs relative to its own executable (see
# src/tool/stub_lookup.h), so these paths are fixed, not GNUInstallDirs'.
include(CMakePackageConfigHelpers)

# The i686 stub, cross-built inside this build tree (win32-stub) when the
# MinGW-w64 i686 compiler is there.
find_program(SFX_MINGW32_CXX NAMES i686-w64-mingw32-g++)
if(SFX_MINGW32_CXX)
  set(SFX_WIN32_STUB_DEFAULT ON)
else()
  set(SFX_WIN32_STUB_DEFAULT OFF)
endif()
option(SFX_WIN32_STUB "Cross-build the i686 stub in this build and install it" ${SFX_WIN32_STUB_DEFAULT})
if(SFX_WIN32_STUB)
  sfx_cross_stub(win32)
  add_dependencies(sfx sfx_win32_stub)
  install(PROGRAMS ${SFX_WIN32_STUB_EXE} DESTINATION share/sfxkit)
endif()

install(TARGETS sfx EXPORT sfxkitTargets RUNTIME DESTINATION bin)
install(TARGETS sfx-stub RUNTIME DESTINATION lib/sfxkit)

# The man page: the tool's --help and every command's, made when the tool is
# built, so it always matches the tool it ships with.
set(SFX_MAN_PAGE ${CMAKE_BINARY_DIR}/man/sfx.1)
add_custom_command(OUTPUT ${SFX_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/sfx-manpage.sh $<TARGET_FILE:sfx> ${PROJECT_VERSION}
          ${SFX_MAN_PAGE}
  DEPENDS sfx ${PROJECT_SOURCE_DIR}/cmake/sfx-manpage.sh
  COMMENT "Man page sfx.1 from sfx --help")
add_custom_target(sfx_man_page ALL DEPENDS ${SFX_MAN_PAGE})
install(FILES ${SFX_MAN_PAGE} DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/sfx-completion.bash
        DESTINATION share/bash-completion/completions RENAME sfx)

# The CMake package.
set(SFX_CMAKE_DIR lib/cmake/sfxkit)
install(EXPORT sfxkitTargets NAMESPACE sfxkit:: DESTINATION ${SFX_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/sfxkit-config.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/sfxkit-config.cmake INSTALL_DESTINATION ${SFX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/sfxkit-config-version.cmake
  COMPATIBILITY SameMinorVersion ARCH_INDEPENDENT)  # a host tool, for any target
install(FILES ${CMAKE_BINARY_DIR}/cmake/sfxkit-config.cmake
              ${CMAKE_BINARY_DIR}/cmake/sfxkit-config-version.cmake
              ${PROJECT_SOURCE_DIR}/cmake/SfxkitAddSetup.cmake
        DESTINATION ${SFX_CMAKE_DIR})

# cpack -G DEB: a Debian package installing under /usr, depending on the
# shared libraries the binaries use (found by dpkg-shlibdeps).
set(CPACK_PACKAGE_NAME sfxkit)
set(CPACK_PACKAGE_VENDOR "sfxkit developers")
set(CPACK_PACKAGE_CONTACT "sfxkit developers <sfxkit@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Self-extracting setups for 32-bit Windows: the packing tool and stubs")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "osslsigncode")
set(CPACK_STRIP_FILES ON)
include(CPack)
