# Fails when the plug-in module exports anything but its entry and the codec library.
# Run as: cmake -DNM=<nm> -DMODULE=<buffer~.so> -P exports.cmake
set(allowed
  ext_main
  # the block converter
  buffer_chomp
  # sample decoding
  vector_samp2float vector_samp2float_accum vector_float_scale vector_float_copy
  # G.711 and byte order
  MuLawDecode ALawDecode sf_mulaw_encode sf_alaw_encode g711NumBits kBufferEpsilon
  byteorder_swapf32 byteorder_swapf64
  byteorder_swap_pointer_16 byteorder_swap_pointer_32 byteorder_swap_pointer_64
  byteorder_swap_pointer_16_copy byteorder_swap_pointer_32_copy byteorder_swap_pointer_64_copy
  byteorder_swap_pointer_32_to_float32 byteorder_swap_pointer_64_to_float64
  # the sample encoder and raw writer
  buffer_createfile buffer_writesamples buffer_convert)

execute_process(COMMAND "${NM}" -D --defined-only "${MODULE}" OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(exported "")
foreach(line IN LISTS lines)
  # "address type name"; lower-case types are local, "U" is undefined.
  if(line MATCHES "^[0-9a-fA-F]* +[A-TV-Z] +(.+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  endif()
endforeach()

set(extra ${exported})
list(REMOVE_ITEM extra ${allowed})
set(missing ${allowed})
list(REMOVE_ITEM missing ${exported})
if(extra OR missing)
  message(FATAL_ERROR "exported but not allowed: ${extra}\nallowed but not exported: ${missing}")
endif()
