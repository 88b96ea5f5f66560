# Adds every directory under ROOT that holds a CMakeLists.txt.
function(qv_add_subdirectories root)
  file(GLOB_RECURSE lists CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${root}/*/CMakeLists.txt)
  list(SORT lists)
  foreach(list_file IN LISTS lists)
    get_filename_component(dir ${list_file} DIRECTORY)
    add_subdirectory(${dir})
  endforeach()
endfunction()

# One CTest test per gtest case of executable NAME, labelled LABEL, with a time-out; exit status 77
# marks a case skipped.
function(_qv_register_gtest_cases name label)
  target_compile_definitions(${name} PRIVATE
    QV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${label} TIMEOUT 120 SKIP_RETURN_CODE 77)
endfunction()

# qv_add_test(NAME LABEL source...)
# A GoogleTest executable linked with the application and the device library; each test case becomes
# a CTest test carrying LABEL (unit, component, e2e, usb, fuzz) and a time-out.
function(qv_add_test name label)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE updater_app GTest::gtest_main GTest::gmock)
  _qv_register_gtest_cases(${name} ${label})
endfunction()

# qv_add_netns_test(NAME LABEL source...)
# As qv_add_test, for cases that multicast, beacon or discover: the executable's main() (tests/netns)
# runs each CTest case inside a fresh network namespace of its own made by scripts/in-netns (lo up, a
# veth pair with 198.18.0.1/24), and never on this machine's own network. Cases are skipped (exit 77)
# where namespaces cannot be made.
function(qv_add_netns_test name label)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE updater_app qv_netns_main GTest::gmock)
  _qv_register_gtest_cases(${name} ${label})
endfunction()
