# `cmake --install build --prefix P` lays out an SDK a host can build against:
#   P/lib/lible_core.so.<version> (SONAME lible_core.so.<major>) with ONNX Runtime beside it, found
#     through the library's RUNPATH $ORIGIN, so nothing needs LD_LIBRARY_PATH;
#   P/include/le/*.h, the public C headers and the generated le_version.h;
#   P/lib/cmake/le/, the package for find_package(le CONFIG) with the target le::le;
#   P/lib/pkgconfig/le.pc;
#   P/bin/, the command-line tools (tools/CMakeLists.txt installs them).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LE_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/le")

set_target_properties(le_core PROPERTIES EXPORT_NAME le INSTALL_RPATH "$ORIGIN")
install(TARGETS le_core EXPORT leTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")

# The library loads libonnxruntime.so.1 by its SONAME; the real file and that link travel with it.
install(FILES "${LE_ORT_ROOT}/lib/libonnxruntime.so.1" "${LE_ORT_ROOT}/lib/libonnxruntime.so.1.26.0"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}")

file(GLOB LE_PUBLIC_HEADERS CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/include/le/*.h")
install(FILES ${LE_PUBLIC_HEADERS} "${PROJECT_BINARY_DIR}/include/le/le_version.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/le")

install(EXPORT leTargets NAMESPACE le:: FILE leTargets.cmake DESTINATION "${LE_INSTALL_CMAKEDIR}")
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/leConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/leConfig.cmake" INSTALL_DESTINATION "${LE_INSTALL_CMAKEDIR}")
# The same promise as the SONAME: a later release of the same major version serves the host.
write_basic_package_version_file("${PROJECT_BINARY_DIR}/leConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/leConfig.cmake" "${PROJECT_BINARY_DIR}/leConfigVersion.cmake"
  DESTINATION "${LE_INSTALL_CMAKEDIR}")

configure_file("${CMAKE_CURRENT_LIST_DIR}/le.pc.in" "${PROJECT_BINARY_DIR}/le.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/le.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
