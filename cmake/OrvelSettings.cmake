# Compiler settings shared by every target of the project, and the one helper that declares a
# test executable.

add_library(orvel_settings INTERFACE)
target_compile_features(orvel_settings INTERFACE cxx_std_17)
target_compile_options(orvel_settings INTERFACE
  -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wold-style-cast
  $<$<BOOL:${ORVEL_WERROR}>:-Werror>)

if(ORVEL_SANITIZE)
  target_compile_options(orvel_settings INTERFACE
    -fsanitize=${ORVEL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(orvel_settings INTERFACE -fsanitize=${ORVEL_SANITIZE})
endif()

# orvel_add_test(NAME SOURCES a.cpp b.cpp LIBRARIES lib... [GUI])
# One GoogleTest executable; every test case becomes its own CTest entry. GUI tests run on
# Qt's offscreen platform.
function(orvel_add_test name)
  cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE orvel_settings orvel_test_support ${ARG_LIBRARIES}
                        GTest::gtest GTest::gtest_main)
  # gtest_discover_tests would split a list of variables, so the GUI tests get theirs from a
  # launcher instead.
  if(ARG_GUI)
    set_target_properties(${name} PROPERTIES
      CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;QT_QPA_PLATFORM=offscreen")
  endif()
  gtest_discover_tests(${name}
    PROPERTIES ENVIRONMENT "ORVEL_SAMPLE_CONSUMER=$<TARGET_FILE:orvel-sample-consumer>" TIMEOUT 120
    DISCOVERY_TIMEOUT 60)
endfunction()
