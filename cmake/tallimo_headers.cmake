# Which headers a component shows to the others.
#
# Headers are included by their path from the project root ("app/posting/posting.h").
# The project root itself is on nobody's include path: a component lists the headers
# other components may include, and those are linked into ${TALLIMO_PUBLIC_INCLUDE_DIR}
# under the same path, which is the component's PUBLIC include folder. The component
# itself (its library, and its own tests and tools) sees every header of its folder
# through a private view: ${CMAKE_BINARY_DIR}/internal/<name>/<folder> is a link to the
# source folder. So "app/posting/posting_internal.h" compiles inside app/posting and
# nowhere else.

set(TALLIMO_PUBLIC_INCLUDE_DIR "${CMAKE_BINARY_DIR}/include")
# Links of headers no longer listed must not linger from an earlier configure.
file(REMOVE_RECURSE "${TALLIMO_PUBLIC_INCLUDE_DIR}")
file(MAKE_DIRECTORY "${TALLIMO_PUBLIC_INCLUDE_DIR}")

# tallimo_public_headers(<target> <header>...): headers of the calling folder (names
# relative to it) that other components include; the target publishes them.
function(tallimo_public_headers target)
  file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  foreach(header IN LISTS ARGN)
    set(link "${TALLIMO_PUBLIC_INCLUDE_DIR}/${folder}/${header}")
    get_filename_component(link_folder "${link}" DIRECTORY)
    file(MAKE_DIRECTORY "${link_folder}")
    file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}/${header}" "${link}" SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC "${TALLIMO_PUBLIC_INCLUDE_DIR}")
endfunction()

# tallimo_internal_headers(<target> [<folder>]): the target sees every header of
# <folder> (relative to the project root; default the calling folder) by its
# project path. For a component's own library, tests and tools only.
function(tallimo_internal_headers target)
  if(ARGC GREATER 1)
    set(folder "${ARGV1}")
  else()
    file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  string(REPLACE "/" "_" view "${folder}")
  set(view_root "${CMAKE_BINARY_DIR}/internal/${view}")
  get_filename_component(link_folder "${view_root}/${folder}" DIRECTORY)
  file(MAKE_DIRECTORY "${link_folder}")
  file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${view_root}/${folder}" SYMBOLIC)
  # Ahead of the public folder, so that a file of the component reaches each
  # of its own headers by one path only.
  target_include_directories(${target} BEFORE PRIVATE "${view_root}")
endfunction()
