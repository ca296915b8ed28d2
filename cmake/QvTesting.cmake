include(GoogleTest)

# qv_add_gtest(NAME SOURCES ... LIBS ... [TIMEOUT s] [SERIAL] [ENVIRONMENT ...])
# Every test gets a time-out so that a thread bug shows as a failure, not a hang.
# SERIAL tests depend on timing and take a shared lock so that they never run beside each other.
function(qv_add_gtest name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_SERIAL)
    list(APPEND props RESOURCE_LOCK timing)
  endif()
  if(T_ENVIRONMENT)
    list(APPEND props ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  # Test names are the suites' own, never a parameter's printed value: a name
  # must be the same on every run for -R and --rerun-failed to find it again.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES NO_PRETTY_TYPES
                       PROPERTIES ${props})
endfunction()
