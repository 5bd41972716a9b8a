# Puts the page together: index.html carries the worker's script (the module,
# then web/worker.js) as text that page.js starts from a Blob URL.
# cmake -D SOURCE_DIR=web -D MODULE=<quarnel_module.js> -D PAGE_DIR=<out> -D VERSION=<x.y.z> -P assemble_page.cmake
file(READ ${MODULE} module)
file(READ ${SOURCE_DIR}/worker.js worker)
string(APPEND module "\n" "${worker}")
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
