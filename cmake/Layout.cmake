# The install layout and the settings values, defined once in common/InstallLayout.h and
# common/SettingsValues.h, handed to what is not C++: the NSIS script (GlimkitLayout.nsh, its
# !defines), the MSI source (GlimkitLayout.wxi, its <?define?>s), resource scripts
# (GlimkitLayoutRc.h, #define GLIMKIT_LAYOUT_<NAME> "text") and CMake itself (a variable
# GLIMKIT_LAYOUT_<NAME> for each constant). Read at configure time; editing a header configures
# again.
#
# The reader is strict: every line of a header is a comment, a blank line, #pragma once, an
# #include, the namespace's opening or closing line, a one-line static_assert, or one constant:
#   constexpr const wchar_t* kName = L"text";         (escapes: \\ and \" only)
#   constexpr DWORD|UINT|BOOL kName = 123;             (or 0x7B)
#   constexpr DWORD|UINT kName[3] = {1, 2, 3};
#   constexpr const wchar_t* kName[] = {kA, kB};       (string constants defined above)
# Anything else fails the configuration, naming the file and line, so a constant the
# installers would silently miss cannot be written.
#
# Names: kProgramFolder becomes PROGRAM_FOLDER, except the names the installers' scripts have
# always used (GLIMKIT_LAYOUT_SCRIPT_NAMES). A list kName becomes NAME_COUNT and NAME_0, NAME_1...
# Numbers are written in decimal.
#
# Also runs as a script, for the tests of the reader:
#   cmake -DHEADERS=a.h;b.h -DOUT_DIR=dir [-DSCRIPT_NAMES=kName=NAME;...] -P cmake/Layout.cmake
cmake_policy(VERSION 3.20)

set(GLIMKIT_LAYOUT_SCRIPT_NAMES
  kProductName=PRODUCT
  kPublisher=PUBLISHER
  kProgramFolder=INSTDIR_FIXED
  kVendorProgramFolder=VENDORDIR
  kServiceName=SERVICE
  kAgentWindowTitle=AGENT_TITLE
  kAgentExitCommand=IDM_EXIT
  kUninstallKey=UNINSTKEY
  kRunKey=RUNKEY
  kRunValue=RUNVALUE
  kSetupHelperFile=HELPER)

# The name a constant has in the generated files.
function(_glimkit_layout_define_name cname out)
  foreach(pair ${GLIMKIT_LAYOUT_SCRIPT_NAMES})
    if(pair MATCHES "^${cname}=(.+)$")
      set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  string(REGEX REPLACE "^k" "" name "${cname}")
  string(REGEX REPLACE "([a-z0-9])([A-Z])" "\\1_\\2" name "${name}")
  string(TOUPPER "${name}" name)
  set(${out} ${name} PARENT_SCOPE)
endfunction()

# A number literal as a decimal text; fails beyond 32 bits.
function(_glimkit_layout_number where literal out)
  if(literal MATCHES "^0x[0-9A-Fa-f]+$")
    string(LENGTH "${literal}" length)
    if(length GREATER 10)
      message(FATAL_ERROR "${where}: ${literal} does not fit in 32 bits")
    endif()
  elseif(literal MATCHES "^(0|[1-9][0-9]*)$")
    string(LENGTH "${literal}" length)
    if(length GREATER 10 OR (length EQUAL 10 AND literal STRGREATER "4294967295"))
      message(FATAL_ERROR "${where}: ${literal} does not fit in 32 bits")
    endif()
  else()
    message(FATAL_ERROR "${where}: '${literal}' is not a whole number (decimal or 0x hex)")
  endif()
  math(EXPR value "${literal}" OUTPUT_FORMAT DECIMAL)
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# The text of a C++ wide string literal's body; fails on an escape other than \\ and \", on a
# bare quote, and on what the installers' sources cannot hold ($, ?>, non-ASCII or control
# characters).
function(_glimkit_layout_text where body out)
  set(bs "@GLIMKIT_LAYOUT_BACKSLASH@")
  set(quote "@GLIMKIT_LAYOUT_QUOTE@")
  if(body MATCHES "@GLIMKIT_LAYOUT_")
    message(FATAL_ERROR "${where}: the text holds the reader's own marker")
  endif()
  string(REPLACE "\\\\" "${bs}" text "${body}")
  string(REPLACE "\\\"" "${quote}" text "${text}")
  if(text MATCHES "\\\\")
    message(FATAL_ERROR "${where}: only \\\\ and \\\" escapes are understood in L\"${body}\"")
  endif()
  if(text MATCHES "\"")
    message(FATAL_ERROR "${where}: a quote ends the string inside L\"${body}\"")
  endif()
  string(REPLACE "${bs}" "\\" text "${text}")
  string(REPLACE "${quote}" "\"" text "${text}")
  if(text MATCHES "[\"$]" OR text MATCHES "\\?>")
    message(FATAL_ERROR "${where}: \", $ and ?> cannot be written into the installers' sources: L\"${body}\"")
  endif()
  if(text MATCHES "[^ -~]")
    message(FATAL_ERROR "${where}: only printable ASCII can be written into the installers' sources: L\"${body}\"")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Reads the headers. Sets GLIMKIT_LAYOUT_DEFINES (the generated names, in header order) and,
