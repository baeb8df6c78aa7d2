# Installs the programs and describes the Debian package. Included after every
# subdirectory, so the targets exist here if their folders were built.
include(GNUInstallDirs)

# Where the build puts each program, for scripts: velmora-programs.sh in the
# build directory sets velmora_bin and velmora_sim_bin when sourced.
set(program_paths "")
foreach(program velmora velmora-sim velmora-probe)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    string(REPLACE "-" "_" var ${program})
    string(APPEND program_paths "${var}_bin='$<TARGET_FILE:${program}>'\n")
  endif()
endforeach()
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/velmora-programs.sh CONTENT "${program_paths}")

if(UNIX AND NOT APPLE)
  # Debian puts the licence at /usr/share/doc/<package>/copyright.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmora RENAME copyright)
endif()

set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "Velmora developers <velmora@example.org>")
set(CPACK_PACKAGE_DESCRIPTION "Velmora drives a robot vacuum cleaner through the serial command interface
the robot publishes, over an RS-232 cable, USB or Bluetooth serial adapter:
it wakes the robot, starts safe mode, drives it by held direction buttons,
starts its cleaning cycles, sends raw command bytes and shows its sensor
packet decoded live, stopping the robot on a bump, a cliff or a wheel over
current. The robot simulator velmora-sim lets it be tried without a robot.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velmora developers <velmora@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmora.example.org/")
  # Library dependencies are read from the binaries by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The face the console was drawn for; without it the console shrinks its text to fit.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
else()
  set(CPACK_GENERATOR ZIP)
endif()

include(CPack)
