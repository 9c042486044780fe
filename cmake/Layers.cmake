# Each room of src/ is its own static library, and sees the headers of its
# own room and of the rooms below it only: a view directory in the build
# tree holds a link to each of those rooms and is the library's one include
# directory. An include that goes up fails to compile; a call that goes up
# fails to link. The order, lowest first:
#
#   base <- syntax <- rules <- analysis <- output <- formats, cache, notebook <- settings <- project
#     <- run <- cli, server <- front

# The profile-guided build's instrumented copy shares its views, so that
# both builds see each header under the same path (the profile's checks
# compare them).
set(KEYHOUND_VIEWS_DIR "${CMAKE_BINARY_DIR}/layer-views" CACHE PATH
    "Where the views of the rooms are made")
set(keyhound_views "${KEYHOUND_VIEWS_DIR}")

# keyhound_layer(ROOM BELOW room... [LINK target...]): the library
# keyhound_ROOM_lib from src/ROOM/*.cpp (but the front ends' own files).
function(keyhound_layer room)
  cmake_parse_arguments(LAYER "" "" "BELOW;LINK;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/${room}/*.cpp")
  foreach(excluded ${LAYER_EXCLUDE})
    list(REMOVE_ITEM sources "${CMAKE_SOURCE_DIR}/src/${room}/${excluded}")
  endforeach()
  set(view "${keyhound_views}/${room}")
  file(REMOVE_RECURSE "${view}")
  file(MAKE_DIRECTORY "${view}")
  foreach(visible ${room} ${LAYER_BELOW})
    file(CREATE_LINK "${CMAKE_SOURCE_DIR}/src/${visible}" "${view}/${visible}" SYMBOLIC)
  endforeach()
  add_library(keyhound_${room}_lib STATIC ${sources})
  target_include_directories(keyhound_${room}_lib PRIVATE "${view}")
  target_compile_options(keyhound_${room}_lib PRIVATE ${keyhound_warnings})
  set(below_libraries)
  foreach(lower ${LAYER_BELOW})
    list(APPEND below_libraries keyhound_${lower}_lib)
  endforeach()
  target_link_libraries(keyhound_${room}_lib PUBLIC ${below_libraries} PRIVATE ${LAYER_LINK})
  set_property(TARGET keyhound_${room}_lib PROPERTY KEYHOUND_VIEW "${view}")
endfunction()

keyhound_layer(base)
keyhound_layer(syntax BELOW base LINK tree_sitter_python_grammar)
# The syntax room's headers still show tree-sitter's node type to the
# analysis above it.
target_link_libraries(keyhound_syntax_lib PUBLIC tree_sitter_runtime)
keyhound_layer(rules BELOW syntax base)
keyhound_layer(analysis BELOW rules syntax base)
keyhound_layer(output BELOW base)
keyhound_layer(formats BELOW output analysis rules syntax base)
keyhound_layer(cache BELOW output analysis rules syntax base LINK blake2b)
keyhound_layer(notebook BELOW analysis rules syntax base LINK nlohmann_json)
keyhound_layer(settings BELOW formats output analysis rules syntax base)
keyhound_layer(project BELOW settings formats output analysis rules syntax base LINK tomlplusplus)
keyhound_layer(run BELOW notebook project settings cache formats output analysis rules syntax base)
keyhound_layer(cli BELOW notebook run project settings cache formats output analysis rules syntax base)
keyhound_layer(server BELOW notebook run project settings cache formats output analysis rules syntax base
               LINK nlohmann_json)
# Nearly every file of the server includes the JSON library's one large
# header: it is compiled once for them all.
target_precompile_headers(keyhound_server_lib PRIVATE <nlohmann/json.hpp>)
keyhound_layer(front BELOW notebook cli server run project settings cache formats output analysis rules syntax base
               EXCLUDE main.cpp python_module.cpp api_module.cpp)

# What the front ends, the tests, the benchmarks and the fuzzer build on:
# every room, seen from the top.
add_library(keyhound_core INTERFACE)
target_link_libraries(keyhound_core INTERFACE keyhound_front_lib)
target_include_directories(keyhound_core INTERFACE "${CMAKE_SOURCE_DIR}/src")