# for each, GLIMKIT_LAYOUT_<NAME> (its value) and GLIMKIT_LAYOUT_KIND_<NAME> (STRING or NUMBER).
function(glimkit_read_layout)
  set(defines)
  set(strings)  # C++ names of the string constants, for the lists that name them
  set(cnames)
  foreach(header ${ARGN})
    file(READ "${header}" text)
    get_filename_component(file_name "${header}" NAME)
    set(number 0)
    while(NOT text STREQUAL "")
      string(FIND "${text}" "\n" at)
      if(at EQUAL -1)
        set(line "${text}")
        set(text "")
      else()
        string(SUBSTRING "${text}" 0 ${at} line)
        math(EXPR at "${at} + 1")
        string(SUBSTRING "${text}" ${at} -1 text)
      endif()
      math(EXPR number "${number} + 1")
      string(REGEX REPLACE "\r$" "" line "${line}")
      set(where "${file_name}:${number}")

      set(cname)
      set(items)
      if(line STREQUAL "" OR line MATCHES "^ *//" OR line STREQUAL "#pragma once"
         OR line MATCHES "^#include (\"[A-Za-z0-9_./]+\"|<[A-Za-z0-9_./]+>)$"
         OR line STREQUAL "namespace glim {" OR line STREQUAL "}  // namespace glim"
         OR line MATCHES "^static_assert\\(.*\\);$")
        continue()
      elseif(line MATCHES "^constexpr const wchar_t\\* (k[A-Za-z0-9]+) = L\"(.*)\";$")
        set(cname ${CMAKE_MATCH_1})
        _glimkit_layout_text("${where}" "${CMAKE_MATCH_2}" value)
        set(kind STRING)
        list(APPEND strings ${cname})
        set(string_${cname} "${value}")
      elseif(line MATCHES "^constexpr (DWORD|UINT|BOOL) (k[A-Za-z0-9]+) = ([0-9A-Fa-fx]+);$")
        set(cname ${CMAKE_MATCH_2})
        _glimkit_layout_number("${where}" "${CMAKE_MATCH_3}" value)
        set(kind NUMBER)
      elseif(line MATCHES "^constexpr (DWORD|UINT) (k[A-Za-z0-9]+)\\[([0-9]*)\\] = [{]([0-9A-Fa-fx]+(, [0-9A-Fa-fx]+)*)[}];$")
        set(cname ${CMAKE_MATCH_2})
        set(size "${CMAKE_MATCH_3}")
        string(REPLACE ", " ";" literals "${CMAKE_MATCH_4}")
        set(kind NUMBER)
        foreach(literal ${literals})
          _glimkit_layout_number("${where}" "${literal}" value)
          list(APPEND items ${value})
        endforeach()
      elseif(line MATCHES "^constexpr const wchar_t\\* (k[A-Za-z0-9]+)\\[([0-9]*)\\] = [{](k[A-Za-z0-9]+(, k[A-Za-z0-9]+)*)[}];$")
        set(cname ${CMAKE_MATCH_1})
        set(size "${CMAKE_MATCH_2}")
        string(REPLACE ", " ";" refs "${CMAKE_MATCH_3}")
        set(kind STRING)
        foreach(ref ${refs})
          if(NOT ref IN_LIST strings)
            message(FATAL_ERROR "${where}: ${ref} is not a string constant defined above")
          endif()
          if(string_${ref} MATCHES ";")
            message(FATAL_ERROR "${where}: ${ref} holds a semicolon and cannot be an element of ${cname}")
          endif()
          list(APPEND items "${string_${ref}}")
        endforeach()
      else()
        message(FATAL_ERROR "${where}: a line the layout reader does not understand (one constant per line, "
                            "in the forms cmake/Layout.cmake lists): ${line}")
      endif()

      if(cname IN_LIST cnames)
        message(FATAL_ERROR "${where}: ${cname} is defined twice")
      endif()
      list(APPEND cnames ${cname})
      _glimkit_layout_define_name(${cname} name)
      set(names)
      if(DEFINED items)
        list(LENGTH items count)
        if(NOT size STREQUAL "" AND NOT size EQUAL count)
          message(FATAL_ERROR "${where}: ${cname} declares ${size} elements and lists ${count}")
        endif()
        list(APPEND names ${name}_COUNT)
        set(value_${name}_COUNT ${count})
        set(kind_${name}_COUNT NUMBER)
        set(index 0)
        foreach(item ${items})
          list(APPEND names ${name}_${index})
          set(value_${name}_${index} "${item}")
          set(kind_${name}_${index} ${kind})
          math(EXPR index "${index} + 1")
        endforeach()
      else()
        list(APPEND names ${name})
        set(value_${name} "${value}")
        set(kind_${name} ${kind})
      endif()
      foreach(define ${names})
        if(define IN_LIST defines)
          message(FATAL_ERROR "${where}: ${cname} would be written as ${define}, which another constant already is")
        endif()
        list(APPEND defines ${define})
        set(GLIMKIT_LAYOUT_${define} "${value_${define}}" PARENT_SCOPE)
        set(GLIMKIT_LAYOUT_KIND_${define} ${kind_${define}} PARENT_SCOPE)
      endforeach()
    endwhile()
  endforeach()
  foreach(pair ${GLIMKIT_LAYOUT_SCRIPT_NAMES})
    string(REGEX REPLACE "=.*" "" cname "${pair}")
    if(NOT cname IN_LIST cnames)
      message(FATAL_ERROR "The installers' scripts use ${cname}, which the layout headers do not define")
    endif()
  endforeach()
  set(GLIMKIT_LAYOUT_DEFINES ${defines} PARENT_SCOPE)
