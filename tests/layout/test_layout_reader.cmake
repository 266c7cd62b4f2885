# The layout reader (cmake/Layout.cmake) in script mode: a header of every understood form is
# written out exactly, and each line it must not guess at fails the run, naming the line.
#   cmake -DLAYOUT=<cmake/Layout.cmake> -DWORK=<scratch folder> -P test_layout_reader.cmake
cmake_minimum_required(VERSION 3.20)

# Runs the reader on one header text; sets result and output (stderr and stdout) in the caller.
function(read_header case text script_names)
  set(dir ${WORK}/${case})
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${dir}/layout.h "${text}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DHEADERS=${dir}/layout.h -DOUT_DIR=${dir}/out
                          "-DSCRIPT_NAMES=${script_names}" -P ${LAYOUT}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(result "${code}" PARENT_SCOPE)
  set(output "${err}${out}" PARENT_SCOPE)
endfunction()

function(fail message)
  message(SEND_ERROR "FAILED: ${message}")
  set_property(GLOBAL APPEND PROPERTY layout_failures x)
endfunction()

# ---- every understood form, with the characters that need care in CMake and the installers
read_header(good [=[
// A comment, a blank line, the preamble and the namespace.
#pragma once

#include "RuleTypes.h"
#include <windows.h>

namespace glim {

    // An indented comment.
constexpr const wchar_t* kFolder = L"C:\\Program Files (x86)\\A";
constexpr const wchar_t* kSddl = L"D:P(A;OICI;FA;;;SY)[x]";
constexpr const wchar_t* kQuoted = L"it's <b> & (c)";
constexpr const wchar_t* kEmpty = L"";
static_assert(IsPathJoin(kFolder, L"C:\\Program Files (x86)", L"A"), "folder");
constexpr DWORD kAll = 0xFFFFFFFF;
constexpr UINT kExitCommand = 105;
constexpr BOOL kFlag = 1;
constexpr DWORD kDelaysMs[3] = {5000, 0x10, 0};
constexpr const wchar_t* kFile = L"a.exe";
constexpr const wchar_t* kFiles[] = {kFile, kFolder};

}  // namespace glim
]=] "kExitCommand=IDM_EXIT")
file(READ ${WORK}/good/out/GlimkitLayout.nsh nsh)
file(READ ${WORK}/good/out/GlimkitLayoutRc.h rc)
file(READ ${WORK}/good/out/GlimkitLayout.wxi wxi)
set(expected_nsh [=[
!define FOLDER "C:\Program Files (x86)\A"
!define SDDL "D:P(A;OICI;FA;;;SY)[x]"
!define QUOTED "it's <b> & (c)"
!define EMPTY ""
!define ALL 4294967295
!define IDM_EXIT 105
!define FLAG 1
!define DELAYS_MS_COUNT 3
!define DELAYS_MS_0 5000
!define DELAYS_MS_1 16
!define DELAYS_MS_2 0
!define FILE "a.exe"
!define FILES_COUNT 2
!define FILES_0 "a.exe"
!define FILES_1 "C:\Program Files (x86)\A"
]=])
if(NOT result EQUAL 0)
  fail("a header of understood lines was refused:\n${output}")
endif()
if(NOT nsh MATCHES "^; Generated[^\n]*\n(.*)$" OR NOT CMAKE_MATCH_1 STREQUAL expected_nsh)
  fail("the NSIS include is not the header's constants:\n${nsh}")
