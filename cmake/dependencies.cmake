# Third-party libraries. scripts/setup installs all of them.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

# ONNX Runtime 1.26.0, unpacked by scripts/setup into third_party/onnxruntime.
set(LE_ORT_ROOT "${PROJECT_SOURCE_DIR}/third_party/onnxruntime" CACHE PATH "ONNX Runtime headers and library")
if(NOT EXISTS "${LE_ORT_ROOT}/include/onnxruntime_cxx_api.h" OR NOT EXISTS "${LE_ORT_ROOT}/lib/libonnxruntime.so.1")
  message(FATAL_ERROR "ONNX Runtime not found under ${LE_ORT_ROOT}: run scripts/setup")
endif()
add_library(le::onnxruntime SHARED IMPORTED GLOBAL)
set_target_properties(le::onnxruntime PROPERTIES
  IMPORTED_LOCATION "${LE_ORT_ROOT}/lib/libonnxruntime.so.1"
  IMPORTED_SONAME "libonnxruntime.so.1"
  INTERFACE_INCLUDE_DIRECTORIES "${LE_ORT_ROOT}/include")

pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswscale libavutil)
pkg_check_modules(HWY REQUIRED IMPORTED_TARGET libhwy)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
# Tools only, never the library: converting audio (le-speak's input, the MP4 writer's sound track).
pkg_check_modules(SWRESAMPLE REQUIRED IMPORTED_TARGET GLOBAL libswresample)
# Hosts only (le-speak and its tests), never the library: reading audio files and synthesising speech.
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET GLOBAL sndfile)
pkg_check_modules(ESPEAK REQUIRED IMPORTED_TARGET GLOBAL espeak-ng)

find_path(LE_STB_INCLUDE_DIR stb_image.h PATHS /usr/include/stb REQUIRED)
add_library(le::stb INTERFACE IMPORTED GLOBAL)
set_target_properties(le::stb PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${LE_STB_INCLUDE_DIR}")

# Every binary finds libonnxruntime and lible_core through its RUNPATH, never LD_LIBRARY_PATH.
set(CMAKE_BUILD_RPATH "${LE_ORT_ROOT}/lib;${PROJECT_BINARY_DIR}/src")
