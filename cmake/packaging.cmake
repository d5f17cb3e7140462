# Installation and packages. The version is the one on the project() line,
# the same one the banner shows.
#
#   Linux:   cmake --install puts bin/kestrane, the manual page and the docs
#            under the prefix; cpack makes a .deb.
#   Windows: cmake --install puts kestrane.exe, README.md and LICENSE at the
#            top of the prefix; cpack makes a .zip holding just those three.
include(GNUInstallDirs)

# The manual page carries the version too, so it is filled in at configure time.
set(KESTRANE_MAN_PAGE ${PROJECT_BINARY_DIR}/docs/kestrane.1)
configure_file(${PROJECT_SOURCE_DIR}/docs/kestrane.1.in ${KESTRANE_MAN_PAGE} @ONLY)

if(WIN32)
  # The zip ships kestrane.exe alone: no compiler runtime DLLs beside it.
  if(MINGW)
    target_link_options(kestrane PRIVATE -static)
  endif()
  install(TARGETS kestrane RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  install(TARGETS kestrane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${KESTRANE_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
endif()

set(KESTRANE_MAINTAINER "Kestrane developers <kestrane@example.org>"
    CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME kestrane)
set(CPACK_PACKAGE_VENDOR "the Kestrane developers")
set(CPACK_PACKAGE_CONTACT "${KESTRANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "copy APEv2 and ID3v1 tags between audio files in batch")
set(CPACK_PACKAGE_DESCRIPTION "Kestrane copies the tag stored at the end of audio files (an APEv2 tag or an
ID3v1 tag) from input files to output files, byte for byte: one input to one
output, one input to many outputs, or many inputs to the outputs of the same
base name. It reads and writes only the ends of files; audio data is never
changed.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends (libc6, libstdc++6, libgcc-s1) computed by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
