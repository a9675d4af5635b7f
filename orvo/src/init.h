// Start-up pieces of the runtime, called in order by runtime_start.
#pragma once
namespace orvo::detail {
void init_objects();                 // symbols, common table, host classes (objects.cpp side)
void init_scheduler(bool realtime);  // main thread identity, queues, scheduler thread
void stop_scheduler();
void init_files();                   // default and search folders, dialogs
void init_windows();                 // jpatcher, its view and waveform~
}  // namespace orvo::detail
