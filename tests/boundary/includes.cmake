# Fails when a source file includes across a boundary that must not exist:
#   orvo/ (the host)    -> buffer~/ other than its interface, buffer~/host/
#   buffer~/ (plug-in)  -> orvo/
#   buffer~/edit/       -> buffer~/read/, write/ or window/
#   buffer~/read/, write/ -> buffer~/edit/
# Run as: cmake -DROOT=<source folder> -P includes.cmake
if(NOT ROOT)
  message(FATAL_ERROR "ROOT not set")
endif()

# The folders an include may start from, besides the including file's own.
set(roots "${ROOT}/buffer~" "${ROOT}/orvo/include" "${ROOT}")

function(resolve dir name out)
  foreach(base IN ITEMS "${dir}" ${roots})
    if(EXISTS "${base}/${name}")
      get_filename_component(full "${base}/${name}" ABSOLUTE)
      file(RELATIVE_PATH rel "${ROOT}" "${full}")
      set(${out} "${rel}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

# Prints "why" when a file matching from_re includes a file matching to_re.
function(forbid from to_re why)
  if(NOT to MATCHES "${to_re}")
    return()
  endif()
  message("${from} includes ${to}: ${why}")
  set(bad TRUE PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/buffer~/*.h" "${ROOT}/buffer~/*.cpp"
     "${ROOT}/orvo/*.h" "${ROOT}/orvo/*.cpp")
set(violations 0)
foreach(from IN LISTS sources)
  file(STRINGS "${ROOT}/${from}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  get_filename_component(dir "${ROOT}/${from}" DIRECTORY)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" name "${line}")
    resolve("${dir}" "${name}" to)
    if(NOT to)
      continue()  # a system or generated header
    endif()
    set(bad FALSE)
    if(from MATCHES "^orvo/")
      forbid("${from}" "^buffer~/(core|read|write|edit|window)/" "the host sees only buffer~/host")
    elseif(from MATCHES "^buffer~/")
      forbid("${from}" "^orvo/" "the plug-in sees only buffer~/host")
    endif()
    if(from MATCHES "^buffer~/edit/")
      forbid("${from}" "^buffer~/(read|write|window)/" "editing stands apart from reading, writing and the window")
    elseif(from MATCHES "^buffer~/(read|write)/")
      forbid("${from}" "^buffer~/edit/" "reading and writing do not edit")
    endif()
    if(bad)
      math(EXPR violations "${violations} + 1")
    endif()
  endforeach()
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "${violations} include(s) across a boundary")
endif()
