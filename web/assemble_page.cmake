# Puts the page together: index.html carries the worker's script (the module,
# then web/worker/'s parts in turn) as one text that page.js starts from a
# Blob URL: such a worker could load no other script, for the page's policy
# allows none from blob: and a page opened from a folder none from there.
# cmake -D SOURCE_DIR=web -D MODULE=<quarnel_module.js> -D PAGE_DIR=<out> -D VERSION=<x.y.z>
#       -D WORKER_PARTS=<part,part,...> -P assemble_page.cmake
file(READ ${MODULE} module)
string(REPLACE "," ";" parts "${WORKER_PARTS}")
foreach(part IN LISTS parts)
  file(READ ${SOURCE_DIR}/worker/${part}.js worker)
  string(APPEND module "\n" "${worker}")
endforeach()
# The text sits inside a <script> element, which the first "</script" would end.
string(TOLOWER "${module}" lower)
string(FIND "${lower}" "</script" closing)
if(NOT closing EQUAL -1)
  message(FATAL_ERROR "the worker's script holds \"</script\"; it cannot be embedded in index.html")
endif()
file(READ ${SOURCE_DIR}/index.html page)
string(REPLACE "@QUARNEL_VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@QUARNEL_WORKER@" "${module}" page "${page}")
file(MAKE_DIRECTORY ${PAGE_DIR})
file(WRITE ${PAGE_DIR}/index.html "${page}")
configure_file(${SOURCE_DIR}/page.js ${PAGE_DIR}/quarnel.js COPYONLY)
configure_file(${SOURCE_DIR}/style.css ${PAGE_DIR}/style.css COPYONLY)
