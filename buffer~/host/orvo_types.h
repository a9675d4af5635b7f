// Basic types shared by the Orvo host and its plug-ins.
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define ORVO_EXTERN_C extern "C"
#define ORVO_BEGIN_C extern "C" {
#define ORVO_END_C }
#else
#define ORVO_EXTERN_C
#define ORVO_BEGIN_C
#define ORVO_END_C
#endif

// Functions the host library exports to plug-ins.
#define ORVO_API ORVO_EXTERN_C __attribute__((visibility("default")))
// Functions a plug-in exports to the host and to other code (its entry, its libraries).
#define ORVO_EXPORT ORVO_EXTERN_C __attribute__((visibility("default")))

// Bumped whenever a declaration in buffer~/host changes incompatibly.
#define ORVO_HOST_API_VERSION 2

ORVO_BEGIN_C

typedef int64_t t_atom_long;
typedef uint64_t t_atom_ulong;
typedef double t_atom_float;
typedef intptr_t t_ptr_int;
typedef uintptr_t t_ptr_uint;
typedef size_t t_ptr_size;
typedef uint32_t t_fourcc;   // four-character code, first letter most significant
typedef long t_orvo_err;     // 0 success, nonzero failure (see ORVO_ERR_*)

enum {
    ORVO_ERR_NONE = 0,
    ORVO_ERR_GENERIC = -1,
    ORVO_ERR_INVALID_PTR = -2,
    ORVO_ERR_OUT_OF_MEM = -3,
    ORVO_ERR_NOT_FOUND = -4,
    ORVO_ERR_BAD_ARGS = -5,
};

// Untyped method pointer; the registered argument types say how it is really called.
typedef void *(*method)(void *, ...);
// Turns any function into a method pointer (through the one function type that
// casts to every other without a warning).
#define ORVO_FN(f) ((method)(void (*)(void))(f))

struct t_class;
struct t_objextra;

// The first member of every host object record.
typedef struct t_object {
    struct t_class *o_class;
    struct t_objextra *o_extra;   // host bookkeeping (outlets, attachments); never touched by plug-ins
} t_object;

// An interned string. s_thing is the one slot for the object bound to the name.
typedef struct t_symbol {
    const char *s_name;
    t_object *volatile s_thing;
} t_symbol;

// Argument types of methods, constructors and atoms.
enum e_atomtype {
    A_NOTHING = 0,   // ends an argument-type list
    A_LONG,          // integer (t_atom_long)
    A_FLOAT,         // float (passed to methods as double)
    A_SYM,           // symbol
    A_OBJ,           // object pointer (atoms only)
    A_DEFLONG,       // optional integer, 0 when absent
    A_DEFFLOAT,      // optional float, 0.0 when absent
    A_DEFSYM,        // optional symbol, the empty symbol when absent
    A_ANY,           // any list: method(x, selector, argc, argv)
    A_PRIVATE,       // not reachable by typed messages; called directly with plain arguments
};

typedef union word {
    t_atom_long w_long;
    t_atom_float w_float;
    t_symbol *w_sym;
    t_object *w_obj;
} word;

typedef struct t_atom {
    short a_type;
    word a_w;
} t_atom;

typedef struct t_rect {
    double x, y, width, height;
} t_rect;

ORVO_END_C

#define FOURCC(a, b, c, d) \
    ((t_fourcc)(((uint32_t)(uint8_t)(a) << 24) | ((uint32_t)(uint8_t)(b) << 16) | ((uint32_t)(uint8_t)(c) << 8) | (uint32_t)(uint8_t)(d)))
