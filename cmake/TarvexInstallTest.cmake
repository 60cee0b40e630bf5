# The install test: installs this build into a temporary prefix and builds a
# small program against it twice, through find_package(tarvex CONFIG) and
# through pkg-config, then runs both. Included with the test suite.
add_test(NAME install.consumer
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/installtest/run.sh
    ${PROJECT_BINARY_DIR} ${CMAKE_CXX_COMPILER} ${CMAKE_GENERATOR})
set_tests_properties(install.consumer PROPERTIES TIMEOUT 600 LABELS install)
