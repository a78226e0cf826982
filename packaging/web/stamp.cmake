# Names a built page after its content and lists its files for the service worker: the build's
# name is the start of a SHA-256 over every file's (the page's with the name left out), written
# into index.html, and service-worker.js is written from its template beside this script with the
# name and each file's own SHA-256, which the worker checks. A folder stamped before can be
# stamped again after a change to its files.
# Usage: cmake -DSITE=FOLDER -P packaging/web/stamp.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT IS_DIRECTORY "${SITE}" OR NOT EXISTS "${SITE}/index.html")
    message(FATAL_ERROR "stamp.cmake: SITE=${SITE} holds no index.html")
endif()
set(placeholder "@MIGLIAR_BUILD@")
set(worker "${SITE}/service-worker.js")

file(READ "${SITE}/index.html" page)
if(EXISTS "${worker}")
    file(STRINGS "${worker}" before REGEX "^const BUILD = \"[0-9a-f]+\";$")
    if(before MATCHES "\"([0-9a-f]+)\"")
        string(REPLACE "${CMAKE_MATCH_1}" "${placeholder}" page "${page}")
    endif()
endif()
string(FIND "${page}" "${placeholder}" at)
if(at LESS 0)
    message(FATAL_ERROR "stamp.cmake: ${SITE}/index.html does not name its build")
endif()

# The precompressed twins are the same files to a browser.
file(GLOB names RELATIVE "${SITE}" "${SITE}/*")
list(FILTER names EXCLUDE REGEX "\\.(gz|br)$|^service-worker\\.js$")
list(SORT names)
set(listed "")
foreach(name IN LISTS names)
    if(name STREQUAL "index.html")
        string(SHA256 sum "${page}")
    else()
        file(SHA256 "${SITE}/${name}" sum)
    endif()
    string(APPEND listed "${name} ${sum}\n")
endforeach()
string(SHA256 build "${listed}")
string(SUBSTRING "${build}" 0 16 build)

string(REPLACE "${placeholder}" "${build}" page "${page}")
file(WRITE "${SITE}/index.html" "${page}")
set(files "")
foreach(name IN LISTS names)
    file(SHA256 "${SITE}/${name}" sum)
    string(APPEND files "\n  \"${name}\": \"${sum}\",")
endforeach()
string(REGEX REPLACE ",$" "\n}" files "{${files}")
file(READ "${CMAKE_CURRENT_LIST_DIR}/service-worker.js" template)
string(REPLACE "${placeholder}" "${build}" template "${template}")
string(REPLACE "@MIGLIAR_FILES@" "${files}" template "${template}")
file(WRITE "${worker}" "${template}")
