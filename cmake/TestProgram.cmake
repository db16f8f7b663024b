# Test programs and their fixtures. They spend their time waiting on lines,
# processes and displays, so they are built without optimisation (what they
# test is built as configured); the headers nearly every test file includes
# are compiled once per program instead of once per file.
set(QUARO7_TEST_PCH
    <gtest/gtest.h> <gmock/gmock.h> <algorithm> <atomic> <chrono> <filesystem> <fstream>
    <functional> <future> <map> <memory> <regex> <set> <sstream> <string> <thread> <vector>)

function(quaro7_test_program target)
  target_precompile_headers(${target} PRIVATE ${QUARO7_TEST_PCH})
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -O0)
  endif()
endfunction()
