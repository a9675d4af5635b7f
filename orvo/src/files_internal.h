// Folder table and file lookup shared by files.cpp, dialogs.cpp and jsoundfile.cpp.
#pragma once
#include <string>

#include "../../buffer~/host/orvo_file.h"

namespace orvo::detail {

// The path id of a folder (absolute or relative to the default folder), made on first use.
short folder_id(const std::string &folder);
// The folder a path id names, or "" for an unknown id.
std::string folder_path(short id);
// Resolves name against the default folder when it is relative.
std::string absolute_of(const std::string &name);

struct Located {
    std::string file;  // bare file name
    short path = 0;
    t_fourcc type = 0;
};
// Finds name as locatefile_extended does (default folder, then the search
// folders; absolute names as they are), honouring the type list.
bool locate(const std::string &name, const t_fourcc *types, short ntypes, Located *out);
// The type code of a file: from its contents when libsndfile recognises them,
// else from its extension, else 0.
t_fourcc file_type(const std::string &fullpath);
// A sound-file type the host knows. One table of them (files.cpp) serves the file
// lookup, the save dialog and the sound-file object.
struct SoundFileType {
    t_fourcc type;
    int sf_format;         // libsndfile's container (and byte order), recognised in a file's
                           // contents and written when writable; 0 when libsndfile has none
    bool writable;
    const char *name;      // for people: "WAVE", "NeXT/Sun"
    const char *exts[5];   // the extensions that name it, the usual one first
};
// The row of a type code, or null.
const SoundFileType *sound_file_type(t_fourcc type);
// The usual extension for a type code ("wav" for WAVE), or "" when it has none.
const char *type_extension(t_fourcc type);
// The type code of a file name's extension (any case), or 0.
t_fourcc extension_type(const std::string &name);

// Copies s into a host name buffer of ORVO_PATH_CHARS bytes.
void copy_name(char *dst, const std::string &s);

void init_dialogs();
// Registers the sound-file class "jsoundfile" (needs the object system).
void init_jsoundfile();

}  // namespace orvo::detail
