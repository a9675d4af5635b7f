// Folders (path ids), file lookup, dialogs and files.
//
// A path id is a small positive number naming a folder the host knows: the
// default folder (the working directory), each search folder, and any folder a
// dialog or path_frompathname has named. All functions return 0 for success and
// nonzero for failure or a cancelled dialog. [main thread] for dialogs; [any
// thread] for the rest.
#pragma once
#include "orvo_types.h"

#define ORVO_PATH_CHARS 2048

ORVO_BEGIN_C

typedef struct t_filestruct *t_filehandle;

// Finds name (a file name, or a path relative to a search folder, or an absolute
// path) in the default folder and then the search folders. On success name holds
// the file's own name, *path its folder and *type its type code, taken from the
// file's contents when they identify one, else from its extension. When types is
// not null and ntypes > 0 the file's type must be one of them.
ORVO_API short locatefile_extended(char *name, short *path, t_fourcc *type, const t_fourcc *types, short ntypes);
// Open dialog: answered by the next queued answer ("dialog open FILE"); cancelled when none is queued.
ORVO_API short open_dialog(char *name, short *path, t_fourcc *type, const t_fourcc *types, short ntypes);
// Save dialog: name holds the offered default name on entry and the chosen one on return.
ORVO_API short saveasdialog_extended(char *name, short *path, t_fourcc *type, const t_fourcc *types, short ntypes);
ORVO_API void saveas_autoextension(char on);
ORVO_API void saveas_setselectedtype(t_fourcc type);

// The separator of path names ('/').
ORVO_API char path_getseparator(void);
// Splits "folder/file" into its folder part and its file name.
ORVO_API short path_splitnames(const char *pathname, char *foldername, char *filename);
// The path id of the folder a path name names (and the file name within it, when
// it names a file that is there). Anything else fails with the console line
// "path: no folder NAME".
ORVO_API short path_frompathname(const char *name, short *path, char *filename);
ORVO_API short path_getdefault(void);
// The absolute file-system path of name in folder path. Host extension.
ORVO_API short path_toabsolutesystempath(short path, const char *name, char *out);
// Creates (or truncates) a file for writing and reading.
ORVO_API short path_createsysfile(const char *name, short path, t_fourcc type, t_filehandle *ref);
ORVO_API short path_opensysfile(const char *name, short path, t_filehandle *ref, short perm);
ORVO_API short path_deletefile(const char *name, short path);
// 0 when folder path holds an entry called name, whatever it is and whoever may
// read it (a symbolic link counts as itself); nonzero when there is none. Host extension.
ORVO_API short path_exists(const char *name, short path);

// *count is the number of bytes to write; on return, the number written.
ORVO_API short sysfile_write(t_filehandle f, t_ptr_size *count, const void *buf);
ORVO_API short sysfile_read(t_filehandle f, t_ptr_size *count, void *buf);
ORVO_API short sysfile_getpos(t_filehandle f, t_ptr_size *pos);
ORVO_API short sysfile_setpos(t_filehandle f, t_ptr_size pos);
ORVO_API short sysfile_geteof(t_filehandle f, t_ptr_size *eof);
// Sets the length of the file (cuts or extends it).
ORVO_API short sysfile_seteof(t_filehandle f, t_ptr_size eof);
ORVO_API short sysfile_close(t_filehandle f);

// Declares that a patch using the caller depends on a file or class named name.
ORVO_API void fileusage_addfilename(void *context, long flags, const char *name);

ORVO_END_C
