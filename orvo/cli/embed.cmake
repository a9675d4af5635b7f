# cmake -DIN=FILE -DOUT=FILE.cpp -DNAME=SYMBOL -P embed.cmake
# Turns a text file into a C++ source that defines orvo_cli::NAME as its text,
# so the command carries the text wherever it is run from.
file(READ "${IN}" text)
string(FIND "${text}" ")orvo_text\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} contains the raw string's closing delimiter")
endif()
set(source "// Generated from ${IN}; do not edit.\nnamespace orvo_cli {\nextern const char *const ${NAME};\nconst char *const ${NAME} = R\"orvo_text(${text})orvo_text\";\n}  // namespace orvo_cli\n")
file(WRITE "${OUT}.tmp" "${source}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
