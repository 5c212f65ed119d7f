# The Debian package (cpack -G DEB in a build tree configured with
# CMAKE_INSTALL_PREFIX=/usr): whatever the install rules put down, with the
# dependencies dpkg-shlibdeps finds. The version is the project's own.
set(QR7215_PACKAGE_NAME qr7215-utility)
set(QR7215_MAINTAINER "QR-7215 utility maintainers <maintainers@users.noreply.c-seed-9f9a1b8f.example>")
set(QR7215_HOMEPAGE "https://qr7215-utility.example.org" CACHE STRING "Home page named by the package and its AppStream data")
# The date of this version's release, for the AppStream data and the changelog.
set(QR7215_RELEASE_DATE 2026-12-07)
set(QR7215_APPSTREAM_ID org.example.qr7215_utility)

# Every installed program that links the device library finds it through its
# RUNPATH, whichever folder's CMakeLists made the program.
foreach(_program qr7215-utility qr7215ctl)
  if(TARGET ${_program})
    set_target_properties(${_program} PROPERTIES INSTALL_RPATH "${QR7215_INSTALL_RPATH}")
  endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QR7215_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QR7215_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor and configure the QR-7215 UPS module")
set(CPACK_PACKAGE_DESCRIPTION
  "A desktop utility for the QR-7215 uninterruptible power supply module,
which it reaches over a serial port with Modbus RTU. It shows the module's
live state (input and output voltage, power source, charging, battery level
and digital signals), runs a script of the operator's choice when DC input
is lost, reads and writes the module's configuration registers and keeps a
time-stamped log. It can start with the user's log-on and live in the tray.
.
The package also holds qr7215-sim, a simulator of the module on a
pseudo-terminal, so that everything can be tried without hardware.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QR7215_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The device library is the package's own, in a folder dpkg-shlibdeps does
# not search by itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${QR7215_BIN_DIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
