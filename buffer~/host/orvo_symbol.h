// Symbols, atoms, named binding, outlets and the console.
#pragma once
#include "orvo_types.h"

ORVO_BEGIN_C

// ---- symbols ----------------------------------------------------------------------

// [any thread] The interned symbol for text; the same pointer for the same text, for the life of the process.
ORVO_API t_symbol *gensym(const char *s);
// [any thread] A symbol whose text no earlier symbol had ("u" followed by digits).
ORVO_API t_symbol *symbol_unique(void);
// [any thread] Translation of a user-visible text; this host has one language and returns s.
ORVO_API const char *str_tr(const char *s);

// ---- atoms -------------------------------------------------------------------------

// [any thread] Readers convert: a float read as integer truncates, an integer read as float
// widens, a symbol or a null atom reads as 0 / 0.0; atom_getsym of a non-symbol is the empty symbol.
ORVO_API t_atom_long atom_getlong(const t_atom *a);
ORVO_API t_atom_float atom_getfloat(const t_atom *a);
ORVO_API t_symbol *atom_getsym(const t_atom *a);
ORVO_API t_object *atom_getobj(const t_atom *a);
ORVO_API long atom_gettype(const t_atom *a);
ORVO_API t_orvo_err atom_setlong(t_atom *a, t_atom_long v);
ORVO_API t_orvo_err atom_setfloat(t_atom *a, double v);
ORVO_API t_orvo_err atom_setsym(t_atom *a, t_symbol *s);
ORVO_API t_orvo_err atom_setobj(t_atom *a, void *o);
// Argument `which` of an array, 0 / 0.0 when which is out of range.
ORVO_API t_atom_long atom_getintarg(long which, long argc, const t_atom *argv);
ORVO_API t_atom_float atom_getfloatarg(long which, long argc, const t_atom *argv);
// [any thread] Parses text into atoms: integers, floats, words and double-quoted words
// (which may hold blanks). When *argv is null the array comes from sysmem_newptr
// and the caller frees it; otherwise at most *argc atoms are written.
ORVO_API t_orvo_err atom_setparse(long *argc, t_atom **argv, const char *text);
// [any thread] Room for one atom: when *argc and *argv are already set, nothing
// happens and *alloc is 0; otherwise one atom comes from sysmem_newptr, *argc = 1, *alloc = 1.
// Fails (nonzero, nothing set) when that allocation fails.
ORVO_API t_orvo_err atom_alloc(long *argc, t_atom **argv, char *alloc);
// [any thread] Writes a readable text of the atoms into buf (at most size bytes). Host extension.
ORVO_API void atom_totext(long argc, const t_atom *argv, char *buf, size_t size);

// ---- named binding ----------------------------------------------------------------

// [main thread] Announces x as the object bound under name. Clients already attached
// to the name keep their attachment. Returns 0.
ORVO_API t_orvo_err globalsymbol_bind(t_object *x, const char *name, long flags);
// [main thread] Withdraws x from name (nothing if x is not bound there).
ORVO_API void globalsymbol_unbind(t_object *x, const char *name, long flags);
// [main thread] Calls notify(client, gensym(name), msg, x, data) on every object attached to name.
ORVO_API void globalsymbol_notify(t_object *x, const char *name, t_symbol *msg, void *data);
// [main thread] Client side: attach to a name, also before anything is bound to it;
// the attachment stays across unbinding and rebinding. Returns the object bound now, or null.
ORVO_API void *globalsymbol_attach(t_object *client, const char *name);
ORVO_API void globalsymbol_detach(t_object *client, const char *name);

// ---- outlets -----------------------------------------------------------------------

// [main thread, at creation] New outlets. Each new outlet stands to the left of the
// earlier ones: the last one created has index 0.
ORVO_API void *bangout(void *x);
ORVO_API void *floatout(void *x);
ORVO_API void *outlet_new(void *x, const char *type);
// [calling thread] Sends through the outlet to every connected inlet, in connection order.
ORVO_API void *outlet_bang(void *o);
ORVO_API void *outlet_float(void *o, double f);
ORVO_API void *outlet_int(void *o, t_atom_long n);
ORVO_API void *outlet_anything(void *o, t_symbol *s, short argc, t_atom *argv);

// ---- console -------------------------------------------------------------------------

// [any thread] One line each, tagged with x's class name: "CLASS: TEXT" and
// "CLASS: error: TEXT", in the order they happen (a null x is tagged "orvo").
ORVO_API void object_post(t_object *x, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
ORVO_API void object_error(t_object *x, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

ORVO_END_C
