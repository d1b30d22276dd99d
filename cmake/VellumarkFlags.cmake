# Compile flags shared by every target of our own. Link it PRIVATE.
add_library(vm_flags INTERFACE)
target_compile_options(vm_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Woverloaded-virtual -Wimplicit-fallthrough -Werror)

# Helper for GoogleTest executables:
#   vm_add_gtest(NAME SOURCES ... LIBS ... [LOCKS ...] [LABELS ...] [TIMEOUT s])
# LABELS tsan: the suite runs no Qt event loop and is part of the ThreadSanitizer run
# (scripts/test --tsan), which builds the target vm_tsan_suites only. LABELS window: it runs Qt's
# event loop; under ThreadSanitizer it reads the suppressions of Qt's own internals.
find_package(GTest REQUIRED)
add_custom_target(vm_tsan_suites)
# ThreadSanitizer's options for a program that runs Qt, whose own libraries are not instrumented.
set(VM_QT_TSAN_OPTIONS "halt_on_error=1:suppressions=${CMAKE_SOURCE_DIR}/tests/tsan-qt.supp")
include(GoogleTest)
function(vm_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LOCKS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main vm_flags)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT ${T_TIMEOUT})
  if(T_LOCKS)
    list(APPEND props RESOURCE_LOCK "${T_LOCKS}")
  endif()
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if("tsan" IN_LIST T_LABELS)
    add_dependencies(vm_tsan_suites ${name})
  endif()
  if(VM_TSAN AND "window" IN_LIST T_LABELS)
    list(APPEND props ENVIRONMENT_MODIFICATION "TSAN_OPTIONS=set:${VM_QT_TSAN_OPTIONS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
