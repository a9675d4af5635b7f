// What the fuzz targets share: one host per process, started in a fresh
// temporary folder (the default folder and the only search folder) with the
// build's plug-ins loaded, and the checks that every buffer~ must pass.
#pragma once
#include <string>
#include <vector>

#include "buffer~/host/buffer_record.h"
#include "chain_check.h"
#include "orvo/runtime.h"

namespace fuzz {

// Starts the host once; returns the temporary folder.
const std::string &start_host();

// Reports a broken rule on stderr and aborts: libFuzzer keeps the input.
[[noreturn]] void fail(const std::string &what);

// A box of class cls with creation arguments parsed from text.
t_object *new_box(const char *cls, const std::string &args);
t_buffer *new_buffer(const std::string &args);

// Runs everything queued on both threads.
void drain();

using orvo_test::chain_problems;
using orvo_test::nonfinite_samples;

// Removes every file of the temporary folder.
void clear_folder();

}  // namespace fuzz
