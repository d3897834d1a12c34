file(REMOVE_RECURSE ${DEST})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${DEST}/usr RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

# Exactly these: a test or tool program slipping in would show up here.
set(expected
    usr/bin/orrowdale
    usr/lib/systemd/user/orrowdale-gateway.service
    usr/lib/systemd/user/orrowdale-gateway.socket
    usr/lib/systemd/user/sockets.target.wants/orrowdale-gateway.socket
    usr/libexec/orrowdale/HAND-M.CUR
    usr/libexec/orrowdale/orrowdale
    usr/libexec/orrowdale/orrowdale-gateway
    usr/share/applications/org.tamberlyn.Orrowdale.desktop
    usr/share/icons/hicolor/128x128/apps/org.tamberlyn.Orrowdale.png
    usr/share/icons/hicolor/256x256/apps/org.tamberlyn.Orrowdale.png
    usr/share/icons/hicolor/32x32/apps/org.tamberlyn.Orrowdale.png
    usr/share/icons/hicolor/48x48/apps/org.tamberlyn.Orrowdale.png
    usr/share/metainfo/org.tamberlyn.Orrowdale.metainfo.xml
    usr/share/orrowdale/skins/harbour.qss)
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${DEST} ${DEST}/*)
list(SORT installed)
if(NOT installed STREQUAL expected)
    message(FATAL_ERROR "installed files differ.\nexpected: ${expected}\ninstalled: ${installed}")
endif()

# The link must be relative, so the tree works wherever it is unpacked.
file(READ_SYMLINK ${DEST}/usr/bin/orrowdale target)
if(NOT target STREQUAL "../libexec/orrowdale/orrowdale")
    message(FATAL_ERROR "usr/bin/orrowdale points to ${target}")
endif()

# The socket is enabled by a relative link, and the service starts the gateway installed beside the program.
file(READ_SYMLINK ${DEST}/usr/lib/systemd/user/sockets.target.wants/orrowdale-gateway.socket target)
if(NOT target STREQUAL "../orrowdale-gateway.socket")
    message(FATAL_ERROR "the socket's enabling link points to ${target}")
endif()
file(STRINGS ${DEST}/usr/lib/systemd/user/orrowdale-gateway.service exec REGEX "^ExecStart=")
if(NOT exec MATCHES "^ExecStart=[^ ]*/libexec/orrowdale/orrowdale-gateway --idle-exit [1-9][0-9]*$")
    message(FATAL_ERROR "the service starts ${exec}")
endif()

execute_process(COMMAND ${DEST}/usr/bin/orrowdale --check-install RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_QUIET)
if(NOT rc EQUAL 0 OR NOT out MATCHES "program folder: ${DEST}/usr/libexec/orrowdale\n")
    message(FATAL_ERROR "the installed program did not find its pointer (${rc}):\n${out}")
endif()

# Without its pointer the check says so.
file(REMOVE ${DEST}/usr/libexec/orrowdale/HAND-M.CUR)
execute_process(COMMAND ${DEST}/usr/bin/orrowdale --check-install RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(rc EQUAL 0)
    message(FATAL_ERROR "--check-install passed without HAND-M.CUR")
endif()
file(REMOVE_RECURSE ${DEST})
