# Installs the build into a scratch prefix and checks what a freedesktop
# desktop needs: programs in bin, the menu entry naming them and the icon, the
# icon at each size in a directory matching its real pixel size, the metadata.
# usage: cmake -DBUILD_DIR=... -DPREFIX=... -DPROGRAMS=a,b -P check-install.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc})")
endif()

set(failures "")
macro(expect_file path)
  if(NOT EXISTS ${PREFIX}/${path})
    list(APPEND failures "missing ${path}")
  endif()
endmacro()

string(REPLACE "," ";" PROGRAMS "${PROGRAMS}")
foreach(program IN LISTS PROGRAMS)
  expect_file(bin/${program})
endforeach()

set(desktop share/applications/org.velmora.Velmora.desktop)
expect_file(${desktop})
expect_file(share/metainfo/org.velmora.Velmora.metainfo.xml)
expect_file(share/icons/hicolor/scalable/apps/velmora.svg)

if(EXISTS ${PREFIX}/${desktop})
  file(STRINGS ${PREFIX}/${desktop} exec_line REGEX "^Exec=")
  file(STRINGS ${PREFIX}/${desktop} icon_line REGEX "^Icon=")
  string(REGEX REPLACE "^Exec=([^ ]+).*" "\\1" exec "${exec_line}")
  string(REGEX REPLACE "^Icon=" "" icon "${icon_line}")
  # The console's program; bin/velmora itself is checked above once it is built.
  if(NOT exec STREQUAL "velmora")
    list(APPEND failures "desktop entry runs '${exec}', the console is 'velmora'")
  endif()
  if(NOT icon STREQUAL "velmora")
    list(APPEND failures "desktop entry names icon '${icon}', installed is 'velmora'")
  endif()
endif()

foreach(size 16 22 24 32 48 64 128 256)
  set(png share/icons/hicolor/${size}x${size}/apps/velmora.png)
  expect_file(${png})
  if(EXISTS ${PREFIX}/${png})
    # PNG: 8-byte signature, IHDR length and type, then width and height as 32-bit big endian.
    file(READ ${PREFIX}/${png} ihdr OFFSET 16 LIMIT 8 HEX)
    string(SUBSTRING "${ihdr}" 0 8 w_hex)
    string(SUBSTRING "${ihdr}" 8 8 h_hex)
    math(EXPR w "0x${w_hex}")
    math(EXPR h "0x${h_hex}")
    if(NOT w EQUAL size OR NOT h EQUAL size)
      list(APPEND failures "${png} is ${w}x${h}")
    endif()
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "install layout:\n  ${text}")
endif()
message(STATUS "install layout ok (programs: ${PROGRAMS})")
