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
# FFmpeg's libraries, which bring x264, LTTng-UST for the provider), plus
# what is loaded without being linked: a Vulkan driver.
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
# glslang and SPIRV-Tools are linked statically: Built-Using names the
# source packages they come from (see packaging/debian/CompletePackages.cmake).
execute_process(COMMAND dpkg-query -W -f "\${source:Package} (= \${source:Version})\n" glslang-dev spirv-tools
                OUTPUT_VARIABLE CPACK_OSTREL_BUILT_USING OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE OSTREL_DPKG_QUERY ERROR_QUIET)
if(OSTREL_DPKG_QUERY EQUAL 0)
  string(REPLACE "\n" ", " CPACK_OSTREL_BUILT_USING "${CPACK_OSTREL_BUILT_USING}")
else()
  message(STATUS "glslang-dev and spirv-tools are not Debian's: the package goes without Built-Using")
  set(CPACK_OSTREL_BUILT_USING "")
endif()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "mesa-vulkan-drivers | vulkan-icd")
# The hardware encoders need their drivers: VA-API's, and NVIDIA's encoder
# and CUDA libraries (non-free) for NVENC.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "lttng-tools, lldb | gdb, va-driver-all, libnvidia-encode1, libcuda1")
# Stripped by CPack's Debian generator itself, which keeps the symbols in
# ostrel-dbgsym (CPACK_STRIP_FILES would strip them before it could): lldb
# and gdb find them by build ID, also for the minidumps that -Debug writes.
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# What CPack's Debian generator leaves to do: Built-Using, no ldconfig
# calls, the -dbgsym package's md5sums and documentation.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/debian/CompletePackages.cmake)
include(CPack)
