# The baked fixtures (bundles, motion directories, espeak-ng sentences and reference outputs):
# tools/bake/fixtures.py writes them into LE_TEST_FIXTURES once per change of the baker (or of
# le-imx), as part of the default build, never inside a test.
set(LE_BAKE_DIR "${PROJECT_SOURCE_DIR}/tools/bake")
set(LE_PYTHON /usr/bin/python3)
file(GLOB LE_BAKE_SOURCES CONFIGURE_DEPENDS "${LE_BAKE_DIR}/*.py" "${LE_BAKE_DIR}/le-bake")
set(le_bake_args --out "${LE_TEST_FIXTURES}")
set(le_bake_deps ${LE_BAKE_SOURCES})
if(TARGET le-imx)
  list(APPEND le_bake_args --imx-tool "$<TARGET_FILE:le-imx>")
  list(APPEND le_bake_deps le-imx)
endif()
add_custom_command(
  OUTPUT "${LE_TEST_FIXTURES}/.baked"
  COMMAND ${LE_PYTHON} -B "${LE_BAKE_DIR}/fixtures.py" ${le_bake_args}
  DEPENDS ${le_bake_deps}
  COMMENT "Baking test fixture bundles into ${LE_TEST_FIXTURES}"
  VERBATIM)
add_custom_target(le_fixtures ALL DEPENDS "${LE_TEST_FIXTURES}/.baked")

# The baker's own tests (Python, numpy references): reproducibility, the warp, the graph's shape,
# the motion directories and the motion pipeline's reference.
add_test(NAME bake.python
  COMMAND ${LE_PYTHON} -B -m unittest discover -s "${CMAKE_CURRENT_SOURCE_DIR}/bake" -p "test_*.py" -v
  WORKING_DIRECTORY "${PROJECT_BINARY_DIR}")
set_tests_properties(bake.python PROPERTIES LABELS bake TIMEOUT 600
  ENVIRONMENT "LE_TEST_FIXTURES=${LE_TEST_FIXTURES};LE_BAKE_DIR=${LE_BAKE_DIR}")
