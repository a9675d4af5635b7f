// Edit brackets on buffer memory, kept with the memory registry so that one lock
// covers blocks, brackets and the marks of orvo::SampleRead.
#pragma once

namespace orvo::detail {

// [any thread] Opens a bracket for box, whose owner (the head of its name's chain)
// holds the block in *block_field (may hold null). Refused, with nothing opened, while
// the block is being read (SampleRead), while another bracket covers it, or while
// another bracket is open for the same owner. The field is read only once no other
// bracket is open for the owner: a holder of one may be replacing the block.
bool edit_open(const void *box, const void *owner, float *const *block_field);
// [any thread] Closes the latest bracket granted to box; false when it holds none.
bool edit_close(const void *box);
// [any thread] Brackets open now.
long edits_open();

}  // namespace orvo::detail
