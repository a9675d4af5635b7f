// Folders (path ids), file lookup, file types, plain files and file usages.
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "files_internal.h"
#include "init.h"
#include "objects_internal.h"
#include "orvo/runtime.h"

namespace fs = std::filesystem;

struct t_filestruct {
    int fd;
};

namespace orvo::detail {
namespace {

struct Folders {
    std::mutex m;
    std::vector<std::string> paths;  // path id i + 1 names paths[i]; id 1 is the default folder
    std::vector<short> search;       // search folders in the order added
    std::vector<std::string> usages;
};

Folders &folders() {
    static Folders *f = new Folders;
    return *f;
}

std::string normal_folder(const std::string &folder) {
    std::error_code ec;
    fs::path p = fs::absolute(folder.empty() ? fs::path(".") : fs::path(folder), ec).lexically_normal();
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

bool is_regular(const std::string &p) {
    struct stat sb;
    return stat(p.c_str(), &sb) == 0 && S_ISREG(sb.st_mode);
}

bool is_dir(const std::string &p) {
    struct stat sb;
    return stat(p.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

std::string lower(std::string s) {
    for (auto &c : s) c = (char)tolower((unsigned char)c);
    return s;
}

t_fourcc type_from_contents(const std::string &path) {
    SF_INFO info{};
    SNDFILE *sf = sf_open(path.c_str(), SFM_READ, &info);
    if (!sf) return 0;
    sf_close(sf);
    switch (info.format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX:
        case SF_FORMAT_RF64:
            return FOURCC('W', 'A', 'V', 'E');
        case SF_FORMAT_AIFF: {
            // The container's own form type tells AIFC (compressed or float data) apart.
            char head[12] = {};
            if (FILE *f = fopen(path.c_str(), "rb")) {
                size_t n = fread(head, 1, sizeof head, f);
                fclose(f);
                if (n == sizeof head && memcmp(head + 8, "AIFC", 4) == 0) return FOURCC('A', 'I', 'F', 'C');
            }
            return FOURCC('A', 'I', 'F', 'F');
        }
        case SF_FORMAT_FLAC:
            return FOURCC('F', 'L', 'A', 'C');
        case SF_FORMAT_AU:
            return FOURCC('N', 'x', 'T', 'S');
        case SF_FORMAT_CAF:
            return FOURCC('C', 'A', 'F', ' ');
        case SF_FORMAT_SD2:
            return FOURCC('S', 'd', '2', 'f');
        case SF_FORMAT_MPEG:
            return FOURCC('M', 'p', '3', ' ');
        default:
            return 0;
    }
}

struct ExtType {
    const char *ext;
    t_fourcc type;
};

const ExtType kExtTypes[] = {
    {"wav", FOURCC('W', 'A', 'V', 'E')},  {"aif", FOURCC('A', 'I', 'F', 'F')},  {"aiff", FOURCC('A', 'I', 'F', 'F')},
    {"aifc", FOURCC('A', 'I', 'F', 'C')}, {"flac", FOURCC('F', 'L', 'A', 'C')}, {"au", FOURCC('N', 'x', 'T', 'S')},
    {"snd", FOURCC('N', 'x', 'T', 'S')},  {"caf", FOURCC('C', 'A', 'F', ' ')},  {"sd2", FOURCC('S', 'd', '2', 'f')},
    {"mp3", FOURCC('M', 'p', '3', ' ')},  {"m4a", FOURCC('M', '4', 'a', ' ')},  {"raw", FOURCC('D', 'A', 'T', 'A')},
    {"bin", FOURCC('D', 'A', 'T', 'A')},  {"dat", FOURCC('D', 'A', 'T', 'A')},  {"pcm", FOURCC('D', 'A', 'T', 'A')},
    {"ulaw", FOURCC('U', 'L', 'A', 'W')},
    // Movies: their sound is MPEG-4 audio as far as lookup and reading are concerned.
    {"mp4", FOURCC('M', '4', 'a', ' ')},  {"m4v", FOURCC('M', '4', 'a', ' ')},  {"mov", FOURCC('M', '4', 'a', ' ')},
};

t_fourcc type_from_extension(const std::string &path) {
    std::string name = fs::path(path).filename().string();
    auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return 0;
    std::string ext = lower(name.substr(dot + 1));
    for (auto &e : kExtTypes)
        if (ext == e.ext) return e.type;
    return 0;
}

bool type_allowed(t_fourcc t, const t_fourcc *types, short ntypes) {
    if (!types || ntypes <= 0) return true;
    for (short i = 0; i < ntypes; ++i)
        if (types[i] == t) return true;
    return false;
}

bool try_candidate(const std::string &full, const t_fourcc *types, short ntypes, Located *out) {
    if (!is_regular(full)) return false;
    t_fourcc t = file_type(full);
    if (!type_allowed(t, types, ntypes)) return false;
    fs::path p(full);
    out->file = p.filename().string();
    out->path = folder_id(p.parent_path().string());
    out->type = t;
    return true;
}

}  // namespace

short folder_id(const std::string &folder) {
    std::string norm = normal_folder(folder);
    Folders &F = folders();
    std::lock_guard lk(F.m);
    for (size_t i = 0; i < F.paths.size(); ++i)
        if (F.paths[i] == norm) return (short)(i + 1);
    if (F.paths.size() >= 32767) return 0;
    F.paths.push_back(norm);
    return (short)F.paths.size();
}

std::string folder_path(short id) {
    Folders &F = folders();
    std::lock_guard lk(F.m);
    if (id < 1 || (size_t)id > F.paths.size()) return {};
    return F.paths[(size_t)id - 1];
}

std::string absolute_of(const std::string &name) {
    if (!name.empty() && name[0] == '/') return fs::path(name).lexically_normal().string();
    return (fs::path(folder_path(1)) / name).lexically_normal().string();
}

t_fourcc file_type(const std::string &fullpath) {
    t_fourcc t = type_from_contents(fullpath);
    return t ? t : type_from_extension(fullpath);
}

t_fourcc extension_type(const std::string &name) { return type_from_extension(name); }

const char *type_extension(t_fourcc type) {
    switch (type) {
        case FOURCC('W', 'A', 'V', 'E'):
            return "wav";
        case FOURCC('A', 'I', 'F', 'F'):
            return "aif";
        case FOURCC('A', 'I', 'F', 'C'):
            return "aifc";
        case FOURCC('F', 'L', 'A', 'C'):
            return "flac";
        case FOURCC('N', 'x', 'T', 'S'):
        case FOURCC('.', 's', 'n', 'd'):
            return "snd";
        case FOURCC('C', 'A', 'F', ' '):
            return "caf";
        case FOURCC('S', 'd', '2', 'f'):
            return "sd2";
        case FOURCC('D', 'A', 'T', 'A'):
        case FOURCC('?', '?', '?', '?'):
            return "raw";
        default:
            return "";
    }
}

bool locate(const std::string &name, const t_fourcc *types, short ntypes, Located *out) {
    if (name.empty()) return false;
    if (name[0] == '/') return try_candidate(fs::path(name).lexically_normal().string(), types, ntypes, out);
    std::vector<std::string> dirs;
    {
        Folders &F = folders();
        std::lock_guard lk(F.m);
        if (!F.paths.empty()) dirs.push_back(F.paths[0]);
        for (short id : F.search) dirs.push_back(F.paths[(size_t)id - 1]);
    }
    for (auto &d : dirs)
        if (try_candidate((fs::path(d) / name).lexically_normal().string(), types, ntypes, out)) return true;
    return false;
}

void copy_name(char *dst, const std::string &s) {
    if (dst) snprintf(dst, ORVO_PATH_CHARS, "%s", s.c_str());
}

void init_files() {
    Folders &F = folders();
    {
        std::lock_guard lk(F.m);
        F.paths.clear();
        F.search.clear();
        F.usages.clear();
    }
    std::error_code ec;
    folder_id(fs::current_path(ec).string());
    init_dialogs();
    init_jsoundfile();
}

}  // namespace orvo::detail

using namespace orvo::detail;

namespace {
short err_of(int e) { return (short)(e ? e : EIO); }
}  // namespace

extern "C" {

short locatefile_extended(char *name, short *path, t_fourcc *type, const t_fourcc *types, short ntypes) {
    if (!name) return 1;
    Located l;
    if (!locate(name, types, ntypes, &l)) return 1;
    copy_name(name, l.file);
    if (path) *path = l.path;
    if (type) *type = l.type;
    return 0;
}

char path_getseparator(void) { return '/'; }

short path_splitnames(const char *pathname, char *foldername, char *filename) {
    if (!pathname) return 1;
    std::string s(pathname);
    auto slash = s.rfind('/');
    std::string folder = slash == std::string::npos ? "" : (slash == 0 ? "/" : s.substr(0, slash));
    std::string file = slash == std::string::npos ? s : s.substr(slash + 1);
    copy_name(foldername, folder);
    copy_name(filename, file);
    return 0;
}

short path_frompathname(const char *name, short *path, char *filename) {
    if (!name || !*name) return 1;
    std::string full = absolute_of(name);
    if (is_dir(full)) {
        if (path) *path = folder_id(full);
        copy_name(filename, "");
        return 0;
    }
    // Only an entry that is there names a file in its folder; anything else was
    // meant as a folder, and the caller will go elsewhere: say which one is missing.
    struct stat sb;
    fs::path p(full);
    std::string parent = p.parent_path().string();
    if (lstat(full.c_str(), &sb) != 0 || !is_dir(parent)) {
        post_line("path", std::string("no folder ") + name);
        return 1;
    }
    short id = folder_id(parent);
    if (!id) return 1;
    if (path) *path = id;
    copy_name(filename, p.filename().string());
    return 0;
}

short path_getdefault(void) { return 1; }

short path_toabsolutesystempath(short path, const char *name, char *out) {
    std::string folder = folder_path(path);
    if (folder.empty() || !out) return 1;
    std::string full = (name && *name) ? (fs::path(folder) / name).string() : folder;
    if (full.size() >= ORVO_PATH_CHARS) return 1;
    copy_name(out, full);
    return 0;
}

static short open_file(const char *name, short path, int flags, t_filehandle *ref) {
    if (!name || !ref) return (short)ORVO_ERR_INVALID_PTR;
    std::string folder = folder_path(path);
    if (folder.empty()) return (short)ORVO_ERR_NOT_FOUND;
    std::string full = (fs::path(folder) / name).string();
    int fd = open(full.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) return err_of(errno);
    *ref = new t_filestruct{fd};
    return 0;
}

short path_createsysfile(const char *name, short path, t_fourcc, t_filehandle *ref) {
    return open_file(name, path, O_RDWR | O_CREAT | O_TRUNC, ref);
}

// perm: 1 read, 2 write, 3 read and write (0 reads).
short path_opensysfile(const char *name, short path, t_filehandle *ref, short perm) {
    int flags = perm == 2 ? O_WRONLY : perm == 3 ? O_RDWR : O_RDONLY;
    return open_file(name, path, flags, ref);
}

short path_deletefile(const char *name, short path) {
    std::string folder = folder_path(path);
    if (!name || folder.empty()) return (short)ORVO_ERR_NOT_FOUND;
    if (unlink((fs::path(folder) / name).c_str()) != 0) return err_of(errno);
    return 0;
}

short path_exists(const char *name, short path) {
    std::string folder = folder_path(path);
    if (!name || !*name || folder.empty()) return (short)ORVO_ERR_NOT_FOUND;
    struct stat sb;
    return lstat((fs::path(folder) / name).c_str(), &sb) == 0 ? 0 : err_of(errno);
}

short sysfile_write(t_filehandle f, t_ptr_size *count, const void *buf) {
    if (!f || !count || (!buf && *count)) return (short)ORVO_ERR_INVALID_PTR;
    const char *p = static_cast<const char *>(buf);
    size_t left = *count, done = 0;
    while (left) {
        ssize_t n = write(f->fd, p + done, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            *count = done;
            return err_of(errno);
        }
        done += (size_t)n;
        left -= (size_t)n;
    }
    *count = done;
    return 0;
}

// A read that stops at the end of the file succeeds with the shorter count.
short sysfile_read(t_filehandle f, t_ptr_size *count, void *buf) {
    if (!f || !count || (!buf && *count)) return (short)ORVO_ERR_INVALID_PTR;
    char *p = static_cast<char *>(buf);
    size_t left = *count, done = 0;
    while (left) {
        ssize_t n = read(f->fd, p + done, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            *count = done;
            return err_of(errno);
        }
        if (n == 0) break;
        done += (size_t)n;
        left -= (size_t)n;
    }
    *count = done;
    return 0;
}

short sysfile_getpos(t_filehandle f, t_ptr_size *pos) {
    if (!f || !pos) return (short)ORVO_ERR_INVALID_PTR;
    off_t o = lseek(f->fd, 0, SEEK_CUR);
    if (o < 0) return err_of(errno);
    *pos = (t_ptr_size)o;
    return 0;
}

short sysfile_setpos(t_filehandle f, t_ptr_size pos) {
    if (!f) return (short)ORVO_ERR_INVALID_PTR;
    if (lseek(f->fd, (off_t)pos, SEEK_SET) < 0) return err_of(errno);
    return 0;
}

short sysfile_geteof(t_filehandle f, t_ptr_size *eof) {
    if (!f || !eof) return (short)ORVO_ERR_INVALID_PTR;
    struct stat sb;
    if (fstat(f->fd, &sb) != 0) return err_of(errno);
    *eof = (t_ptr_size)sb.st_size;
    return 0;
}

short sysfile_seteof(t_filehandle f, t_ptr_size eof) {
    if (!f) return (short)ORVO_ERR_INVALID_PTR;
    if (ftruncate(f->fd, (off_t)eof) != 0) return err_of(errno);
    return 0;
}

short sysfile_close(t_filehandle f) {
    if (!f) return (short)ORVO_ERR_INVALID_PTR;
    int rc = close(f->fd);
    int e = errno;
    delete f;
    return rc == 0 ? 0 : err_of(e);
}

void fileusage_addfilename(void *, long, const char *name) {
    if (!name) return;
    Folders &F = folders();
    std::lock_guard lk(F.m);
    F.usages.emplace_back(name);
}

}  // extern "C"

namespace orvo {

void add_search_dir(const std::string &dir) {
    short id = folder_id(dir);
    if (!id) return;
    Folders &F = folders();
    std::lock_guard lk(F.m);
    for (short s : F.search)
        if (s == id) return;
    F.search.push_back(id);
}

std::vector<std::string> file_usages() {
    Folders &F = folders();
    std::lock_guard lk(F.m);
    return F.usages;
}

}  // namespace orvo
