# Fails when a source file includes across a boundary that must not exist.
# Run as: cmake -DROOT=<source folder> -P includes.cmake
if(NOT ROOT)
  message(FATAL_ERROR "ROOT not set")
endif()

# Each rule: the including files, the included files it must not include (regexes
# on paths from ROOT), and why.
set(rules
  "^orvo/ => ^buffer~/(core|read|write|edit|window)/ => the host sees only buffer~/host"
  "^buffer~/ => ^orvo/ => the plug-in sees only buffer~/host"
  "^buffer~/edit/ => ^buffer~/(read|write|window)/ => editing stands apart from reading, writing and the window"
  "^buffer~/(read|write)/ => ^buffer~/edit/ => reading and writing do not edit")

file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/buffer~/*.h" "${ROOT}/buffer~/*.cpp"
     "${ROOT}/orvo/*.h" "${ROOT}/orvo/*.cpp")
set(violations 0)
foreach(from IN LISTS sources)
  file(STRINGS "${ROOT}/${from}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  get_filename_component(dir "${ROOT}/${from}" DIRECTORY)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" name "${line}")
    # An include starts from the including file's folder, then from the include
    # roots; one found nowhere is a system or generated header.
    set(to "")
    foreach(base IN ITEMS "${dir}" "${ROOT}/buffer~" "${ROOT}/orvo/include" "${ROOT}")
      if(NOT to AND EXISTS "${base}/${name}")
        get_filename_component(full "${base}/${name}" ABSOLUTE)
        file(RELATIVE_PATH to "${ROOT}" "${full}")
      endif()
    endforeach()
    foreach(rule IN LISTS rules)
      string(REPLACE " => " ";" rule "${rule}")
      list(GET rule 0 from_re)
      list(GET rule 1 to_re)
      list(GET rule 2 why)
      if(to AND from MATCHES "${from_re}" AND to MATCHES "${to_re}")
        message("${from} includes ${to}: ${why}")
        math(EXPR violations "${violations} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "${violations} include(s) across a boundary")
endif()
