# Brings the C sources of the tree-sitter runtime and of the Python grammar
# into the build tree, without committing either, and builds both as static
# libraries with their own warnings silenced.
#
# KEYHOUND_DEPS_DIR points at a directory that already holds both unpacked
# archives (offline builds, source distributions of keyhound itself); its
# contents are taken as they are.

include("${CMAKE_CURRENT_LIST_DIR}/PinnedSources.cmake")

# A source distribution of keyhound carries them in third_party/.
if(EXISTS "${CMAKE_SOURCE_DIR}/third_party/tree-sitter-${KEYHOUND_TS_RUNTIME_VERSION}" AND NOT KEYHOUND_DEPS_DIR)
  set(KEYHOUND_DEPS_DIR "${CMAKE_SOURCE_DIR}/third_party" CACHE PATH "" FORCE)
endif()
set(KEYHOUND_DEPS_DIR "" CACHE PATH
    "Directory holding tree-sitter-${KEYHOUND_TS_RUNTIME_VERSION}, tree_sitter_python-${KEYHOUND_TS_PYTHON_VERSION} and pytomlpp-${KEYHOUND_TOMLPP_VERSION} already unpacked")


set(KEYHOUND_PYTHON "${Python_EXECUTABLE}")

function(keyhound_dependency out_dir distribution archive_stem version sha256)
  if(KEYHOUND_DEPS_DIR)
    set(source_dir "${KEYHOUND_DEPS_DIR}/${archive_stem}-${version}")
    if(NOT EXISTS "${source_dir}")
      message(FATAL_ERROR "KEYHOUND_DEPS_DIR has no ${archive_stem}-${version}")
    endif()
  else()
    keyhound_sdist(source_dir "${CMAKE_BINARY_DIR}/_deps" ${distribution} ${archive_stem}
                   ${version} ${sha256})
  endif()
  set(${out_dir} "${source_dir}" PARENT_SCOPE)
endfunction()

keyhound_dependency(ts_runtime_dir tree-sitter tree-sitter
                    ${KEYHOUND_TS_RUNTIME_VERSION} ${KEYHOUND_TS_RUNTIME_SHA256})
keyhound_dependency(ts_python_dir tree-sitter-python tree_sitter_python
                    ${KEYHOUND_TS_PYTHON_VERSION} ${KEYHOUND_TS_PYTHON_SHA256})
keyhound_dependency(tomlpp_dir pytomlpp pytomlpp
                    ${KEYHOUND_TOMLPP_VERSION} ${KEYHOUND_TOMLPP_SHA256})


keyhound_dependency(nlohmann_dir jsonnet jsonnet
                    ${KEYHOUND_NLOHMANN_VERSION} ${KEYHOUND_NLOHMANN_SHA256})
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE "${nlohmann_dir}/third_party/json")

keyhound_dependency(blake2_dir argon2-cffi-bindings argon2_cffi_bindings
                    ${KEYHOUND_BLAKE2_VERSION} ${KEYHOUND_BLAKE2_SHA256})
set(blake2_src "${blake2_dir}/extras/libargon2/src/blake2")
add_library(blake2b STATIC "${blake2_src}/blake2b.c" "${CMAKE_SOURCE_DIR}/cmake/blake2_support.c")
target_include_directories(blake2b SYSTEM PUBLIC "${blake2_src}"
                           "${blake2_dir}/extras/libargon2/include")
target_compile_options(blake2b PRIVATE -w -fvisibility=hidden)
set_target_properties(blake2b PROPERTIES C_STANDARD 11 POSITION_INDEPENDENT_CODE ON)

# toml++ is header-only; one translation unit includes it. Its header is
# patched: see the patch's own header.
set(toml_patch "${CMAKE_SOURCE_DIR}/cmake/patches/tomlplusplus-whitespace.patch")
set(patched_toml_dir "${CMAKE_BINARY_DIR}/_deps/patched-toml")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${toml_patch}")
file(MAKE_DIRECTORY "${patched_toml_dir}")
execute_process(
  COMMAND "${Python_EXECUTABLE}" "${CMAKE_SOURCE_DIR}/cmake/apply_patch.py"
          "${tomlpp_dir}/third_party/tomlplusplus/toml.hpp" "${toml_patch}"
          "${patched_toml_dir}/toml.hpp"
  RESULT_VARIABLE toml_patch_status)
