# The Windows build's package: `cpack -G ZIP` in its build folder gives
# ostrel-VERSION-win64.zip, ostrel.exe and README-Windows.txt (CR LF).
if(WIN32)
  set(CPACK_PACKAGE_NAME ostrel)
  set(CPACK_PACKAGE_VENDOR "Ostrel")
  set(CPACK_PACKAGE_FILE_NAME ostrel-${PROJECT_VERSION}-win64)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_STRIP_FILES OFF)
  configure_file(README-Windows.txt ${CMAKE_BINARY_DIR}/README-Windows.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README-Windows.txt DESTINATION .)
  include(CPack)
  return()
endif()

# The Debian package: `cpack -G DEB` in the build folder. Depends come from
# the libraries the installed files link (dpkg-shlibdeps: the Vulkan loader,
# FFmpeg's libraries, LTTng-UST for the provider), plus what is loaded
# without being linked: Mesa's Vulkan drivers and the x264 encoder library.
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR "Ostrel")
set(CPACK_PACKAGE_CONTACT "Ostrel developers <ostrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GPU render-and-encode pipeline benchmark writing H.264 video")
set(CPACK_PACKAGE_DESCRIPTION "Ostrel renders an animated procedural picture on the GPU with Vulkan,
hands every frame through a pool of recycled samples to an H.264 encoder,
writes the video file and times the whole render-and-encode pipeline. It
also lists the graphics adapters and can debug itself, writing minidumps.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debian names the x264 library package after its ABI number, the middle
# part of the library's version (0.164.3095 is libx264-164).
find_package(PkgConfig QUIET)
pkg_check_modules(X264 QUIET x264)
set(OSTREL_X264_PACKAGE libx264-164)
if(X264_VERSION MATCHES "^[0-9]+\\.([0-9]+)")
  set(OSTREL_X264_PACKAGE libx264-${CMAKE_MATCH_1})
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "mesa-vulkan-drivers, ${OSTREL_X264_PACKAGE}")
# Not stripped: the minidumps that -Debug writes are read with the tool's
# own symbols.
set(CPACK_STRIP_FILES OFF)
include(CPack)
