# What `cmake --install` puts where, and the Debian package CPack makes of it.
# The icons are installed by assets/, next to the pictures they are made from.
include(GNUInstallDirs)

if(TARGET lunadio)
  install(TARGETS lunadio RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The executable finds its modules at ../${LUNADIO_MODULE_SUBDIR} from its own folder.
  install(TARGETS lunadio_player_module lunadio_media_module
          LIBRARY DESTINATION ${LUNADIO_MODULE_SUBDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/desktop/data/lunadio.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/data/org.lunadio.Lunadio.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Debian's policy: every package carries its copyright file in its doc folder.
install(FILES ${PROJECT_SOURCE_DIR}/desktop/data/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/lunadio)

# The suite installs and packages what it has just built; `make install` builds nothing first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# So building the player alone (scripts/package.sh does) makes every file the install takes.
if(TARGET lunadio AND TARGET lunadio_desktop_icons)
  add_dependencies(lunadio lunadio_desktop_icons)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lunadio)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Lunadio <lunadio@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Lecteur de musique dans la zone de notification")
set(CPACK_PACKAGE_DESCRIPTION
    "Lunadio is a small tray music player with a French interface. It plays WAV, Ogg Vorbis,\n\
FLAC and MP3 files, answers the desktop's media keys, and opens the files handed to a second\n\
start in the instance already running.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The shared libraries come from the binary; what it loads by name at run time is listed here:
# playbin, the Ogg and audio sinks (base), the MP3 decoder, its parser and the automatic sink
# (good), Qt's French texts for the standard dialog buttons, and SDL2, the sound output where no
# sound server answers (libpulse comes from the binary).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, qt6-translations-l10n, libsdl2-2.0-0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-pulseaudio")
include(CPack)
