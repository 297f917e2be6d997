# The release packages, made by CPack (scripts/release.sh drives both builds):
#
# - Windows build: a zip with stubpack.exe, launcher.exe (build it without
#   MSISTUB_PUBLIC_KEY: the release launcher has no key) and the docs, all in
#   one folder, where `stubpack stamp` finds launcher.exe beside stubpack.exe.
# - Host build, given MSISTUB_RELEASE_LAUNCHER (the Windows build's
#   launcher.exe): a Debian package with /usr/bin/stubpack, its man page,
#   /usr/share/msistub/launcher.exe and the docs under /usr/share/doc/msistub/,
#   its library dependencies found by dpkg-shlibdeps.
#
# Both are byte-identical when built twice from the same sources: every file
# and folder has fixed permissions, and CPack's archives take their times from
# SOURCE_DATE_EPOCH, which the release script sets (see cmake/reproducible.cmake
# for the programs themselves).

# install() runs without building everything first: the release script builds
# only what the packages hold.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(msistub_docs ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/publishing.md)

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "msistub")
set(CPACK_PACKAGE_CONTACT "msistub maintainers <msistub@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "one signed setup.exe from Windows Installer packages (stubpack and the release launcher)")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  install(TARGETS stubpack launcher RUNTIME DESTINATION .)
  install(FILES ${msistub_docs} DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  if(MSISTUB_RELEASE_LAUNCHER)  # declared in CMakeLists.txt
    set(CPACK_STRIP_FILES ON)
    install(TARGETS stubpack RUNTIME DESTINATION bin)
    install(FILES ${MSISTUB_RELEASE_LAUNCHER} DESTINATION share/${PROJECT_NAME}
            RENAME launcher.exe)
    install(FILES ${msistub_docs} DESTINATION share/doc/${PROJECT_NAME})
    # The man page, compressed as Debian keeps them (gzip -n: no name, no time).
    set(man_page ${CMAKE_BINARY_DIR}/stubpack.1.gz)
    add_custom_command(OUTPUT ${man_page}
      COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/stubpack.1 > ${man_page}
      DEPENDS ${CMAKE_SOURCE_DIR}/docs/stubpack.1 VERBATIM)
    add_custom_target(man_page DEPENDS ${man_page})
    install(FILES ${man_page} DESTINATION share/man/man1)

    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION devel)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "one signed setup.exe from Windows Installer packages\nstubpack makes key pairs, stamps the publisher's public key into the release\nlauncher (a 64-bit Windows program, installed here without a key), packs MSI\npackages and their cabinets into it as signed, compressed blocks, and\ninspects the result with the launcher's own reading code.")
  endif()
endif()

include(CPack)
