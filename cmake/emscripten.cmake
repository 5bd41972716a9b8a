# Builds the web page with Debian's emscripten package (which needs node-acorn):
#   cmake --preset web && cmake --build --preset web
# Emscripten's own toolchain file, wherever emcc lives; its link step runs
# Node.js scripts that need Debian's Node.js modules (acorn) on NODE_PATH.
find_program(QUARNEL_EMCC emcc REQUIRED)
get_filename_component(quarnel_emscripten_root ${QUARNEL_EMCC} REALPATH)
get_filename_component(quarnel_emscripten_root ${quarnel_emscripten_root} DIRECTORY)
include(${quarnel_emscripten_root}/cmake/Modules/Platform/Emscripten.cmake)
set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
