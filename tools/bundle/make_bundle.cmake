# Builds a UI bundle: copies every file of SRC (except CMakeLists.txt) to OUT
# and writes OUT/version.json, the version manifest the program seeds its
# bundle store from and the web host serves:
#
#   {"uiVersion":"...","files":["ui/login.html",...],"sha256":["...",...]}
#
# plus "appVersion", "appUrl" and "appSha256" when APP_FILE is given.
#
#   cmake -DSRC=ui -DOUT=build/ui-bundle -DVERSION=1.3.191
#         [-DAPP_FILE=path -DAPP_VERSION=1.3.192 -DAPP_URL=/v2/pos/tillbay] -P make_bundle.cmake
#
# The UI version name is the program version and the first eight digits of
# the hash of the file list, so it changes whenever any file does. Names must
# meet the rules the program's store checks, or the build stops here rather
# than shipping a bundle the program would refuse.

cmake_minimum_required(VERSION 3.25)
foreach(var SRC OUT VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_bundle: ${var} is required")
  endif()
endforeach()

set(max_files 128)
set(reserved_re "^([Cc][Oo][Nn]|[Pp][Rr][Nn]|[Aa][Uu][Xx]|[Nn][Uu][Ll]|[Cc][Oo][Mm][0-9]|[Ll][Pp][Tt][0-9])$")

file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${SRC} ${SRC}/*)
list(REMOVE_ITEM found CMakeLists.txt)
# Hidden files (editor swap files, desktop metadata) are never part of a bundle.
list(FILTER found EXCLUDE REGEX "(^|/)\\.")
list(SORT found)

set(names "")
set(hashes "")
set(listing "")
set(lowered_seen "")
foreach(rel ${found})
  set(name "ui/${rel}")
  string(LENGTH "${name}" name_len)
  if(name_len GREATER 95)
    message(FATAL_ERROR "make_bundle: name too long (96 bytes or more): ${name}")
  endif()
  string(REPLACE "/" ";" segments "${rel}")
  foreach(segment ${segments})
    if(NOT segment MATCHES "^[A-Za-z0-9_-]([A-Za-z0-9._-]*[A-Za-z0-9_-])?$")
      message(FATAL_ERROR "make_bundle: file name breaks the bundle rule: ${rel}")
    endif()
    string(REGEX REPLACE "\\..*$" "" stem "${segment}")
    if(stem MATCHES "${reserved_re}")
      message(FATAL_ERROR "make_bundle: reserved device name in ${rel}")
    endif()
  endforeach()
  string(TOLOWER "${rel}" lowered)
  if(lowered IN_LIST lowered_seen)
    message(FATAL_ERROR "make_bundle: two files differ only in letter case: ${rel}")
  endif()
  list(APPEND lowered_seen "${lowered}")
  file(SHA256 ${SRC}/${rel} hash)
  list(APPEND names "${name}")
  list(APPEND hashes "${hash}")
  string(APPEND listing "${name}\t${hash}\n")
endforeach()

list(LENGTH names count)
if(count GREATER max_files)
  message(FATAL_ERROR "make_bundle: ${count} files; a bundle holds at most ${max_files}")
endif()

string(SHA256 list_hash "${listing}")
string(SUBSTRING "${list_hash}" 0 8 short_hash)
set(ui_version "${VERSION}-${short_hash}")

# A clean output folder: a file removed from ui/ must not linger in the bundle.
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
foreach(rel ${found})
  get_filename_component(dir "${rel}" DIRECTORY)
  file(COPY ${SRC}/${rel} DESTINATION ${OUT}/${dir})
endforeach()

set(json_files "")
set(json_hashes "")
set(sep "")
foreach(name hash IN ZIP_LISTS names hashes)
  string(APPEND json_files "${sep}\n    \"${name}\"")
  string(APPEND json_hashes "${sep}\n    \"${hash}\"")
  set(sep ",")
endforeach()
if(count GREATER 0)
  string(APPEND json_files "\n  ")
  string(APPEND json_hashes "\n  ")
endif()

set(app_fields "")
if(DEFINED APP_FILE AND NOT APP_FILE STREQUAL "")
  if(NOT DEFINED APP_VERSION OR NOT DEFINED APP_URL)
    message(FATAL_ERROR "make_bundle: APP_FILE needs APP_VERSION and APP_URL")
  endif()
  file(SHA256 ${APP_FILE} app_hash)
  set(app_fields ",\n  \"appVersion\": \"${APP_VERSION}\",\n  \"appUrl\": \"${APP_URL}\",\n  \"appSha256\": \"${app_hash}\"")
endif()

file(WRITE ${OUT}/version.json
  "{\n  \"uiVersion\": \"${ui_version}\",\n  \"files\": [${json_files}],\n  \"sha256\": [${json_hashes}]${app_fields}\n}\n")
message(STATUS "UI bundle ${ui_version}: ${count} files")
