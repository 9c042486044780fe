# The pinned source distributions keyhound builds from, and the function
# that brings one into a directory: fetched with pip, checked against the
# sha256 pinned here, unpacked, and kept so that it is not fetched again.
# Used by the build (TreeSitterSources.cmake) and by vendor_sources.cmake.

# The runtime ships inside the sdist of the Python binding of the same
# version (tree_sitter/core/lib); we build only that C library from it.
set(KEYHOUND_TS_RUNTIME_VERSION 0.24.0)
set(KEYHOUND_TS_RUNTIME_SHA256 abd95af65ca2f4f7eca356343391ed669e764f37748b5352946f00f7fc78e734)
set(KEYHOUND_TS_PYTHON_VERSION 0.23.6)
set(KEYHOUND_TS_PYTHON_SHA256 354bfa0a2f9217431764a631516f85173e9711af2c13dbd796a8815acfe505d9)
# toml++ (3.4.0), the TOML parser that reads [tool.keyhound], ships whole
# inside the sdist of its Python binding (third_party/tomlplusplus); we use
# only its single header.
set(KEYHOUND_TOMLPP_VERSION 1.1.0)
set(KEYHOUND_TOMLPP_SHA256 61a0f73e7ba2fe8bba4e99ce6d2701491885850b53aad8f3e46d03c4b31e594d)
# BLAKE2b, whose keyed mode authenticates the result cache's entries: the
# reference implementation by its authors, as the Argon2 reference library
# carries it (extras/libargon2/src/blake2) inside the sdist of its Python
# binding; we build only blake2b.c from it.
set(KEYHOUND_BLAKE2_VERSION 25.1.0)
set(KEYHOUND_BLAKE2_SHA256 b957f3e6ea4d55d820e40ff76f450952807013d361a65d7f28acc0acbf29229d)
# nlohmann/json (3.6.1), the JSON reader and writer of the language server,
# as the sdist of jsonnet's Python binding carries its single header
# (third_party/json/nlohmann/json.hpp, MIT); we use only that header.
set(KEYHOUND_NLOHMANN_VERSION 0.22.0)
set(KEYHOUND_NLOHMANN_SHA256 eae5d9bf23c778baad39390f88c13c03b2090dfb5dfa148d6e217df8c1448258)

function(keyhound_sdist out_dir cache_dir distribution archive_stem version sha256)
  set(unpacked_name "${archive_stem}-${version}")
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
      COMMAND "${KEYHOUND_PYTHON}" -m pip download --quiet --no-deps
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
