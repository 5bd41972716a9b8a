# Puts the page together: index.html carries the worker's script (the module,
# then web/worker/'s parts in turn) as one text that page.js starts from a
# Blob URL: such a worker could load no other script, for the page's policy
# allows none from blob: and a page opened from a folder none from there.
# With MODULE_SIMD, the SIMD build's WebAssembly goes before it as
# quarnelSimdWasm, which the module compiles where the engine can.
# cmake -D SOURCE_DIR=web -D MODULE=<quarnel_module.js> [-D MODULE_SIMD=<quarnel_module_simd.js>]
#       -D PAGE_DIR=<out> -D VERSION=<x.y.z> -D WORKER_PARTS=<part,part,...> -P assemble_page.cmake
file(READ ${MODULE} module)

# The module's WebAssembly as the data: URL its script names it by, in `text`.
function(wasm_of text out)
  set(marker "wasmBinaryFile=\"data:application/octet-stream;base64,")
  string(FIND "${text}" "${marker}" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "no embedded WebAssembly found in a module's script")
  endif()
  math(EXPR start "${start} + 16")  # past wasmBinaryFile="
  string(SUBSTRING "${text}" ${start} -1 rest)
  string(FIND "${rest}" "\"" length)
  string(SUBSTRING "${rest}" 0 ${length} url)
  set(${out} "${url}" PARENT_SCOPE)
endfunction()

if(MODULE_SIMD)
  # One script serves both: the two builds must differ in their WebAssembly alone.
  file(READ ${MODULE_SIMD} simd)
  wasm_of("${module}" plain_wasm)
  wasm_of("${simd}" simd_wasm)
  string(REPLACE "${simd_wasm}" "${plain_wasm}" simd_as_plain "${simd}")
  if(NOT simd_as_plain STREQUAL module)
    message(FATAL_ERROR "${MODULE_SIMD} differs from ${MODULE} in more than its WebAssembly")
  endif()
  set(module "const quarnelSimdWasm = '${simd_wasm}';\n${module}")
endif()
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
