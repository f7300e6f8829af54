# One object library per layer of src/. A layer compiles against an include view of its
# own, generated in the build tree: a link to its own source folder and links to the public
# headers it owns. It reaches the layers below through target_link_libraries, which hands
# it their views; nothing in the library sees all of src/ or all of include/. So an include
# that points upwards (codec including "smtp/headers.h" or "tolmail/TolvanSMTP.h") is a
# missing file, and the build stops there instead of in a later review.
#
#   tolmail_layer(<layer> SOURCES <file.cpp>... HEADERS <public header>... DEPENDS <layer>...
#                 LINKS <outside library>...)
#
# SOURCES are named relative to src/<layer>/; a missing source is an error. HEADERS are
# named relative to include/tolmail/; one that does not exist (yet, or any more) is skipped,
# so that the lists can follow headers being added and removed. LINKS are libraries from
# outside the project the layer's code calls; an object library cannot pass them on, so the
# libraries built from the layers take them with tolmail_link_layer_libraries().

set(TOLMAIL_VIEW_ROOT ${PROJECT_BINARY_DIR}/layer-views)
set_property(GLOBAL PROPERTY TOLMAIL_OWNED_HEADERS "")
set_property(GLOBAL PROPERTY TOLMAIL_LAYER_LINKS "")

function(tolmail_layer layer)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;HEADERS;DEPENDS;LINKS")
  set(view ${TOLMAIL_VIEW_ROOT}/${layer})
  # Rebuilt at every configure, so that a header moved to another layer leaves no stale link.
  file(REMOVE_RECURSE ${view})
  file(MAKE_DIRECTORY ${view}/tolmail)
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${layer} ${view}/${layer} SYMBOLIC)
  foreach(header IN LISTS arg_HEADERS)
    set(path ${PROJECT_SOURCE_DIR}/include/tolmail/${header})
    if(EXISTS ${path})
      file(CREATE_LINK ${path} ${view}/tolmail/${header} SYMBOLIC)
    endif()
  endforeach()
  set_property(GLOBAL APPEND PROPERTY TOLMAIL_OWNED_HEADERS ${arg_HEADERS})

  set(sources "")
  foreach(source IN LISTS arg_SOURCES)
    set(path ${PROJECT_SOURCE_DIR}/src/${layer}/${source})
    if(NOT EXISTS ${path})
      message(FATAL_ERROR "layer ${layer}: src/${layer}/${source} does not exist")
    endif()
    list(APPEND sources ${path})
  endforeach()

  add_library(tolmail_${layer} OBJECT ${sources})
  target_include_directories(tolmail_${layer} PUBLIC $<BUILD_INTERFACE:${view}>)
  foreach(dependency IN LISTS arg_DEPENDS)
    target_link_libraries(tolmail_${layer} PUBLIC tolmail_${dependency})
  endforeach()
  # For their include directories and compile definitions; the link itself is the
  # libraries' business.
  target_link_libraries(tolmail_${layer} PUBLIC ${arg_LINKS})
  set_property(GLOBAL APPEND PROPERTY TOLMAIL_LAYER_LINKS ${arg_LINKS})
  # The shared library exports only what carries TOLMAIL_API.
  set_target_properties(tolmail_${layer} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(TOLMAIL_FUZZ)
    # Coverage instrumentation of the library itself, so that the fuzzers are guided by the
    # protocol code they reach and not only by their own few lines.
    target_compile_options(tolmail_${layer} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# A public header no layer owns would be installed but never reachable from the library's
# own sources; say so while configuring rather than at the first include of it.
function(tolmail_check_header_owners)
  get_property(owned GLOBAL PROPERTY TOLMAIL_OWNED_HEADERS)
  file(GLOB headers RELATIVE ${PROJECT_SOURCE_DIR}/include/tolmail
       ${PROJECT_SOURCE_DIR}/include/tolmail/*.h)
  foreach(header IN LISTS headers)
    if(NOT header IN_LIST owned)
      message(WARNING "include/tolmail/${header} belongs to no layer: add it to the HEADERS of its layer in CMakeLists.txt")
    endif()
  endforeach()
endfunction()

# Links a library built from the layers' objects to what the layers call outside the
# project. Private: a static library's users still receive them (as link-only), and the
# installed package finds them again (tolmailConfig.cmake).
function(tolmail_link_layer_libraries target)
  get_property(links GLOBAL PROPERTY TOLMAIL_LAYER_LINKS)
  list(REMOVE_DUPLICATES links)
  target_link_libraries(${target} PRIVATE ${links})
endfunction()
