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

# In a browser: one folder for any static web server, www/, made anew whenever the game is linked
# or a file of the page changes: the page's own files, the icons, the game; then named after its
# content for the service worker (stamp.cmake).
if(EMSCRIPTEN)
    set(site "${CMAKE_BINARY_DIR}/www")
    set(web "${packaging}/web")
    set(page "${web}/index.html" "${web}/migliar-page.js" "${web}/migliar-page.css"
        "${web}/manifest.webmanifest" "${data}/migliar.png" "${data}/icons/migliar-180.png"
        "${data}/icons/migliar-192.png" "${data}/icons/migliar-512.png")
    set(game "$<TARGET_FILE_DIR:migliar>/migliar.js" "$<TARGET_FILE_DIR:migliar>/migliar.wasm")
    # Qt 6.4's loader would fetch the game's script and eval() it, which a strict policy refuses:
    # the page loads it itself. Later Qt's loader is needed.
    if(Qt6_VERSION VERSION_GREATER_EQUAL 6.5)
        list(APPEND game "$<TARGET_FILE_DIR:migliar>/qtloader.js")
    endif()
    add_custom_command(OUTPUT "${site}/service-worker.js"
        COMMAND ${CMAKE_COMMAND} -E rm -rf "${site}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${site}"
        COMMAND ${CMAKE_COMMAND} -E copy ${page} ${game} "${site}"
        COMMAND ${CMAKE_COMMAND} -DSITE=${site} -P "${web}/stamp.cmake"
        DEPENDS migliar ${page} "${web}/service-worker.js" "${web}/stamp.cmake"
        VERBATIM)
    add_custom_target(site ALL DEPENDS "${site}/service-worker.js")
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
