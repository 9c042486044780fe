# Brings the C sources of the tree-sitter runtime and of the Python grammar
# into the build tree, without committing either.
#
# Both come from their source distributions on the Python package index,
# fetched with pip and checked against the sha256 pinned here. An archive
# whose hash matches is kept in the build tree and not fetched again.
# KEYHOUND_DEPS_DIR points at a directory that already holds both unpacked
# archives (offline builds, source distributions of keyhound itself).

# The runtime ships inside the sdist of the Python binding of the same
# version (tree_sitter/core/lib); we build only that C library from it.
set(KEYHOUND_TS_RUNTIME_VERSION 0.24.0)
set(KEYHOUND_TS_RUNTIME_SHA256 abd95af65ca2f4f7eca356343391ed669e764f37748b5352946f00f7fc78e734)
set(KEYHOUND_TS_PYTHON_VERSION 0.23.6)
set(KEYHOUND_TS_PYTHON_SHA256 354bfa0a2f9217431764a631516f85173e9711af2c13dbd796a8815acfe505d9)

# A source distribution of keyhound carries them in third_party/.
if(EXISTS "${CMAKE_SOURCE_DIR}/third_party/tree-sitter-${KEYHOUND_TS_RUNTIME_VERSION}" AND NOT KEYHOUND_DEPS_DIR)
  set(KEYHOUND_DEPS_DIR "${CMAKE_SOURCE_DIR}/third_party" CACHE PATH "" FORCE)
endif()
set(KEYHOUND_DEPS_DIR "" CACHE PATH
    "Directory holding tree-sitter-${KEYHOUND_TS_RUNTIME_VERSION} and tree_sitter_python-${KEYHOUND_TS_PYTHON_VERSION} already unpacked")


function(keyhound_sdist out_dir distribution archive_stem version sha256)
  set(unpacked_name "${archive_stem}-${version}")
  if(KEYHOUND_DEPS_DIR)
    set(source_dir "${KEYHOUND_DEPS_DIR}/${unpacked_name}")
    if(NOT EXISTS "${source_dir}")
      message(FATAL_ERROR "KEYHOUND_DEPS_DIR has no ${unpacked_name}")
    endif()
    set(${out_dir} "${source_dir}" PARENT_SCOPE)
    return()
  endif()

  set(cache_dir "${CMAKE_BINARY_DIR}/_deps")
  set(archive "${cache_dir}/${unpacked_name}.tar.gz")
  set(source_dir "${cache_dir}/${unpacked_name}")
  set(stamp "${source_dir}/.keyhound-sha256")

  if(EXISTS "${stamp}")
    file(READ "${stamp}" unpacked_hash)
    if(unpacked_hash STREQUAL sha256)
      set(${out_dir} "${source_dir}" PARENT_SCOPE)
      return()
    endif()
  endif()

  set(have_archive FALSE)
  if(EXISTS "${archive}")
    file(SHA256 "${archive}" actual)
    if(actual STREQUAL sha256)
      set(have_archive TRUE)
    endif()
  endif()

  if(NOT have_archive)
    message(STATUS "Fetching ${distribution}==${version} (source distribution)")
    set(download_dir "${cache_dir}/download-${unpacked_name}")
    file(REMOVE_RECURSE "${download_dir}")
    execute_process(
      COMMAND "${Python_EXECUTABLE}" -m pip download --quiet --no-deps
              --no-binary=:all: --dest "${download_dir}" "${distribution}==${version}"
      RESULT_VARIABLE pip_status)
    if(NOT pip_status EQUAL 0)
      message(FATAL_ERROR "pip could not download ${distribution}==${version}; "
                          "set KEYHOUND_DEPS_DIR for an offline build")
    endif()
    file(GLOB downloaded "${download_dir}/*.tar.gz")
    list(LENGTH downloaded count)
    if(NOT count EQUAL 1)
      message(FATAL_ERROR "expected one archive for ${distribution}, got: ${downloaded}")
    endif()
    file(SHA256 "${downloaded}" actual)
    if(NOT actual STREQUAL sha256)
      message(FATAL_ERROR "sha256 mismatch for ${downloaded}: expected ${sha256}, got ${actual}")
    endif()
    file(RENAME "${downloaded}" "${archive}")
    file(REMOVE_RECURSE "${download_dir}")
  endif()

  file(REMOVE_RECURSE "${source_dir}")
  file(ARCHIVE_EXTRACT INPUT "${archive}" DESTINATION "${cache_dir}")
  if(NOT EXISTS "${source_dir}")
    message(FATAL_ERROR "${archive} did not unpack into ${source_dir}")
  endif()
  file(WRITE "${stamp}" "${sha256}")
  set(${out_dir} "${source_dir}" PARENT_SCOPE)
endfunction()

keyhound_sdist(ts_runtime_dir tree-sitter tree-sitter
               ${KEYHOUND_TS_RUNTIME_VERSION} ${KEYHOUND_TS_RUNTIME_SHA256})
keyhound_sdist(ts_python_dir tree-sitter-python tree_sitter_python
               ${KEYHOUND_TS_PYTHON_VERSION} ${KEYHOUND_TS_PYTHON_SHA256})

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

add_library(tree_sitter_python_grammar STATIC
    "${ts_python_dir}/src/parser.c" "${ts_python_dir}/src/scanner.c")
target_include_directories(tree_sitter_python_grammar PRIVATE
    "${CMAKE_BINARY_DIR}/_deps/grammar-include" "${ts_lib}/include")
target_compile_definitions(tree_sitter_python_grammar PRIVATE
    TREE_SITTER_HIDDEN_SYMBOLS TREE_SITTER_HIDE_SYMBOLS)
target_compile_options(tree_sitter_python_grammar PRIVATE ${ts_quiet_options})
set_target_properties(tree_sitter_python_grammar PROPERTIES
    C_STANDARD 11 POSITION_INDEPENDENT_CODE ON)
