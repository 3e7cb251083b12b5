# What `cmake --install` puts where; `make install`, `make package` and
# `make package-windows` all go through these rules.
include(GNUInstallDirs)

set(P50X_PROGRAMS p50x-bridge p50x-hostsim p50x-trace)
set(P50X_EXAMPLES
    ${PROJECT_SOURCE_DIR}/examples/Config.txt
    ${PROJECT_SOURCE_DIR}/examples/Loks.txt
    ${PROJECT_SOURCE_DIR}/examples/Melder.txt
    ${PROJECT_SOURCE_DIR}/examples/Weichen.txt
    ${PROJECT_SOURCE_DIR}/examples/example-host.py
    ${PROJECT_SOURCE_DIR}/packaging/mylayout.conf)

if(WIN32)
  # The Windows zip is one flat folder: the programs, README.txt, examples\.
  # The README goes as text with the line ends Windows editors expect.
  install(TARGETS ${P50X_PROGRAMS} RUNTIME DESTINATION .)
  configure_file(${PROJECT_SOURCE_DIR}/README.md ${PROJECT_BINARY_DIR}/README.txt @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
  install(FILES ${P50X_EXAMPLES} DESTINATION examples)
  return()
endif()

# Directories made by the install are world-readable whatever the umask, as a
# package's must be.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS ${P50X_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (the package) also drops the compiler notes that the C
# runtime's start files bring along, as Debian's own packaging does.
if(CMAKE_OBJCOPY)
  foreach(program ${P50X_PROGRAMS})
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
endif()")
  endforeach()
endif()
install(FILES ${P50X_EXAMPLES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# systemd reads units from /lib/systemd/system for the system's own packages
# and from PREFIX/lib/systemd/system for /usr/local and the like.
if(P50X_SYSTEMD_UNIT_DIR)
  set(P50X_UNIT_DIR ${P50X_SYSTEMD_UNIT_DIR})
elseif(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(P50X_UNIT_DIR /lib/systemd/system)
else()
  set(P50X_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
set(P50X_BRIDGE_PATH ${CMAKE_INSTALL_FULL_BINDIR}/p50x-bridge)
set(P50X_DOC_DIR ${CMAKE_INSTALL_FULL_DOCDIR})
configure_file(${PROJECT_SOURCE_DIR}/packaging/p50x-bridge@.service.in
               ${PROJECT_BINARY_DIR}/packaging/p50x-bridge@.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/p50x-bridge@.service DESTINATION ${P50X_UNIT_DIR})

# Manual pages and the changelog go compressed, as Debian wants them; -n keeps
# the archive free of names and times, so a rebuild gives the same bytes.
set(P50X_MAN_DATE "December 2026")
set(P50X_COMPRESSED)
set(P50X_MAN_PAGES p50x-bridge.1 p50x-hostsim.1 p50x-trace.1 p50x-host-protocol.7)
foreach(page ${P50X_MAN_PAGES})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/man/${page}.in
                 ${PROJECT_BINARY_DIR}/packaging/man/${page} @ONLY)
  list(APPEND P50X_COMPRESSED packaging/man/${page})
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog
               ${PROJECT_BINARY_DIR}/packaging/changelog COPYONLY)
list(APPEND P50X_COMPRESSED packaging/changelog)

set(P50X_COMPRESSED_OUTPUTS)
foreach(file ${P50X_COMPRESSED})
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/${file}.gz
    COMMAND sh -c "gzip -9nc '${PROJECT_BINARY_DIR}/${file}' > '${PROJECT_BINARY_DIR}/${file}.gz'"
    DEPENDS ${PROJECT_BINARY_DIR}/${file}
    VERBATIM)
  list(APPEND P50X_COMPRESSED_OUTPUTS ${PROJECT_BINARY_DIR}/${file}.gz)
endforeach()
add_custom_target(p50x_compressed_docs ALL DEPENDS ${P50X_COMPRESSED_OUTPUTS})

foreach(page ${P50X_MAN_PAGES})
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  install(FILES ${PROJECT_BINARY_DIR}/packaging/man/${page}.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
