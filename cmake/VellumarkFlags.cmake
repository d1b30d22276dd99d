# Compile flags shared by every target of our own. Link it PRIVATE.
add_library(vm_flags INTERFACE)
target_compile_options(vm_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Woverloaded-virtual -Wimplicit-fallthrough -Werror)

# Helper for GoogleTest executables: vm_add_gtest(NAME SOURCES ... LIBS ... [LOCKS ...] [TIMEOUT s])
find_package(GTest REQUIRED)
include(GoogleTest)
function(vm_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main vm_flags)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT ${T_TIMEOUT})
  if(T_LOCKS)
    list(APPEND props RESOURCE_LOCK "${T_LOCKS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
