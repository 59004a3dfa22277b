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
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

find_program(CCACHE ccache)
if(CCACHE)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE})
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE})
endif()

# The layers, bottom to top. A folder includes only from itself and the
# folders below it: each library compiles against an include root of its own
# (build/layers/<target>) that links exactly those folders, so an include
# from a higher layer is a build error, not a convention.
set(TB_LAYERS base os foundation session bridge server door shell alert orders printing update store
  CACHE INTERNAL "the layers, bottom to top")

# tb_layer_view(TARGET FOLDERS...): the target sees the folders named, and
# the generated headers. "os" links the interface headers only; "os/linux"
# adds the Linux backends beneath it.
function(tb_layer_view target)
  set(view ${CMAKE_BINARY_DIR}/layers/${target})
  file(REMOVE_RECURSE ${view})
  file(MAKE_DIRECTORY ${view})
  foreach(folder ${ARGN})
    if(folder STREQUAL "os" OR folder STREQUAL "os/linux")
      if(NOT EXISTS ${view}/os)
        file(MAKE_DIRECTORY ${view}/os)
        file(GLOB os_headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/os/*.h)
        foreach(header ${os_headers})
          get_filename_component(name ${header} NAME)
          file(CREATE_LINK ${header} ${view}/os/${name} SYMBOLIC)
        endforeach()
      endif()
      if(folder STREQUAL "os/linux")
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/os/linux ${view}/os/linux SYMBOLIC)
      endif()
    else()
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PRIVATE ${view} ${CMAKE_BINARY_DIR}/generated)
endfunction()

# The folders a subsystem folder may include from: its own and every layer below it.
function(tb_layers_up_to folder out)
  set(seen)
  foreach(layer ${TB_LAYERS})
    list(APPEND seen ${layer})
    if(layer STREQUAL folder)
      break()
    endif()
  endforeach()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# tb_subsystem(NAME [SEES folder...] [DEPS lib...]): a static library from
# every .cpp of the folder. It sees its own folder and the layers below it,
# or, with SEES, exactly the folders listed (its own included).
function(tb_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;SEES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${srcs})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  if(ARG_SEES)
    tb_layer_view(${name} ${ARG_SEES})
  else()
    file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    tb_layers_up_to(${folder} seen)
    tb_layer_view(${name} ${seen})
  endif()
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

# tb_e2e_test(NAME SOURCES ... TIMEOUT seconds [NEEDS target ...] [NO_FIXTURE]):
# a test of the real program under Xvfb against the reference platform, built
# with the shared support of tests/e2e/shell (the fixture too, unless
# NO_FIXTURE). The program, its web extension, the UI bundle, the platform and
# the NEEDS targets are built before it.
function(tb_e2e_test name)
  cmake_parse_arguments(ARG "NO_FIXTURE" "TIMEOUT" "SOURCES;NEEDS" ${ARGN})
  set(shell ${CMAKE_SOURCE_DIR}/tests/e2e/shell)
  set(support ${shell}/e2e_support.cpp)
  if(NOT ARG_NO_FIXTURE)
    list(PREPEND support ${shell}/e2e_fixture.cpp)
  endif()
  tb_integration_test(${name} SOURCES ${ARG_SOURCES} ${support} DEPS tb_os_base LABELS e2e)
  target_include_directories(${name} PRIVATE ${shell})
  add_dependencies(${name} tillbay tillbay-webext ui_bundle ${ARG_NEEDS})
  if(TARGET tillbay-platform)
    add_dependencies(${name} tillbay-platform)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
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
