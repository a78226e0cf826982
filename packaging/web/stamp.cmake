# Names a built page after its content and lists its files for the service worker: the build's
# name is the start of a SHA-256 over every file's (the page's script with the name left out),
# written into migliar-page.js, and service-worker.js is written from its template beside this
# script with the name and each file's own SHA-256, which the worker checks. A folder stamped
# before can be stamped again after a change to its files.
# Usage: cmake -DSITE=FOLDER -P packaging/web/stamp.cmake
cmake_minimum_required(VERSION 3.25)
set(script migliar-page.js)
get_filename_component(SITE "${SITE}" ABSOLUTE)
if(NOT IS_DIRECTORY "${SITE}" OR NOT EXISTS "${SITE}/${script}")
    message(FATAL_ERROR "stamp.cmake: SITE=${SITE} holds no ${script}")
endif()
set(placeholder "@MIGLIAR_BUILD@")
set(worker "${SITE}/service-worker.js")

file(READ "${SITE}/${script}" named)
if(EXISTS "${worker}")
    file(STRINGS "${worker}" before REGEX "^const BUILD = \"[0-9a-f]+\";$")
    if(before MATCHES "\"([0-9a-f]+)\"")
        string(REPLACE "${CMAKE_MATCH_1}" "${placeholder}" named "${named}")
    endif()
endif()
string(FIND "${named}" "${placeholder}" at)
if(at LESS 0)
    message(FATAL_ERROR "stamp.cmake: ${SITE}/${script} does not name its build")
endif()

# The precompressed twins are the same files to a browser.
file(GLOB names RELATIVE "${SITE}" "${SITE}/*")
list(FILTER names EXCLUDE REGEX "\\.(gz|br)$|^service-worker\\.js$")
list(SORT names)
set(listed "")
foreach(name IN LISTS names)
    if(name STREQUAL script)
        string(SHA256 sum "${named}")
    else()
        file(SHA256 "${SITE}/${name}" sum)
    endif()
    string(APPEND listed "${name} ${sum}\n")
endforeach()
# The worker's own code is the build's too.
file(SHA256 "${CMAKE_CURRENT_LIST_DIR}/service-worker.js" sum)
string(APPEND listed "service-worker.js ${sum}\n")
string(SHA256 build "${listed}")
string(SUBSTRING "${build}" 0 16 build)

string(REPLACE "${placeholder}" "${build}" named "${named}")
file(WRITE "${SITE}/${script}" "${named}")
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
