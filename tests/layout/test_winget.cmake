# The winget manifest as the build wrote it, read back against the build's truth: the configured
# version, the names and exit codes the setup program is built with (the generated NSIS
# include), and the SHA-256 of each installer in build/bin.
#   cmake -DBUILD=<build folder> -DVERSION=<configured version> -P test_winget.cmake
cmake_minimum_required(VERSION 3.20)

function(fail message)
  message(SEND_ERROR "FAILED: ${message}")
  set_property(GLOBAL APPEND PROPERTY winget_failures x)
endfunction()

# The value of "!define NAME value" in the generated NSIS include.
file(STRINGS ${BUILD}/generated/GlimkitLayout.nsh defines REGEX "^!define ")
function(nsis_define name out)
  foreach(line IN LISTS defines)
    if(line MATCHES "^!define ${name} \"?([^\"]*)\"?$")
      set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "GlimkitLayout.nsh has no ${name}")
endfunction()
nsis_define(PUBLISHER publisher)
nsis_define(PRODUCT product)
nsis_define(SETUP_EXIT_FAILED exit_failed)
nsis_define(SETUP_EXIT_ELEVATION_REQUIRED exit_elevation)
set(id "${publisher}.${product}")

# Each manifest file names the package and this version.
set(dir ${BUILD}/winget)
foreach(file ${id}.yaml ${id}.locale.en-US.yaml ${id}.installer.yaml)
  if(NOT EXISTS ${dir}/${file})
    fail("${dir}/${file} was not written")
    continue()
  endif()
  file(READ ${dir}/${file} text_${file})
  set(text "${text_${file}}")
  if(NOT text MATCHES "\nPackageIdentifier: ${id}\n")
    fail("${file} does not name the package ${id}")
  endif()
  if(NOT text MATCHES "\nPackageVersion: ${VERSION}\n")
    fail("${file} does not carry the version ${VERSION}")
  endif()
  if(text MATCHES "@[A-Z_]+@|%[A-Za-z0-9_.]+%")
    fail("${file} still holds a placeholder: ${CMAKE_MATCH_0}")
  endif()
endforeach()
set(installers "${text_${id}.installer.yaml}")

# The setup program: its switch, its exit codes, its Apps & features entry and its hash.
file(SHA256 ${BUILD}/bin/GlimkitSetup.exe setup_hash)
string(TOUPPER "${setup_hash}" setup_hash)
set(setup_entry "  - Architecture: x64
    InstallerType: nullsoft
    InstallerUrl: [^\n]+/GlimkitSetup.exe
    InstallerSha256: ${setup_hash}
    InstallerSwitches:
      Silent: /S
      SilentWithProgress: /S
    ExpectedReturnCodes:
      - InstallerReturnCode: ${exit_failed}
        ReturnResponse: contactSupport
      - InstallerReturnCode: ${exit_elevation}
        ReturnResponse: custom
    ProductCode: ${product}
    AppsAndFeaturesEntries:
      - DisplayName: ${product}
        Publisher: ${publisher}
        DisplayVersion: ${VERSION}
        ProductCode: ${product}
")
if(NOT installers MATCHES "${setup_entry}")
  fail("the setup program's entry is not the build's (hash ${setup_hash}, exit codes ${exit_failed} and "
       "${exit_elevation}, version ${VERSION}):\n${installers}")
endif()
if(NOT installers MATCHES "\nScope: machine\n")
  fail("the package is not installed per machine")
endif()

# The MSI: listed, with its hash, exactly when the build made it.
if(EXISTS ${BUILD}/bin/GlimkitSetup.msi)
  file(SHA256 ${BUILD}/bin/GlimkitSetup.msi msi_hash)
  string(TOUPPER "${msi_hash}" msi_hash)
  if(NOT installers MATCHES "InstallerType: wix\n[^\n]+/GlimkitSetup.msi\n    InstallerSha256: ${msi_hash}\n")
    fail("the MSI's entry does not carry the built MSI's hash ${msi_hash}")
  endif()
  foreach(code 1602 1603 1618 3010)
    if(NOT installers MATCHES "InstallerReturnCode: ${code}\n")
      fail("the MSI's entry does not expect ${code}")
    endif()
  endforeach()
elseif(installers MATCHES "InstallerType: wix")
  fail("the manifest lists an MSI the build did not make")
endif()

get_property(failures GLOBAL PROPERTY winget_failures)
if(failures)
  message(FATAL_ERROR "the winget manifest disagrees with the build")
endif()
message(STATUS "winget manifest: version ${VERSION}, ${id}, agrees with the build")