endfunction()

# Writes GlimkitLayout.nsh, GlimkitLayout.wxi and GlimkitLayoutRc.h into out_dir from what glimkit_read_layout
# read; a file whose text is unchanged keeps its time stamp, so nothing is made again for it.
function(glimkit_write_layout out_dir)
  set(header "Generated at configure time by cmake/Layout.cmake from common/InstallLayout.h and common/SettingsValues.h; edit those")
  set(nsh "; ${header}.\n")
  set(wxi "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- ${header}. -->\n<Include>\n")
  set(rc "// ${header}.\n#pragma once\n")
  foreach(define ${GLIMKIT_LAYOUT_DEFINES})
    set(value "${GLIMKIT_LAYOUT_${define}}")
    if(GLIMKIT_LAYOUT_KIND_${define} STREQUAL "NUMBER")
      string(APPEND nsh "!define ${define} ${value}\n")
      string(APPEND rc "#define GLIMKIT_LAYOUT_${define} ${value}\n")
    else()
      string(APPEND nsh "!define ${define} \"${value}\"\n")
      string(REPLACE "\\" "\\\\" escaped "${value}")
      string(APPEND rc "#define GLIMKIT_LAYOUT_${define} \"${escaped}\"\n")
    endif()
    string(APPEND wxi "  <?define ${define} = \"${value}\"?>\n")
  endforeach()
  string(APPEND wxi "</Include>\n")
  foreach(file GlimkitLayout.nsh GlimkitLayout.wxi GlimkitLayoutRc.h)
    if(file MATCHES "nsh$")
      set(content "${nsh}")
    elseif(file MATCHES "wxi$")
      set(content "${wxi}")
    else()
      set(content "${rc}")
    endif()
    file(MAKE_DIRECTORY "${out_dir}")
    set(existing)
    if(EXISTS "${out_dir}/${file}")
      file(READ "${out_dir}/${file}" existing)
    endif()
    if(NOT existing STREQUAL content)
      file(WRITE "${out_dir}/${file}" "${content}")
    endif()
  endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT HEADERS OR NOT OUT_DIR)
    message(FATAL_ERROR "usage: cmake -DHEADERS=a.h;b.h -DOUT_DIR=dir [-DSCRIPT_NAMES=kName=NAME;...] -P Layout.cmake")
  endif()
  if(DEFINED SCRIPT_NAMES)
    set(GLIMKIT_LAYOUT_SCRIPT_NAMES ${SCRIPT_NAMES})
  endif()
  glimkit_read_layout(${HEADERS})
  file(MAKE_DIRECTORY "${OUT_DIR}")
  glimkit_write_layout("${OUT_DIR}")
endif()
