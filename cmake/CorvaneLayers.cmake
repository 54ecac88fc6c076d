# corvane_include_folders(<target> <PUBLIC|PRIVATE> <folder>...)
# The target, and with PUBLIC its users, include the headers of src/<folder> as
# "<folder>/...". Each folder is seen through a folder of its own in the build tree that holds
# only a link to it, never through src/ itself: a layer that includes a header of a layer it
# does not link fails to build.
function(corvane_include_folders target scope)
  foreach(folder IN LISTS ARGN)
    set(root ${PROJECT_BINARY_DIR}/include/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
    target_include_directories(${target} ${scope} ${root})
  endforeach()
endfunction()