endif()
if(NOT rc MATCHES [=[#define GLIMKIT_LAYOUT_FOLDER "C:\\\\Program Files \(x86\)\\\\A"]=]
   OR NOT rc MATCHES "#define GLIMKIT_LAYOUT_DELAYS_MS_1 16\n")
  fail("the resource header does not escape or convert as a resource script reads it:\n${rc}")
endif()
if(NOT wxi MATCHES [=[  <\?define SDDL = "D:P\(A;OICI;FA;;;SY\)\[x\]"\?>]=] OR NOT wxi MATCHES "</Include>\n$")
  fail("the WiX include does not define the header's constants:\n${wxi}")
endif()

# ---- lines the reader must refuse, each failure naming the line and what is wrong with it
function(refuse case text expected)
  string(REPLACE " " "_" dir "${case}")
  read_header(${dir} "${text}\n" "kExitCommand=IDM_EXIT")
  if(result EQUAL 0)
    fail("${case}: the reader accepted it")
  else()
    # CMake wraps a long message: compare with the line breaks and indents as single spaces.
    string(REGEX REPLACE "[ \n]+" " " said "${output}")
    string(FIND "${said}" "${expected}" at)
    if(at EQUAL -1)
      fail("${case}: the failure does not say '${expected}':\n${output}")
    endif()
  endif()
endfunction()

refuse("trailing comment" [=[constexpr const wchar_t* kA = L"x";  // why]=]
       "layout.h:1: a line the layout reader does not understand")
refuse("escape other than backslash and quote" [=[constexpr const wchar_t* kA = L"a\\nb";
constexpr const wchar_t* kB = L"a\nb";]=] "layout.h:2: only")
refuse("two literals" [=[constexpr const wchar_t* kA = L"a" L"b";]=] "layout.h:1: a quote ends the string")
refuse("an escaped quote" [=[constexpr const wchar_t* kA = L"say \"hi\"";]=] [=[layout.h:1: ", $ and ?>]=])
refuse("a dollar the installers would expand" [=[constexpr const wchar_t* kA = L"$(var.X)";]=] [=[layout.h:1: ", $ and ?>]=])
refuse("end of a processing instruction" [=[constexpr const wchar_t* kA = L"a?>b";]=] [=[layout.h:1: ", $ and ?>]=])
refuse("non-ASCII text" [=[constexpr const wchar_t* kA = L"café";]=] "layout.h:1: only printable ASCII")
refuse("number beyond 32 bits" [=[constexpr DWORD kA = 4294967296;]=] "layout.h:1: 4294967296 does not fit")
refuse("hex beyond 32 bits" [=[constexpr DWORD kA = 0x100000000;]=] "layout.h:1: 0x100000000 does not fit")
refuse("octal-looking number" [=[constexpr DWORD kA = 010;]=] "layout.h:1: '010' is not a whole number")
refuse("an expression" [=[constexpr DWORD kA = static_cast<DWORD>(-1);]=] "layout.h:1: a line the layout reader")
refuse("another type" [=[constexpr int kA = 1;]=] "layout.h:1: a line the layout reader")
refuse("a macro" [=[#define GLIM_A 1]=] "layout.h:1: a line the layout reader")
refuse("a continued line" [=[// x
constexpr const wchar_t* kA = \
    L"x";]=] "layout.h:2: a line the layout reader")
refuse("a declared size that disagrees" [=[constexpr DWORD kA[3] = {1, 2};]=] "layout.h:1: kA declares 3 elements and lists 2")
refuse("a list naming an unknown constant" [=[constexpr const wchar_t* kA[] = {kMissing};]=]
       "layout.h:1: kMissing is not a string constant")
refuse("a constant twice" [=[constexpr DWORD kA = 1;
constexpr DWORD kA = 2;]=] "layout.h:2: kA is defined twice")
refuse("two constants written alike" [=[constexpr DWORD kUrl = 1;
constexpr DWORD kURL = 2;]=] "layout.h:2: kURL would be written as URL")
refuse("a list and a constant written alike" [=[constexpr DWORD kX1[] = {1};
constexpr DWORD kX1Count = 1;]=] "layout.h:2: kX1Count would be written as X1_COUNT")
refuse("a script name the headers lack" [=[constexpr DWORD kA = 1;]=]
       "use kExitCommand, which the layout headers do not define")

get_property(failures GLOBAL PROPERTY layout_failures)
list(LENGTH failures failures)
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} case(s) failed")
endif()
message(STATUS "layout reader: all cases passed")
