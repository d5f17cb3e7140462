# Installation. The version is the one on the project() line, the same one
# the banner shows.
#
#   Linux:   cmake --install puts bin/kestrane, the manual page, README.md,
#            LICENSE and the bash, zsh and fish completions under the
#            prefix; the Debian package (debian/, built by
#            dpkg-buildpackage) is made from this install.
#   Windows: cmake --install puts kestrane.exe, the manual rendered as plain
#            text (kestrane-manual.txt), README.md, LICENSE and the
#            PowerShell argument completer at the top of the prefix;
#            scripts/package.sh zips them.
include(GNUInstallDirs)

# A package build names the version at the top of its changelog
# (debian/rules: -DKESTRANE_PACKAGE_VERSION=...): it must be this one.
if(DEFINED KESTRANE_PACKAGE_VERSION AND NOT KESTRANE_PACKAGE_VERSION STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "debian/changelog's top entry is version ${KESTRANE_PACKAGE_VERSION}, the project() "
                      "line of CMakeLists.txt says ${PROJECT_VERSION}: give debian/changelog an entry for "
                      "${PROJECT_VERSION} at its top")
endif()

# The manual page carries the version too, so it is filled in at configure time.
set(KESTRANE_MAN_PAGE ${PROJECT_BINARY_DIR}/docs/kestrane.1)
configure_file(${PROJECT_SOURCE_DIR}/docs/kestrane.1.in ${KESTRANE_MAN_PAGE} @ONLY)

if(WIN32)
  if(MINGW)
    # The zip ships kestrane.exe alone: no compiler runtime DLLs beside it.
    # No link time in the executable, so that two builds give the same bytes.
    target_link_options(kestrane PRIVATE -static -Wl,--no-insert-timestamp)
  endif()
  install(TARGETS kestrane RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
                ${PROJECT_SOURCE_DIR}/completions/kestrane-completion.ps1 DESTINATION .)

  # Windows has no man: the manual page goes along as plain text, rendered
  # from the page at build time.
  find_program(KESTRANE_GROFF groff)
  if(KESTRANE_GROFF)
    set(manual_text ${PROJECT_BINARY_DIR}/docs/kestrane-manual.txt)
    set(render_script ${PROJECT_SOURCE_DIR}/cmake/render_manual.cmake)
    add_custom_command(OUTPUT ${manual_text}
      COMMAND ${CMAKE_COMMAND} -DGROFF=${KESTRANE_GROFF} -DPAGE=${KESTRANE_MAN_PAGE}
              -DOUTPUT=${manual_text} -P ${render_script}
      DEPENDS ${KESTRANE_MAN_PAGE} ${render_script}
      VERBATIM)
    add_custom_target(kestrane_manual_text ALL DEPENDS ${manual_text})
    install(FILES ${manual_text} DESTINATION .)
  else()
    message(WARNING "groff not found: the Windows install will have no manual")
  endif()
else()
  install(TARGETS kestrane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${KESTRANE_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # The shell completions, each where its shell looks under the prefix:
  # bash-completion loads completions/kestrane on the first TAB after
  # kestrane, fish loads vendor_completions.d/kestrane.fish, and zsh's
  # compinit loads _kestrane from a folder of its fpath. For zsh that is
  # vendor-completions under /usr (where Debian's zsh looks for packages'
  # completions) and site-functions under any other prefix (the folder zsh
  # looks in under /usr/local).
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(zsh_folder vendor-completions)
  else()
    set(zsh_folder site-functions)
  endif()
  set(KESTRANE_ZSH_COMPLETIONS_DIR ${CMAKE_INSTALL_DATADIR}/zsh/${zsh_folder} CACHE STRING
      "Where the zsh completion is installed, relative to the prefix")
  set(completions ${PROJECT_SOURCE_DIR}/completions)
  install(FILES ${completions}/kestrane.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME kestrane)
  install(FILES ${completions}/kestrane.zsh DESTINATION ${KESTRANE_ZSH_COMPLETIONS_DIR} RENAME _kestrane)
  install(FILES ${completions}/kestrane.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
endif()
