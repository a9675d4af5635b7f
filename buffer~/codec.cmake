# Sources of the exported sample codec library (decoding, G.711, byte order,
# chunked transfer, encoder and raw writer).
set(BUFFER_CODEC_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/write/ext_byteorder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/write/g711.cpp
  ${CMAKE_CURRENT_LIST_DIR}/write/sampdecode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/write/sampencode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/read/chomp.cpp)
# The encoder limits every sample with compare-and-select; GCC turns those loops
# into vector code only when comparisons may be treated as non-trapping. Nothing
# in the codec reads floating-point exception flags, and results are unchanged.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/write/sampencode.cpp PROPERTIES COMPILE_OPTIONS -fno-trapping-math)
