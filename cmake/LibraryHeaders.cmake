# corvenza_library_headers(TARGET HEADER...) puts exactly the named internal
# headers of the library (paths below src/) on TARGET's public include path,
# and no other: each is linked into a folder of TARGET's own, so including
# any other src/ header fails to compile.
function(corvenza_library_headers target)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-library-headers)
  file(REMOVE_RECURSE ${dir})
  foreach(header IN LISTS ARGN)
    if(NOT EXISTS ${PROJECT_SOURCE_DIR}/src/${header})
      message(FATAL_ERROR "${target}: no library header src/${header}")
    endif()
    get_filename_component(folder ${dir}/${header} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${header} ${dir}/${header} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC ${dir})
endfunction()
