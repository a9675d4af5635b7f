// Patcher windows, boxes, drag and drop. [main thread] unless said otherwise.
#pragma once
#include "orvo_types.h"

ORVO_BEGIN_C

// A box made from a creation text ("@orvoclass CLASS @attr value ...") in the patcher.
ORVO_API t_object *newobject_sprintf(t_object *patcher, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
ORVO_API t_object *jpatcher_get_firstview(t_object *patcher);
ORVO_API t_orvo_err patcherview_get_rect(t_object *view, t_rect *r);
// [any thread] Asks the box to be drawn again.
ORVO_API void jbox_redraw(t_object *box);
ORVO_API t_orvo_err jbox_set_rect_for_view(t_object *box, t_object *view, t_rect *r);
// Nonzero when the dragged item has the role ("audiofile", "moviefile").
ORVO_API long jdrag_matchdragrole(t_object *drag, t_symbol *role, long flags);
// Offers the message msg to obj for the dropped item.
ORVO_API void jdrag_object_add(t_object *drag, t_object *obj, t_symbol *msg);
// The host's answer for a menu command; enabled receives whether it is enabled.
ORVO_API long object_commandenabled(t_object *x, t_symbol *cmd, char *enabled, void *a, void *b);
ORVO_API t_object *dictionary_new(void);
// Fills a dictionary from "@key value..." atoms.
ORVO_API t_orvo_err attr_args_dictionary(t_object *dict, short argc, t_atom *argv);

ORVO_END_C
