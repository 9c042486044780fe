# Optimised builds, for the wheels: GCC's link-time optimisation, and its
# profile-guided optimisation trained while the build is configured, on a
# fixed input (the build interpreter's own standard library), so that the
# same sources and interpreter give the same binaries.
#
#   KEYHOUND_OPTIMISE=off         developers and tests: a plain build
#   KEYHOUND_OPTIMISE=lto         link-time optimisation
#   KEYHOUND_OPTIMISE=pgo         profile-guided and link-time optimisation
#   KEYHOUND_OPTIMISE=instrument  (internal) the build that gathers the profile
#
# The profile build configures and builds an instrumented copy of the
# command in pgo-instrumented/ under the build tree, runs it over the
# training input one file at a time (three times: the default report, the
# module's rule, JSON), and compiles every object with the counts it left.
# -fprofile-prefix-path makes the counts' file names independent of the
# build directory, so that the two builds' objects find each other's.

set(KEYHOUND_OPTIMISE "off" CACHE STRING "Optimised build: off, lto or pgo (profile-guided, with LTO)")
set_property(CACHE KEYHOUND_OPTIMISE PROPERTY STRINGS off lto pgo instrument)
set(keyhound_profile_dir "${CMAKE_BINARY_DIR}/pgo-profile")

if(KEYHOUND_OPTIMISE STREQUAL "instrument")
  if(NOT KEYHOUND_PROFILE_DIR)
    message(FATAL_ERROR "KEYHOUND_OPTIMISE=instrument needs KEYHOUND_PROFILE_DIR")
  endif()
  add_compile_options(-fprofile-generate=${KEYHOUND_PROFILE_DIR}
                      -fprofile-prefix-path=${CMAKE_BINARY_DIR})
  add_link_options(-fprofile-generate=${KEYHOUND_PROFILE_DIR})
elseif(KEYHOUND_OPTIMISE STREQUAL "lto" OR KEYHOUND_OPTIMISE STREQUAL "pgo")
  if(KEYHOUND_OPTIMISE STREQUAL "pgo" AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "KEYHOUND_OPTIMISE=pgo is made for GCC; use lto with this compiler")
  endif()
  include(CheckIPOSupported)
  check_ipo_supported(RESULT lto_supported OUTPUT lto_output LANGUAGES C CXX)
  if(lto_supported)
    set(CMAKE_INTERPROCEDURAL_OPTIMIZATION ON)
  else()
    message(WARNING "no link-time optimisation with this toolchain: ${lto_output}")
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # The partitions of the link run on every processor the build has.
    add_link_options(-flto=auto)
  endif()
elseif(NOT KEYHOUND_OPTIMISE STREQUAL "off")
  message(FATAL_ERROR "KEYHOUND_OPTIMISE must be off, lto or pgo, not '${KEYHOUND_OPTIMISE}'")
endif()

# The profile, gathered now, before anything of this build is compiled.
function(keyhound_gather_profile deps_dir)
  set(instrumented "${CMAKE_BINARY_DIR}/pgo-instrumented")
  file(REMOVE_RECURSE "${keyhound_profile_dir}")
  execute_process(
    COMMAND "${Python_EXECUTABLE}" -c "import sysconfig; print(sysconfig.get_path('stdlib'))"
    OUTPUT_VARIABLE training OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  message(STATUS "keyhound: building the instrumented command for profile-guided optimisation")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${CMAKE_SOURCE_DIR}" -B "${instrumented}"
            -G "${CMAKE_GENERATOR}" -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
            -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
            -DKEYHOUND_OPTIMISE=instrument "-DKEYHOUND_PROFILE_DIR=${keyhound_profile_dir}"
            -DKEYHOUND_BUILD_MODULE=OFF "-DKEYHOUND_DEPS_DIR=${deps_dir}"
            "-DPython_EXECUTABLE=${Python_EXECUTABLE}"
            "-DKEYHOUND_VIEWS_DIR=${CMAKE_BINARY_DIR}/layer-views"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${CMAKE_COMMAND}" --build "${instrumented}" --target keyhound_cli
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  # The profile records values that hold addresses (the buckets of hash
  # tables keyed by pointer): with the addresses fixed, two trainings give
  # the same profile, and two builds the same binaries. Where the system
  # refuses (a container's seccomp filter), the build still works, only
  # not bit for bit again.
  set(fixed_addresses)
  find_program(keyhound_setarch setarch)
  if(keyhound_setarch)
    execute_process(COMMAND "${keyhound_setarch}" "${CMAKE_HOST_SYSTEM_PROCESSOR}" -R true
                    RESULT_VARIABLE refused OUTPUT_QUIET ERROR_QUIET)
    if(refused EQUAL 0)
      set(fixed_addresses "${keyhound_setarch}" "${CMAKE_HOST_SYSTEM_PROCESSOR}" -R)
    endif()
  endif()
  message(STATUS "keyhound: training it on ${training}")
  foreach(mode "--output-format=full" "--exact" "--output-format=json")
    # A file of the standard library's tests that cannot be read gives
    # status 2; only a fault (70) or a crash fails the build.
    execute_process(COMMAND ${fixed_addresses} "${instrumented}/keyhound" --isolated --no-cache
                            -j 1 ${mode}
                            --exit-zero "${training}"
                    OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE status)
    if(NOT status MATCHES "^[02]$")
      message(FATAL_ERROR "the instrumented command failed (${status}) on ${training}")
    endif()
  endforeach()
endfunction()

# Called once every target is defined: gathers the profile and has every
# object of the top directory's targets (the dependencies' libraries, the
# rooms, the command and the modules) compiled with it.
function(keyhound_use_profile)
  if(NOT KEYHOUND_OPTIMISE STREQUAL "pgo")
    return()
  endif()
  set(deps_dir "${KEYHOUND_DEPS_DIR}")
  if(NOT deps_dir)
    set(deps_dir "${CMAKE_BINARY_DIR}/_deps")
  endif()
  keyhound_gather_profile("${deps_dir}")
  get_property(targets DIRECTORY "${CMAKE_SOURCE_DIR}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(STATIC_LIBRARY|MODULE_LIBRARY|SHARED_LIBRARY|EXECUTABLE|OBJECT_LIBRARY)$")
      # Code the training never ran (the modules' own files, the server)
      # has no counts: that is expected, not worth a warning.
      target_compile_options(${target} PRIVATE -fprofile-use=${keyhound_profile_dir}
                             -fprofile-prefix-path=${CMAKE_BINARY_DIR}
                             -fprofile-partial-training -Wno-missing-profile)
    endif()
  endforeach()
endfunction()
