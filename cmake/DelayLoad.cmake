# glimkit_delay_load(TARGET DLL...): the target loads the named system DLLs (names without
# ".dll") on the first call into them instead of at process start, so a start that never
# calls them never pays for loading them.
#   Visual Studio: /DELAYLOAD and the delayimp helper.
#   mingw-w64: a delay-import library per DLL (dlltool --output-delaylib, from the exports
#   of the regular import library), named like the regular one in a folder searched first
#   for this target only; every -l<dll> of the target, its dependencies' included, then
#   binds to it. The helper (__delayLoadHelper2) comes with mingw-w64's runtime.
function(glimkit_delay_load target)
  if(MSVC)
    foreach(dll IN LISTS ARGN)
      target_link_options(${target} PRIVATE /DELAYLOAD:${dll}.dll)
    endforeach()
    target_link_libraries(${target} PRIVATE delayimp)
    return()
  endif()
  if(NOT MINGW)
    return()
  endif()
  if(NOT GLIMKIT_DLLTOOL)
    find_program(GLIMKIT_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${GLIMKIT_TRIPLE}-dlltool REQUIRED)
  endif()
  if(NOT GLIMKIT_NM)
    find_program(GLIMKIT_NM NAMES ${CMAKE_NM} ${GLIMKIT_TRIPLE}-nm REQUIRED)
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/delayload-${target})
  set(outputs)
  foreach(dll IN LISTS ARGN)
    find_library(GLIMKIT_IMPLIB_${dll} NAMES ${dll} REQUIRED)
    set(def ${dir}/${dll}.def)
    set(lib ${dir}/lib${dll}.a)
    add_custom_command(OUTPUT ${lib}
      COMMAND ${CMAKE_COMMAND} -DNM=${GLIMKIT_NM} -DIMPLIB=${GLIMKIT_IMPLIB_${dll}} -DDLL=${dll}.dll -DDEF=${def}
              -P ${PROJECT_SOURCE_DIR}/cmake/DelayLoadDef.cmake
      COMMAND ${GLIMKIT_DLLTOOL} --input-def ${def} --dllname ${dll}.dll --output-delaylib ${lib}
      DEPENDS ${GLIMKIT_IMPLIB_${dll}} ${PROJECT_SOURCE_DIR}/cmake/DelayLoadDef.cmake
      COMMENT "Delay-import library for ${dll}.dll"
      VERBATIM)
    list(APPEND outputs ${lib})
  endforeach()
  add_custom_target(${target}_delayload DEPENDS ${outputs})
  add_dependencies(${target} ${target}_delayload)
  target_link_directories(${target} BEFORE PRIVATE ${dir})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${outputs})
endfunction()
