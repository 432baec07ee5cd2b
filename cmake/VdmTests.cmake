# Registers a GoogleTest program with ctest. Natively each test is an entry
# of its own. A cross-compiled program runs through the emulator (Wine, by
# cmake/wine_run.sh), which pays seconds of start-up per run, so there the
# whole program is one entry. Arguments after the target are gtest_discover_tests' (PROPERTIES
# ... included).
function(vdm_gtest target)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    # cmake/wine_run.sh's answer where the machine cannot run the program.
    set_tests_properties(${target} PROPERTIES SKIP_RETURN_CODE 77)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "PROPERTIES")
    if(arg_PROPERTIES)
      set_tests_properties(${target} PROPERTIES ${arg_PROPERTIES})
    endif()
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 ${ARGN})
  endif()
endfunction()
