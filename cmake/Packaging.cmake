# `make package`: a Debian package from the native build (installed under
# /usr); `make package-windows`: a zip from the mingw build.
set(CPACK_PACKAGE_NAME p50x-bridge)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "p50x-bridge maintainers")
set(P50X_MAINTAINER "p50x-bridge maintainers <maintainers@users.noreply.c-seed-00826498.example>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT ${P50X_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "P50X command station on a serial line for a model-railway host application")
set(CPACK_PACKAGE_DESCRIPTION
    "p50x-bridge plays a model-railway command station towards control software
on a serial line: P50 and P50Xa text commands and P50Xb binary commands, each
answered with the bytes a station sends. It reports locomotive and turnout
commands to a host application over TCP and takes in its feedback contact
reports. A systemd template unit runs one bridge per layout; p50x-trace shows
the logged serial traffic in words.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME p50x-bridge-${PROJECT_VERSION}-windows)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${P50X_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
