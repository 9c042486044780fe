# Fetches, checks and unpacks the pinned dependency sources into
# third_party/, where a source distribution of keyhound carries them so that
# it builds without the network:
#     cmake -P cmake/vendor_sources.cmake
cmake_minimum_required(VERSION 3.20)
get_filename_component(root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
include("${CMAKE_CURRENT_LIST_DIR}/PinnedSources.cmake")
if(NOT KEYHOUND_PYTHON)
  find_program(KEYHOUND_PYTHON NAMES python3 python REQUIRED)
endif()
keyhound_sdist(runtime "${root}/third_party" tree-sitter tree-sitter
               ${KEYHOUND_TS_RUNTIME_VERSION} ${KEYHOUND_TS_RUNTIME_SHA256})
keyhound_sdist(grammar "${root}/third_party" tree-sitter-python tree_sitter_python
               ${KEYHOUND_TS_PYTHON_VERSION} ${KEYHOUND_TS_PYTHON_SHA256})
keyhound_sdist(tomlpp "${root}/third_party" pytomlpp pytomlpp
               ${KEYHOUND_TOMLPP_VERSION} ${KEYHOUND_TOMLPP_SHA256})
keyhound_sdist(blake2 "${root}/third_party" argon2-cffi-bindings argon2_cffi_bindings
               ${KEYHOUND_BLAKE2_VERSION} ${KEYHOUND_BLAKE2_SHA256})
keyhound_sdist(nlohmann "${root}/third_party" jsonnet jsonnet
               ${KEYHOUND_NLOHMANN_VERSION} ${KEYHOUND_NLOHMANN_SHA256})
file(GLOB archives "${root}/third_party/*.tar.gz")
file(REMOVE ${archives})
message(STATUS "unpacked into ${root}/third_party: ${runtime}, ${grammar}, ${tomlpp}, ${blake2}, ${nlohmann}")
