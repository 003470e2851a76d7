# Installation and the Debian package `velmar` (cpack -G DEB).
#
#   <prefix>/lib/velmar/        velmar, velmard, velmar-convert, ecrsim,
#                               libqarn_slm1.so, manvelmar.pdf (the program
#                               folder: programs find the library beside them)
#   <prefix>/bin/               links to the four programs
#   <prefix>/share/applications/velmar.desktop, icons in share/icons/hicolor
#   <prefix>/share/velmar/autostart/velmar.desktop   copy it to
#                               ~/.config/autostart/ to start velmar at login
#   <prefix>/lib/systemd/system/velmard.service       not enabled
#   <prefix>/share/doc/velmar/  README, the integrator's guide, the protocol

set(velmar_programs velmar velmard velmar-convert ecrsim)
file(RELATIVE_PATH velmar_program_rel ${CMAKE_INSTALL_PREFIX} ${VELMAR_PROGRAM_DIR})
install(TARGETS ${velmar_programs} RUNTIME DESTINATION ${velmar_program_rel})
install(TARGETS qarn_slm1 LIBRARY DESTINATION ${velmar_program_rel} NAMELINK_SKIP)
install(FILES ${CMAKE_BINARY_DIR}/bin/manvelmar.pdf DESTINATION ${velmar_program_rel})

# bin/ holds relative links, so the package works wherever it is unpacked.
set(velmar_links ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${velmar_links})
foreach(program IN LISTS velmar_programs)
    file(CREATE_LINK ../${velmar_program_rel}/${program} ${velmar_links}/${program} SYMBOLIC)
    install(FILES ${velmar_links}/${program} DESTINATION bin)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/velmar.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/velmar-autostart.desktop
        DESTINATION share/velmar/autostart RENAME velmar.desktop)
foreach(size 48 256)
    install(FILES ${CMAKE_BINARY_DIR}/icons/velmar-${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME velmar.png)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/velmard.service.in
               ${CMAKE_BINARY_DIR}/packaging/velmard.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/velmard.service DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/docs/INTEGRATION.md
              ${PROJECT_SOURCE_DIR}/docs/PROTOCOL.md
        DESTINATION share/doc/velmar)
install(FILES ${PROJECT_SOURCE_DIR}/docs/examples/host-send.sh
        DESTINATION share/doc/velmar/examples
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${VELMAR_COMPANY}")
set(CPACK_PACKAGE_CONTACT "Qarnwerk Velmar team <velmar@qarnwerk.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Fiscal-receipt print driver for Italian point-of-sale workstations")
set(CPACK_PACKAGE_DESCRIPTION "Velmar takes a host program's receipt files from a data directory,
translates them into the fiscal register's Xon-Xoff commands, prints them over
a serial line or TCP and answers the host with result files. It holds velmar
(with the operator's window), velmard (the service), velmar-convert and the
register simulator ecrsim.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), libqt6serialport6 (>= 6.4), libqt6xml6 (>= 6.4), qt6-translations-l10n, adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
