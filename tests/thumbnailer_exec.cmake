# Runs the thumbnailer entry's Exec line as a file manager does: TryExec looked up in PATH,
# the line split into words, %s, %i and %o each replaced by one whole argument (a size, the
# film's path, the picture's path), and the command run; then reads the picture's PNG header.
# -DTHUMBNAILER=entry -DFILM=a film -DWORK=a folder of the test's own -DZRFILM=zrfilm (which
# tells the film's size); the thumbnailer in PATH.
#
# -DSANDBOX=gnome runs the command as GNOME's thumbnail factory does, inside bwrap: /usr and the
# merged /bin, /lib, /lib64 and /sbin read-only, the loader's cache, --unshare-all, the output
# folder (a fresh one) bound as /tmp, the film bound read-only under a fixed name in it, the
# session's XDG_RUNTIME_DIR (which does not exist there); afterwards the factory removes the
# picture and the film's name and then the folder, so nothing else may be left in it.
# -DSANDBOX=usr the same with /usr alone, without the loader's cache. The program just built is
# bound read-only at its own path, first in PATH: it has no run path of its own, so it starts
# from the libraries in /usr alone, as the installed one in /usr/bin does. Where bwrap cannot
# run (no user namespaces), the test says so and is skipped.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
set(films "${WORK}/Фильмы Анны")
file(MAKE_DIRECTORY "${films}")
set(input "${films}/урок 1 (копия).zrcab")
file(COPY_FILE "${FILM}" "${input}")
# zrfilm's private temporary folder goes under the test's own.
set(ENV{XDG_RUNTIME_DIR} "${WORK}")

file(STRINGS "${THUMBNAILER}" lines ENCODING UTF-8)
list(GET lines 0 group)
if(NOT group STREQUAL "[Thumbnailer Entry]")
  message(FATAL_ERROR "the entry starts with \"${group}\", not [Thumbnailer Entry]")