if(NOT toml_patch_status EQUAL 0)
  message(FATAL_ERROR "the toml++ patch does not apply to ${tomlpp_dir}")
endif()
add_library(tomlplusplus INTERFACE)
target_include_directories(tomlplusplus SYSTEM INTERFACE "${patched_toml_dir}")

set(ts_lib "${ts_runtime_dir}/tree_sitter/core/lib")

# Hidden symbols keep our copy of the runtime from clashing with another
# tree-sitter loaded into the same Python process.
set(ts_quiet_options -w -fvisibility=hidden)

add_library(tree_sitter_runtime STATIC "${ts_lib}/src/lib.c")
target_include_directories(tree_sitter_runtime SYSTEM PUBLIC "${ts_lib}/include"
                           PRIVATE "${ts_lib}/src")
target_compile_definitions(tree_sitter_runtime PRIVATE
    TREE_SITTER_HIDDEN_SYMBOLS _POSIX_C_SOURCE=200112L _DEFAULT_SOURCE)
target_compile_options(tree_sitter_runtime PRIVATE ${ts_quiet_options})
set_target_properties(tree_sitter_runtime PROPERTIES
    C_STANDARD 11 POSITION_INDEPENDENT_CODE ON)

# The grammar's sdist leaves out the headers every generated parser
# includes as tree_sitter/*.h; they are the runtime's own, so take them
# from the runtime of the matching ABI.
set(grammar_headers "${CMAKE_BINARY_DIR}/_deps/grammar-include/tree_sitter")
foreach(header parser.h array.h alloc.h ts_assert.h)
  configure_file("${ts_lib}/src/${header}" "${grammar_headers}/${header}" COPYONLY)
endforeach()

# The grammar's external scanner, patched: see the patch's own header.
set(scanner_patch "${CMAKE_SOURCE_DIR}/cmake/patches/python-scanner-lookahead.patch")
set(patched_scanner "${CMAKE_BINARY_DIR}/_deps/patched/scanner.c")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${scanner_patch}" "${CMAKE_SOURCE_DIR}/cmake/apply_patch.py")
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/_deps/patched")
execute_process(
  COMMAND "${Python_EXECUTABLE}" "${CMAKE_SOURCE_DIR}/cmake/apply_patch.py"
          "${ts_python_dir}/src/scanner.c" "${scanner_patch}" "${patched_scanner}"
  RESULT_VARIABLE patch_status)
if(NOT patch_status EQUAL 0)
  message(FATAL_ERROR "the scanner patch does not apply to ${ts_python_dir}/src/scanner.c")
endif()

function(keyhound_python_grammar target scanner)
  add_library(${target} STATIC "${ts_python_dir}/src/parser.c" "${scanner}")
  target_include_directories(${target} PRIVATE
      "${CMAKE_BINARY_DIR}/_deps/grammar-include" "${ts_lib}/include")
  target_compile_definitions(${target} PRIVATE
      TREE_SITTER_HIDDEN_SYMBOLS TREE_SITTER_HIDE_SYMBOLS)
  target_compile_options(${target} PRIVATE ${ts_quiet_options})
  set_target_properties(${target} PROPERTIES C_STANDARD 11 POSITION_INDEPENDENT_CODE ON)
endfunction()

keyhound_python_grammar(tree_sitter_python_grammar "${patched_scanner}")
# The grammar as published, for the benchmark that shows the patch changes
# no tree.
if(KEYHOUND_BUILD_BENCH)
  keyhound_python_grammar(tree_sitter_python_grammar_unpatched "${ts_python_dir}/src/scanner.c")
endif()
