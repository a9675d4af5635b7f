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

const SoundFileType kSoundFileTypes[] = {
    {FOURCC('W', 'A', 'V', 'E'), SF_FORMAT_WAV, true, "WAVE", {"wav"}},
    {FOURCC('A', 'I', 'F', 'F'), SF_FORMAT_AIFF, true, "AIFF", {"aif", "aiff"}},
    {FOURCC('A', 'I', 'F', 'C'), SF_FORMAT_AIFF, true, "AIFF", {"aifc"}},
    {FOURCC('F', 'L', 'A', 'C'), SF_FORMAT_FLAC, true, "FLAC", {"flac"}},
    {FOURCC('N', 'x', 'T', 'S'), SF_FORMAT_AU, true, "NeXT/Sun", {"snd", "au"}},
    {FOURCC('.', 's', 'n', 'd'), SF_FORMAT_AU, true, "NeXT/Sun", {"snd"}},
    {FOURCC('C', 'A', 'F', ' '), SF_FORMAT_CAF, true, "CAF", {"caf"}},
    {FOURCC('S', 'd', '2', 'f'), SF_FORMAT_SD2, false, "SD2", {"sd2"}},
    {FOURCC('M', 'p', '3', ' '), SF_FORMAT_MPEG, false, "MP3", {"mp3"}},
    // Movies: their sound is MPEG-4 audio as far as lookup and reading are concerned.
    {FOURCC('M', '4', 'a', ' '), 0, false, "MPEG-4", {"m4a", "mp4", "m4v", "mov"}},
    {FOURCC('D', 'A', 'T', 'A'), SF_FORMAT_RAW | SF_ENDIAN_BIG, true, "raw", {"raw", "bin", "dat", "pcm"}},
    {FOURCC('?', '?', '?', '?'), SF_FORMAT_RAW | SF_ENDIAN_BIG, true, "raw", {"raw"}},
    {FOURCC('U', 'L', 'A', 'W'), 0, false, "mu-law", {"ulaw"}},
};

// Whether the AIFF form at path is AIFC (compressed or float data), which libsndfile does not say.
bool is_aifc(const std::string &path) {
    char head[12] = {};
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    size_t n = fread(head, 1, sizeof head, f);
    fclose(f);
    return n == sizeof head && memcmp(head + 8, "AIFC", 4) == 0;
}

t_fourcc type_from_contents(const std::string &path) {
    SF_INFO info{};
    SNDFILE *sf = sf_open(path.c_str(), SFM_READ, &info);
    if (!sf) return 0;
    sf_close(sf);
    int major = info.format & SF_FORMAT_TYPEMASK;
    if (major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64) major = SF_FORMAT_WAV;
    if (major == SF_FORMAT_AIFF && is_aifc(path)) return FOURCC('A', 'I', 'F', 'C');
    for (const SoundFileType &t : kSoundFileTypes)
        if (major && (t.sf_format & SF_FORMAT_TYPEMASK) == major) return t.type;
    return 0;
}

t_fourcc type_from_extension(const std::string &path) {
    std::string name = fs::path(path).filename().string();
    auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return 0;
    std::string ext = lower(name.substr(dot + 1));
    for (const SoundFileType &t : kSoundFileTypes)
        for (const char *e : t.exts)
            if (e && ext == e) return t.type;
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

const SoundFileType *sound_file_type(t_fourcc type) {
    for (const SoundFileType &t : kSoundFileTypes)
        if (t.type == type) return &t;
    return nullptr;
}

const char *type_extension(t_fourcc type) {
    const SoundFileType *t = sound_file_type(type);
    return t && t->exts[0] ? t->exts[0] : "";
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
