# The build's one version, defined once as the project version (CMakeLists.txt at the top)
# and overridable at configure time with -DGLIMKIT_VERSION=MAJOR.MINOR.PATCH. Everything
# that shows a version takes it from here, generated at configure time:
#   generated/GlimVersion.h      the programs (glimctl --version)
#   generated/GlimkitVersion.nsh  the setup program (its version resource, DisplayVersion)
#   glimkit_program_resources()   each program's version resource and manifest
# A version resource holds each part in 16 bits.
foreach(part MAJOR MINOR PATCH)
  if(PROJECT_VERSION_${part} GREATER 65535)
    message(FATAL_ERROR "GLIMKIT_VERSION ${PROJECT_VERSION}: each part must be at most 65535")
  endif()
endforeach()
set(GLIMKIT_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
set(GLIMKIT_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/GlimVersion.h.in ${GLIMKIT_GENERATED_DIR}/GlimVersion.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/GlimkitVersion.nsh.in ${GLIMKIT_GENERATED_DIR}/GlimkitVersion.nsh @ONLY)

# glimkit_program_resources(TARGET DESCRIPTION [UIACCESS]): the program's version resource
# (file and product version, company, product, DESCRIPTION, original file name) and its
# application manifest (supported Windows versions, asInvoker; UIACCESS asks for UI access).
function(glimkit_program_resources target description)
  cmake_parse_arguments(R "UIACCESS" "" "" ${ARGN})
  set(GLIMKIT_PROGRAM_NAME ${target})
  set(GLIMKIT_PROGRAM_FILE ${target}.exe)
  set(GLIMKIT_PROGRAM_DESCRIPTION "${description}")
  if(R_UIACCESS)
    set(GLIMKIT_UIACCESS true)
  else()
    set(GLIMKIT_UIACCESS false)
  endif()
  set(dir ${GLIMKIT_GENERATED_DIR}/${target})
  set(GLIMKIT_PROGRAM_MANIFEST ${dir}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/Program.manifest.in ${GLIMKIT_PROGRAM_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/ProgramVersion.rc.in ${dir}/${target}.version.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.version.rc)
  # The resource file carries the manifest; the linker must not add one of its own.
  if(MSVC)
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
endfunction()
