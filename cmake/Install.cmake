# Where a desktop program lives. The executable sits in its own folder under libexec with the
# files it looks for beside itself (the hand pointer); bin holds a relative link to it, which
# Qt resolves when it asks for the program's folder.
include(GNUInstallDirs)

set(ORROWDALE_APP_ID org.tamberlyn.Orrowdale)
if(WIN32)
    # Windows keeps a program and its files in one folder.
    set(ORROWDALE_PROGRAM_DIR ${CMAKE_INSTALL_BINDIR})
else()
    set(ORROWDALE_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/orrowdale)
endif()

install(TARGETS orrowdale RUNTIME DESTINATION ${ORROWDALE_PROGRAM_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/HAND-M.CUR DESTINATION ${ORROWDALE_PROGRAM_DIR})

if(NOT WIN32)
    # The link's target, relative to bin, so the tree can move (DESTDIR, a package, /opt).
    file(RELATIVE_PATH ORROWDALE_LINK_TARGET ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
         ${CMAKE_INSTALL_PREFIX}/${ORROWDALE_PROGRAM_DIR}/orrowdale)
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/install)
    file(CREATE_LINK ${ORROWDALE_LINK_TARGET} ${CMAKE_CURRENT_BINARY_DIR}/install/orrowdale SYMBOLIC)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/install/orrowdale DESTINATION ${CMAKE_INSTALL_BINDIR})

    foreach(size 32 48 128 256)
        install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/orrowdale-${size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                RENAME ${ORROWDALE_APP_ID}.png)
    endforeach()
    install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/${ORROWDALE_APP_ID}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/${ORROWDALE_APP_ID}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
# The map gateway lives beside the program. On Linux a systemd user socket starts it on the
# first request; the link in sockets.target.wants enables the socket for every user, the way
# `systemctl --global enable` would, and goes with the package.
if(TARGET orrowdale-gateway)
    install(TARGETS orrowdale-gateway RUNTIME DESTINATION ${ORROWDALE_PROGRAM_DIR})
    if(NOT WIN32)
        set(ORROWDALE_GATEWAY_PATH ${CMAKE_INSTALL_PREFIX}/${ORROWDALE_PROGRAM_DIR}/orrowdale-gateway)
        foreach(unit socket service)
            configure_file(${PROJECT_SOURCE_DIR}/resources/systemd/orrowdale-gateway.${unit}.in
                           ${CMAKE_CURRENT_BINARY_DIR}/install/orrowdale-gateway.${unit} @ONLY)
            # systemd looks for user units under lib/, never under a multiarch libdir.
            install(FILES ${CMAKE_CURRENT_BINARY_DIR}/install/orrowdale-gateway.${unit}
                    DESTINATION lib/systemd/user)
        endforeach()
        file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/install/sockets.target.wants)
        file(CREATE_LINK ../orrowdale-gateway.socket
             ${CMAKE_CURRENT_BINARY_DIR}/install/sockets.target.wants/orrowdale-gateway.socket SYMBOLIC)
        install(FILES ${CMAKE_CURRENT_BINARY_DIR}/install/sockets.target.wants/orrowdale-gateway.socket
                DESTINATION lib/systemd/user/sockets.target.wants)
    endif()
endif()
# The skin is not worn by default: users copy it to x/o.cjs in the program's folder.
install(FILES ${PROJECT_SOURCE_DIR}/resources/skins/harbour.qss DESTINATION ${CMAKE_INSTALL_DATADIR}/orrowdale/skins)

# A Debian package: cpack -G DEB in a build folder (scripts/package does it all).
set(CPACK_PACKAGE_NAME orrowdale)
set(CPACK_PACKAGE_VENDOR "Team Tamberlyn")
set(CPACK_PACKAGE_CONTACT "${ORROWDALE_SUPPORT_EMAIL}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Save a map picture as a JPG file for every location of a list")
# Debian wants the long description in short lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Orrowdale turns a list of map locations into JPG pictures. Type in places or
zip codes, load them from text files or take the samples, choose an output
folder, a zoom level and a JPG quality, and start: every location becomes one
picture named after it.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tamberlyn.example/orrowdale")
set(CPACK_PACKAGE_INSTALL_DIRECTORY orrowdale)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Team Tamberlyn <${ORROWDALE_SUPPORT_EMAIL}>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps reads the executable's libraries; nothing is listed by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The desktop entry's "Choose map provider" action opens the gateway's page with xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# Map files are read through Qt SQL's SQLite driver, a plugin no library links to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_STRIP_FILES ON)
include(CPack)
