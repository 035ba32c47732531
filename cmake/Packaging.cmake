# Installed documents and the Debian package (cpack -G DEB).
#
# The discovery backend installs itself into QOR_CUPS_BACKEND_DIR under every
# name of QOR_BACKEND_NAMES, as hard links of one file (netbackend/); the two
# USB programs go to the binary folder. Here: the manual pages, the README
# and the package description.

# CPack runs this same file again after it has written the package (see
# CPACK_POST_BUILD_SCRIPTS below). Its archive writer stores hard links as
# separate copies, and then every backend name would be a file of its own;
# the package is rebuilt with dpkg-deb, whose archive keeps the names as
# hard links of one file.
if(CPACK_PACKAGE_FILES)
  list(GET CPACK_QOR_BACKEND_NAMES 0 _first)
  foreach(_deb ${CPACK_PACKAGE_FILES})
    set(_tree "${_deb}.tree")
    file(REMOVE_RECURSE "${_tree}")
    execute_process(COMMAND dpkg-deb -R "${_deb}" "${_tree}" RESULT_VARIABLE _rc)
    if(_rc)
      message(FATAL_ERROR "dpkg-deb -R ${_deb} failed: ${_rc}")
    endif()
    set(_dir "${_tree}${CPACK_QOR_BACKEND_DIR}")
    foreach(_name ${CPACK_QOR_BACKEND_NAMES})
      if(NOT _name STREQUAL _first)
        file(REMOVE "${_dir}/${_name}")
        file(CREATE_LINK "${_dir}/${_first}" "${_dir}/${_name}")
      endif()
    endforeach()
    # The installed size counted the copies.
    execute_process(COMMAND du -sk --exclude=DEBIAN "${_tree}" OUTPUT_VARIABLE _du)
    string(REGEX MATCH "^[0-9]+" _kib "${_du}")
    file(READ "${_tree}/DEBIAN/control" _control)
    string(REGEX REPLACE "Installed-Size: [0-9]+" "Installed-Size: ${_kib}" _control "${_control}")
    file(WRITE "${_tree}/DEBIAN/control" "${_control}")
    execute_process(COMMAND dpkg-deb --root-owner-group --build "${_tree}" "${_deb}"
                    RESULT_VARIABLE _rc OUTPUT_QUIET)
    file(REMOVE_RECURSE "${_tree}")
    if(_rc)
      message(FATAL_ERROR "dpkg-deb --build ${_deb} failed: ${_rc}")
    endif()
  endforeach()
  return()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/docs/man/netbackend.8
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/qorlist.1 ${PROJECT_SOURCE_DIR}/docs/man/qorconfig.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qorprint)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "qorprint maintainers <qorprint@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "CUPS network discovery backend and USB printer wireless set-up tools")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "netbackend finds printers on the local network by HCP discovery and lets CUPS\n"
    "print to them by hardware address; qorlist lists the wireless networks a\n"
    "USB-attached printer sees and qorconfig configures its wireless adapter.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# libusb-0.1 for both USB programs, libcrypto (in libssl3) for qorconfig; the
# backend hands jobs to CUPS's socket backend.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libusb-0.1-4, libssl3 | libssl3t64")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-daemon")
# Absolute install paths (the backend folder) must land in the staging
# folder too, so the package is staged with DESTDIR under the real prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_QOR_BACKEND_NAMES "${QOR_BACKEND_NAMES}")
set(CPACK_QOR_BACKEND_DIR "${QOR_CUPS_BACKEND_DIR}")
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_FILE})
include(CPack)
