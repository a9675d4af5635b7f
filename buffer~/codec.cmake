# Sources of the exported sample codec library (decoding, G.711, byte order,
# chunked transfer, encoder and raw writer).
set(BUFFER_CODEC_SOURCES
)
foreach(f IN ITEMS
    write/ext_byteorder.cpp
    write/g711.cpp
    write/sampdecode.cpp
    write/sampencode.cpp
    read/chomp.cpp)
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${f})
    list(APPEND BUFFER_CODEC_SOURCES ${CMAKE_CURRENT_LIST_DIR}/${f})
  endif()
endforeach()
if(NOT BUFFER_CODEC_SOURCES)
  # An object library needs at least one source.
  list(APPEND BUFFER_CODEC_SOURCES ${CMAKE_CURRENT_LIST_DIR}/host/commonsyms.cpp)
endif()
# The encoder limits every sample with compare-and-select; GCC turns those loops
# into vector code only when comparisons may be treated as non-trapping. Nothing
# in the codec reads floating-point exception flags, and results are unchanged.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/write/sampencode.cpp)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/write/sampencode.cpp PROPERTIES COMPILE_OPTIONS -fno-trapping-math)
endif()
