# The Debian package: `cpack -G DEB` in the build folder. Depends come from
# the libraries the installed files link (dpkg-shlibdeps: the Vulkan loader,
# FFmpeg's libraries, LTTng-UST for the provider), plus what is loaded
# without being linked: Mesa's Vulkan drivers and the x264 encoder library.
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR "Ostrel")
set(CPACK_PACKAGE_CONTACT "The Ostrel developers <developers@ostrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GPU render-and-encode pipeline benchmark writing H.264 video")
set(CPACK_PACKAGE_DESCRIPTION "Ostrel renders an animated procedural picture on the GPU with Vulkan,
hands every frame through a pool of recycled samples to an H.264 encoder,
writes the video file and times the whole render-and-encode pipeline. It
also lists the graphics adapters and can debug itself, writing minidumps.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The manual page, the copyright file and the changelog.
add_subdirectory(packaging)
# The Debian revision comes from the changelog's latest entry, which must be
# for this version.
file(STRINGS packaging/debian/changelog OSTREL_DEBIAN_CHANGELOG LIMIT_COUNT 1)
string(REPLACE "." "\\." OSTREL_VERSION_PATTERN ${PROJECT_VERSION})
if(NOT OSTREL_DEBIAN_CHANGELOG MATCHES "^ostrel \\(${OSTREL_VERSION_PATTERN}-([0-9]+)\\) ")
  message(FATAL_ERROR "packaging/debian/changelog has no entry for ${PROJECT_VERSION} on top: ${OSTREL_DEBIAN_CHANGELOG}")
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_1})
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
