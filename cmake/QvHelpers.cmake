# Adds every directory under ROOT that holds a CMakeLists.txt.
function(qv_add_subdirectories root)
  file(GLOB_RECURSE lists CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${root}/*/CMakeLists.txt)
  list(SORT lists)
  foreach(list_file IN LISTS lists)
    get_filename_component(dir ${list_file} DIRECTORY)
    add_subdirectory(${dir})
  endforeach()
endfunction()

# qv_add_test(NAME LABEL source...)
# A GoogleTest executable linked with the application and the device library; each test case becomes
# a CTest test carrying LABEL (unit, component, e2e, usb, fuzz) and a time-out.
function(qv_add_test name label)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE updater_app GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    QV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${label} TIMEOUT 120)
endfunction()
