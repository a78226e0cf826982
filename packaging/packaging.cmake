# How the game reaches a machine: on Windows, the executable's icon and version resource; on
# Linux, an install the way a desktop expects it (menu entry, AppStream data, icons, manual
# page) with cmake --install, and a .deb with cpack -G DEB in the build folder.
include(GNUInstallDirs)

# The reverse-DNS id of our publisher's address: it names the menu entry, the AppStream
# component and the icon, and the game tells it to the desktop.
set(MIGLIAR_APP_ID example.migliar.Migliar)
target_compile_definitions(migliar PRIVATE MIGLIAR_APP_ID="${MIGLIAR_APP_ID}")
set(packaging "${CMAKE_CURRENT_LIST_DIR}")
set(data "${CMAKE_CURRENT_SOURCE_DIR}/data")

if(WIN32)
    enable_language(RC)
    target_sources(migliar PRIVATE "${packaging}/migliar.rc")
    set_source_files_properties("${packaging}/migliar.rc" PROPERTIES INCLUDE_DIRECTORIES "${data}")
endif()

# In a browser: one folder for any static web server, www/, with the page, the game, Qt's loader
# and the icon.
if(EMSCRIPTEN)
    set(site "${CMAKE_BINARY_DIR}/www")
    # The page and the icon again whenever they change, the game whenever it is linked.
    configure_file("${packaging}/web/index.html" "${site}/index.html" COPYONLY)
    configure_file("${data}/migliar.png" "${site}/migliar.png" COPYONLY)
    add_custom_command(TARGET migliar POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy "$<TARGET_FILE_DIR:migliar>/migliar.js"
            "$<TARGET_FILE_DIR:migliar>/migliar.wasm" "$<TARGET_FILE_DIR:migliar>/qtloader.js"
            "${site}"
        VERBATIM)
    return()
endif()

install(TARGETS migliar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX AND NOT APPLE)
    install(FILES "${packaging}/${MIGLIAR_APP_ID}.desktop"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES "${packaging}/${MIGLIAR_APP_ID}.metainfo.xml"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    set(hicolor ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
    foreach(size 16 32 48 64 128 256)
        set(png "${data}/icons/migliar-${size}.png")
        if(size EQUAL 32)
            set(png "${data}/migliar.png") # the window icon itself
        endif()
        install(FILES "${png}" DESTINATION ${hicolor}/${size}x${size}/apps
            RENAME ${MIGLIAR_APP_ID}.png)
    endforeach()
    install(FILES "${data}/migliar.svg" DESTINATION ${hicolor}/scalable/apps
        RENAME ${MIGLIAR_APP_ID}.svg)

    # Debian wants the manual page and the changelog compressed, with no time stamp inside.
    set(compressed)
    foreach(file migliar.6 changelog)
        set(copy "${CMAKE_CURRENT_BINARY_DIR}/packaging/${file}")
        add_custom_command(OUTPUT "${copy}.gz"
            COMMAND ${CMAKE_COMMAND} -E copy "${packaging}/${file}" "${copy}"
            COMMAND gzip -9nf "${copy}"
            DEPENDS "${packaging}/${file}" VERBATIM)
        list(APPEND compressed "${copy}.gz")
    endforeach()
    add_custom_target(migliar_compressed_docs ALL DEPENDS ${compressed})
    install(FILES "${CMAKE_CURRENT_BINARY_DIR}/packaging/migliar.6.gz"
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
    install(FILES "${packaging}/copyright" "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz"
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME migliar)
set(CPACK_PACKAGE_VERSION
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
set(CPACK_PACKAGE_VENDOR "www.migliar.example")
set(CPACK_PACKAGE_CONTACT "Migliar team <info@migliar.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "letter guessing game for school IT lessons, in Bulgarian")
set(CPACK_PACKAGE_DESCRIPTION
    "A capital Cyrillic letter hides under a cover that slides away
diagonally, step by step, from one of four corners or in a random
direction; the pupil clicks the letter they think it is, as early as
they dare. The game tells whether the guess was right and after how many
steps, and counts the right and the wrong guesses. Its window is in
Bulgarian.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A game for lessons: Debian files such games under education, and keeps "games" for
# programs in /usr/games.
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.migliar.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window asks for Times New Roman: Liberation Serif is its metric twin, so every text keeps
# its size and place.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation)
include(CPack)
