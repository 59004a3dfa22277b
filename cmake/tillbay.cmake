# Shared build rules: warnings, sanitizers, and the helpers every folder uses.

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

add_compile_options(-Wall -Wextra -Werror -Wno-missing-field-initializers)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports false positives for std::string and std::variant at -O2.
  add_compile_options(-Wno-restrict -Wno-array-bounds -Wno-stringop-overflow -Wno-maybe-uninitialized)
endif()

if(TB_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TB_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

find_program(CCACHE ccache)
if(CCACHE)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE})
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE})
endif()

# tb_subsystem(NAME [DEPS lib...]): a static library from every .cpp of the folder.
function(tb_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${srcs})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
endfunction()

# tb_unit_test(NAME SOURCES... DEPS ...): one GoogleTest executable, labelled "unit"
# so the sanitizer build can run exactly these.
function(tb_unit_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT 300)
  add_dependencies(unit_all ${name})
endfunction()

# tb_integration_test(NAME SOURCES... DEPS ... [LABELS ...]): needs real peers on loopback.
function(tb_integration_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_LABELS)
    set(ARG_LABELS integration)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600
    ENVIRONMENT "TB_BUILD_DIR=${CMAKE_BINARY_DIR};TB_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# tb_fuzz_target(NAME SOURCE DEPS ...): a libFuzzer binary, built only with TB_FUZZ.
function(tb_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT TB_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzz_all ${name})
endfunction()

# tb_bench(NAME SOURCES... DEPS ...): a Google Benchmark binary; ./run bench runs it.
function(tb_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
endfunction()

# tb_glob_tests(KIND PREFIX DEPS ...): the usual tests/<kind>/<subsystem>/CMakeLists.txt —
# unit: one executable from every *.cpp; fuzz: one target per fuzz_*.cpp;
# bench: one binary per bench_*.cpp.
function(tb_glob_tests kind subsystem)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  if(kind STREQUAL "unit")
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(srcs)
      tb_unit_test(unit_${subsystem} SOURCES ${srcs} DEPS ${ARG_DEPS})
    endif()
  elseif(kind STREQUAL "fuzz")
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_*.cpp)
    foreach(src ${srcs})
      get_filename_component(name ${src} NAME_WE)
      tb_fuzz_target(${name} SOURCES ${src} DEPS ${ARG_DEPS})
    endforeach()
  elseif(kind STREQUAL "bench")
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/bench_*.cpp)
    foreach(src ${srcs})
      get_filename_component(name ${src} NAME_WE)
      tb_bench(${name} SOURCES ${src} DEPS ${ARG_DEPS})
    endforeach()
  endif()
endfunction()
