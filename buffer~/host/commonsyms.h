// The host's table of pre-interned standard symbols, shared with plug-ins.
// Plug-ins read entries by position (field), never by interning the text again.
#pragma once
#include "orvo_types.h"

ORVO_BEGIN_C

typedef struct t_common_symbols_table {
    t_symbol *s_nothing;        // ""
    t_symbol *s_bang;           // "bang"
    t_symbol *s_int;            // "int"
    t_symbol *s_float;          // "float"
    t_symbol *s_list;           // "list"
    t_symbol *s_anything;       // "anything"
    t_symbol *s_symbol;         // "symbol"
    t_symbol *s_long;           // "long"
    t_symbol *s_float32;        // "float32"
    t_symbol *s_float64;        // "float64"
    t_symbol *s_char;           // "char"
    t_symbol *s_object;         // "object"
    t_symbol *s_pointer;        // "pointer"
    t_symbol *s_box;            // "box"      name space of boxes
    t_symbol *s_nobox;          // "nobox"    name space of host objects (jsoundfile, jpatcher)
    t_symbol *s_methods;        // "methods"
    t_symbol *s_get;            // "get"
    t_symbol *s_set;            // "set"
    t_symbol *s_setmethod;      // "setmethod"
    t_symbol *s_notify;         // "notify"
    t_symbol *s_free;           // "free"
    t_symbol *s_attr_modified;  // "attr_modified"
    t_symbol *s_getname;        // "getname"
    t_symbol *s_name;           // "name"
    t_symbol *s_rect;           // "rect"
    t_symbol *s_open;           // "open"          sound-file object: open a file
    t_symbol *s_setsamplerate;  // "setsamplerate" sound-file object: rate of the file to write
    t_symbol *s_close;          // "close"         sound-file object: close the file
    t_symbol *s_jsoundfile;     // "jsoundfile"
    t_symbol *s_jpatcher;       // "jpatcher"
    t_symbol *s_vis;            // "vis"
    t_symbol *s_title;          // "title"
    t_symbol *s_dirty;          // "dirty"
} t_common_symbols_table;

// [any thread] The host's table; filled before any plug-in loads.
ORVO_API t_common_symbols_table *common_symbols_gettable(void);

// The plug-in's copy of the table pointer, set once by common_symbols_init.
extern t_common_symbols_table *_common_symbols;
void common_symbols_init(void);

ORVO_END_C