endif()
set(tryexec "")
set(exec "")
foreach(line IN LISTS lines)
  if(line MATCHES "^TryExec=(.*)$")
    set(tryexec "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^Exec=(.*)$")
    set(exec "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^MimeType=(.*)$")
    set(types "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT types STREQUAL "application/x-verirove-film;")
  message(FATAL_ERROR "MimeType is \"${types}\"")
endif()
find_program(found "${tryexec}" NO_CACHE NO_DEFAULT_PATH PATHS ENV PATH)
if(NOT found)
  message(FATAL_ERROR "TryExec=${tryexec} is not found in PATH ($ENV{PATH})")
endif()

# The film's frame size, from zrfilm's listing: "1<TAB>name<TAB>duration<TAB>WxH...".
execute_process(COMMAND "${ZRFILM}" info "${input}" OUTPUT_VARIABLE info RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT info MATCHES "^1\t[^\t]*\t[^\t]*\t([0-9]+)x([0-9]+)\t")
  message(FATAL_ERROR "zrfilm info failed (${status}): ${info}")
endif()
set(filmWidth ${CMAKE_MATCH_1})
set(filmHeight ${CMAKE_MATCH_2})

# The thumbnailer links none of the export's video libraries (nor what they pull in).
execute_process(COMMAND ldd "${found}" OUTPUT_VARIABLE libraries RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR libraries MATCHES "lib(av|sw|postproc|x26|vpx|SvtAv1|dav1d|blas|lapack)[^ ]*")
  message(FATAL_ERROR "${found} links ${CMAKE_MATCH_0} (ldd: ${status}):\n${libraries}")
endif()

set(sandbox "")
if(DEFINED SANDBOX AND NOT SANDBOX STREQUAL "none")
  find_program(bwrap bwrap NO_CACHE)
  if(NOT bwrap)
    message(STATUS "SKIPPED: bwrap is not installed (scripts/setup installs bubblewrap)")
    return()
  endif()
  set(sandbox "${bwrap}" --ro-bind /usr /usr)
  if(SANDBOX STREQUAL "gnome")
    list(APPEND sandbox --ro-bind-try /etc/ld.so.cache /etc/ld.so.cache)
  endif()
  # Merged into /usr here, or folders of their own.
  foreach(dir bin lib64 lib sbin)
    if(IS_SYMLINK "/${dir}")
      list(APPEND sandbox --symlink "usr/${dir}" "/${dir}")
    elseif(IS_DIRECTORY "/${dir}")
      list(APPEND sandbox --ro-bind "/${dir}" "/${dir}")
    endif()
  endforeach()
  list(APPEND sandbox --proc /proc --dev /dev --chdir / --setenv GIO_USE_VFS local --unshare-all --die-with-parent)
  execute_process(COMMAND ${sandbox} /usr/bin/true RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(STATUS "SKIPPED: bwrap cannot run here (${status}): ${errors}")
    return()
  endif()
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(programDir "${found}" DIRECTORY)
  list(APPEND sandbox --setenv XDG_RUNTIME_DIR "/run/user/${uid}" --unsetenv TMPDIR
       --ro-bind "${found}" "${found}" --setenv PATH "${programDir}:/usr/bin:/bin")
endif()

# Two file managers' ways: a fresh path, and a temporary file created empty beforehand.
foreach(case "128;fresh" "48;created")
  list(GET case 0 size)
  list(GET case 1 kind)
  set(output "${WORK}/thumb-${kind}.png")
  set(command "")
  set(inside "${input}")
  set(outside "${output}")
  if(sandbox)
    # The factory's folder for this picture, seen as /tmp inside.
    set(box "${WORK}/box-${kind}")
    file(MAKE_DIRECTORY "${box}")
    set(inside "/tmp/gnome-desktop-file-to-thumbnail.zrcab")
    set(outside "/tmp/gnome-desktop-thumbnailer.png")
    set(output "${box}/gnome-desktop-thumbnailer.png")
    set(command ${sandbox} --bind "${box}" /tmp --ro-bind "${input}" "${inside}")
  endif()
  if(kind STREQUAL "created")
    file(TOUCH "${output}")
  endif()
  separate_arguments(words UNIX_COMMAND "${exec}")
  foreach(word IN LISTS words)
    if(word STREQUAL "%s")
      list(APPEND command "${size}")
    elseif(word STREQUAL "%i")
      list(APPEND command "${inside}")
    elseif(word STREQUAL "%o")
      list(APPEND command "${outside}")
    else()
      list(APPEND command "${word}")
    endif()
  endforeach()
  execute_process(COMMAND ${command} RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
    message(FATAL_ERROR "${command} failed (${status}): ${errors}")
  endif()

  # The PNG signature, then IHDR: width and height as 4-byte big-endian numbers.
  file(READ "${output}" head LIMIT 24 HEX)
  string(SUBSTRING "${head}" 0 16 signature)
  if(NOT signature STREQUAL "89504e470d0a1a0a")
    message(FATAL_ERROR "${output} is not a PNG file: ${head}")
  endif()
  string(SUBSTRING "${head}" 32 8 widthHex)
  string(SUBSTRING "${head}" 40 8 heightHex)
  math(EXPR width "0x${widthHex}")
  math(EXPR height "0x${heightHex}")
  # The longer side is the size; the shorter keeps the film's aspect ratio, rounded.
  if(filmWidth GREATER_EQUAL filmHeight)
    math(EXPR expectedWidth "${size}")
    math(EXPR expectedHeight "(2 * ${filmHeight} * ${size} + ${filmWidth}) / (2 * ${filmWidth})")
  else()
    math(EXPR expectedHeight "${size}")
    math(EXPR expectedWidth "(2 * ${filmWidth} * ${size} + ${filmHeight}) / (2 * ${filmHeight})")
  endif()
  if(NOT width EQUAL expectedWidth OR NOT height EQUAL expectedHeight)
    message(FATAL_ERROR "a ${filmWidth}x${filmHeight} film gave a ${width}x${height} thumbnail for size ${size}, "
                        "not ${expectedWidth}x${expectedHeight}")
  endif()
  message(STATUS "${kind}: ${width}x${height} for size ${size}")
  if(sandbox)
    # What the factory removes; then the folder must be empty.
    file(REMOVE "${output}" "${box}/gnome-desktop-file-to-thumbnail.zrcab")
    file(GLOB left LIST_DIRECTORIES true "${box}/*" "${box}/.*")
    if(left)
      message(FATAL_ERROR "the thumbnailer left ${left} in the folder it was given")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK}")
