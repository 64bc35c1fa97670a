# Run by CPack once it has made the packages (CPACK_POST_BUILD_SCRIPTS):
# does to the Debian packages what CPack's generator does not.
#
# ostrel: adds the Built-Using field (CPACK_OSTREL_BUILT_USING), and drops
# the postinst and postrm that CPack writes to call ldconfig whenever a
# shared object lies in a folder of /usr/lib. The trace provider is a
# private module that the tool loads by its path: ldconfig has no business
# with it, and the package needs no maintainer scripts.
#
# ostrel-dbgsym: lists its files in md5sums by their paths in the package
# (CPack writes the paths of its staging folder), and links its
# documentation folder to ostrel's, as Debian's own -dbgsym packages do, for
# the copyright file and the changelog.
#
# Each package is unpacked with dpkg-deb -R and built again with the same
# files, owned by root. Packages of other generators are left alone.

function(ostrel_run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE Result ERROR_VARIABLE Error OUTPUT_QUIET)
  if(NOT Result EQUAL 0)
    message(FATAL_ERROR "${ARGV}: ${Error}")
  endif()
endfunction()

foreach(Package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT Package MATCHES "\\.d?deb$")
    continue()
  endif()
  find_program(OSTREL_DPKG_DEB dpkg-deb REQUIRED)
  get_filename_component(Name "${Package}" NAME)
  set(Root "${CPACK_TOPLEVEL_DIRECTORY}/complete/${Name}")
  file(REMOVE_RECURSE "${Root}")
  file(MAKE_DIRECTORY "${CPACK_TOPLEVEL_DIRECTORY}/complete")
  ostrel_run(${OSTREL_DPKG_DEB} -R "${Package}" "${Root}")
  file(STRINGS "${Root}/DEBIAN/control" PackageName REGEX "^Package: ")
  string(REGEX REPLACE "^Package: " "" PackageName "${PackageName}")

  if(PackageName STREQUAL CPACK_PACKAGE_NAME)
    file(REMOVE "${Root}/DEBIAN/postinst" "${Root}/DEBIAN/postrm")
    if(CPACK_OSTREL_BUILT_USING)
      file(READ "${Root}/DEBIAN/control" Control)
      string(REPLACE "\nDescription: " "\nBuilt-Using: ${CPACK_OSTREL_BUILT_USING}\nDescription: " Control "${Control}")
      file(WRITE "${Root}/DEBIAN/control" "${Control}")
    endif()
  elseif(PackageName STREQUAL "${CPACK_PACKAGE_NAME}-dbgsym")
    file(MAKE_DIRECTORY "${Root}/usr/share/doc")
    file(CREATE_LINK ${CPACK_PACKAGE_NAME} "${Root}/usr/share/doc/${PackageName}" SYMBOLIC)
    file(GLOB_RECURSE Files LIST_DIRECTORIES false RELATIVE "${Root}" "${Root}/usr/*")
    list(SORT Files)
    set(Sums "")
    foreach(File IN LISTS Files)
      if(NOT IS_SYMLINK "${Root}/${File}")
        file(MD5 "${Root}/${File}" Sum)
        string(APPEND Sums "${Sum}  ${File}\n")
      endif()
    endforeach()
    file(WRITE "${Root}/DEBIAN/md5sums" "${Sums}")
  endif()

  ostrel_run(${OSTREL_DPKG_DEB} --root-owner-group -b "${Root}" "${Package}")
  file(REMOVE_RECURSE "${Root}")
endforeach()
