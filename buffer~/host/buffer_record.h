// The published record of buffer~: an object that finds a buffer through the
// slot of its name's symbol gets this record and reads its fields directly.
// Part of the host interface: keep the order, and bump ORVO_HOST_API_VERSION
// when a field changes.
#pragma once
#include "orvo_host.h"

ORVO_BEGIN_C

// The editor-window companion; its record is private to the plug-in.
struct t_bufferwindow;

typedef struct t_buffer {
    t_object b_obj;
    t_atom_long b_valid;        // nonzero while the sample memory may be used
    float *b_samples;           // frame 0, channel 0: b_memory + b_padding
    t_atom_long b_frames;
    t_atom_long b_nchans;
    t_atom_long b_size;         // b_frames * b_nchans
    float b_sr;
    float b_1oversr;
    float b_msr;                // samples per millisecond
    float *b_memory;            // guard zone, data, guard zone
    t_symbol *b_name;
    int16_t b_spare16;
    t_atom_long b_susloopstart; // instrument block of the last AIFF/AIFC read
    t_atom_long b_susloopend;
    t_atom_long b_relloopstart;
    t_atom_long b_relloopend;
    int16_t b_basepitch;
    int16_t b_detune;
    int16_t b_lowpitch;
    int16_t b_highpitch;
    int16_t b_lowvel;
    int16_t b_highvel;
    int16_t b_gain;
    struct t_bufferwindow *b_window;
    void *b_floatout;           // left outlet: mouse position in ms
    t_atom_long b_filetype;     // four-character code, upper half zero
    t_symbol *b_filename;
    t_atom_long b_prevchans;
    void *b_bangout;            // right outlet: bang after a file read or write
    t_atom_long b_outsampsize;
    t_atom_long b_modtime;
    struct t_buffer *b_next;    // next box of the same name
    char b_isowner;             // head of the chain; owns b_memory
    t_atom_long b_samptype;     // four-character code, upper half zero
    int32_t b_spare32;
    t_atom_long b_padding;      // floats in each guard zone
    t_atom_long b_realloc;
    t_object *b_soundfile;      // the jsoundfile parser
    t_systhread_mutex b_mutex;
    void (*b_errfn)(void *arg, t_atom_long err);
    void *b_errarg;
    void *b_clock;
    void *b_qelem;
    char b_modified;            // a file read or write completed; a bang is owed
    int16_t b_filepath;
} t_buffer;

ORVO_END_C
