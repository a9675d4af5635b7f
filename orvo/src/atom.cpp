// Atoms: typed message arguments, their conversions, and parsing from text.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "objects_internal.h"

namespace {

// Truncation toward zero that stays defined for NaN and out-of-range values.
t_atom_long float_to_long(double f) {
    if (std::isnan(f)) return 0;
    if (f >= 9223372036854775807.0) return INT64_MAX;
    if (f <= -9223372036854775808.0) return INT64_MIN;
    return (t_atom_long)f;
}

}  // namespace

extern "C" {

t_atom_long atom_getlong(const t_atom *a) {
    if (!a) return 0;
    switch (a->a_type) {
        case A_LONG:
            return a->a_w.w_long;
        case A_FLOAT:
            return float_to_long(a->a_w.w_float);
        default:
            return 0;
    }
}

t_atom_float atom_getfloat(const t_atom *a) {
    if (!a) return 0.0;
    switch (a->a_type) {
        case A_LONG:
            return (t_atom_float)a->a_w.w_long;
        case A_FLOAT:
            return a->a_w.w_float;
        default:
            return 0.0;
    }
}

t_symbol *atom_getsym(const t_atom *a) {
    if (a && a->a_type == A_SYM && a->a_w.w_sym) return a->a_w.w_sym;
    return gensym("");
}

t_object *atom_getobj(const t_atom *a) {
    if (a && a->a_type == A_OBJ) return a->a_w.w_obj;
    return nullptr;
}

long atom_gettype(const t_atom *a) { return a ? (long)a->a_type : (long)A_NOTHING; }

t_orvo_err atom_setlong(t_atom *a, t_atom_long v) {
    if (!a) return ORVO_ERR_INVALID_PTR;
    a->a_type = A_LONG;
    a->a_w.w_long = v;
    return ORVO_ERR_NONE;
}

t_orvo_err atom_setfloat(t_atom *a, double v) {
    if (!a) return ORVO_ERR_INVALID_PTR;
    a->a_type = A_FLOAT;
    a->a_w.w_float = v;
    return ORVO_ERR_NONE;
}

t_orvo_err atom_setsym(t_atom *a, t_symbol *s) {
    if (!a) return ORVO_ERR_INVALID_PTR;
    a->a_type = A_SYM;
    a->a_w.w_sym = s ? s : gensym("");
    return ORVO_ERR_NONE;
}

t_orvo_err atom_setobj(t_atom *a, void *o) {
    if (!a) return ORVO_ERR_INVALID_PTR;
    a->a_type = A_OBJ;
    a->a_w.w_obj = (t_object *)o;
    return ORVO_ERR_NONE;
}

t_atom_long atom_getintarg(long which, long argc, const t_atom *argv) {
    if (!argv || which < 0 || which >= argc) return 0;
    return atom_getlong(argv + which);
}

t_atom_float atom_getfloatarg(long which, long argc, const t_atom *argv) {
    if (!argv || which < 0 || which >= argc) return 0.0;
    return atom_getfloat(argv + which);
}

t_orvo_err atom_alloc(long *argc, t_atom **argv, char *alloc) {
    if (!argc || !argv) return ORVO_ERR_INVALID_PTR;
    if (*argc && *argv) {
        if (alloc) *alloc = 0;
        return ORVO_ERR_NONE;
    }
    auto *a = (t_atom *)sysmem_newptr(sizeof(t_atom));
    if (!a) return ORVO_ERR_OUT_OF_MEM;
    std::memset(a, 0, sizeof(t_atom));
    *argv = a;
    *argc = 1;
    if (alloc) *alloc = 1;
    return ORVO_ERR_NONE;
}

}  // extern "C"

namespace {

// [+-] digits [. digits] [e [+-] digits], with at least one mantissa digit.
// Returns 0 for not a number, 1 for an integer, 2 for a float.
int number_kind(const std::string &tok) {
    size_t i = 0, n = tok.size();
    if (i < n && (tok[i] == '+' || tok[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && std::isdigit((unsigned char)tok[i])) ++i, ++digits;
    bool is_float = false;
    if (i < n && tok[i] == '.') {
        is_float = true;
        ++i;
        while (i < n && std::isdigit((unsigned char)tok[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (i < n && (tok[i] == 'e' || tok[i] == 'E')) {
        size_t j = i + 1;
        if (j < n && (tok[j] == '+' || tok[j] == '-')) ++j;
        size_t exp_digits = 0;
        while (j < n && std::isdigit((unsigned char)tok[j])) ++j, ++exp_digits;
        if (exp_digits == 0) return 0;
        is_float = true;
        i = j;
    }
    if (i != n) return 0;
    return is_float ? 2 : 1;
}

t_atom atom_from_token(const std::string &tok, bool quoted) {
    t_atom a{};
    if (!quoted) {
        int kind = number_kind(tok);
        if (kind == 1) {
            errno = 0;
            long long v = std::strtoll(tok.c_str(), nullptr, 10);
            if (errno != ERANGE) {
                atom_setlong(&a, v);
                return a;
            }
            kind = 2;  // too large for an integer: keep its value as a float
        }
        if (kind == 2) {
            atom_setfloat(&a, std::strtod(tok.c_str(), nullptr));
            return a;
        }
    }
    atom_setsym(&a, gensym(tok.c_str()));
    return a;
}

}  // namespace

namespace orvo::detail {

// Splits text into atoms. Blanks separate words; double quotes group a word
// that may hold blanks (and is always a symbol); a backslash takes the next
// character literally, in or out of quotes.
std::vector<t_atom> parse_atoms(const char *text) {
    std::vector<t_atom> out;
    if (!text) return out;
    const char *p = text;
    for (;;) {
        while (*p && std::isspace((unsigned char)*p)) ++p;
        if (!*p) break;
        std::string tok;
        bool quoted = false, escaped = false;
        while (*p) {
            char c = *p;
            if (c == '\\' && p[1]) {
                tok += p[1];
                p += 2;
                escaped = true;
                continue;
            }
            if (c == '"') {
                quoted = true;
                ++p;
                while (*p && *p != '"') {
                    if (*p == '\\' && p[1]) ++p;
                    tok += *p++;
                }
                if (*p == '"') ++p;
                continue;
            }
            if (std::isspace((unsigned char)c)) break;
            tok += c;
            ++p;
        }
        out.push_back(atom_from_token(tok, quoted || escaped));
    }
    return out;
}

}  // namespace orvo::detail

namespace {

void append_atom_text(std::string &out, const t_atom &a) {
    char num[64];
    switch (a.a_type) {
        case A_LONG:
            std::snprintf(num, sizeof num, "%lld", (long long)a.a_w.w_long);
            out += num;
            break;
        case A_FLOAT:
            std::snprintf(num, sizeof num, "%g", a.a_w.w_float);
            out += num;
            break;
        case A_SYM:
            out += a.a_w.w_sym ? a.a_w.w_sym->s_name : "";
            break;
        case A_OBJ: {
            t_symbol *cls = object_classname(a.a_w.w_obj);
            out += "<";
            out += cls ? cls->s_name : "pointer";
            out += ">";
            break;
        }
        default:
            out += "?";
            break;
    }
}

}  // namespace

extern "C" t_orvo_err atom_setparse(long *argc, t_atom **argv, const char *text) {
    if (!argc || !argv) return ORVO_ERR_INVALID_PTR;
    std::vector<t_atom> atoms = orvo::detail::parse_atoms(text);
    if (!*argv) {
        *argc = 0;
        if (atoms.empty()) return ORVO_ERR_NONE;
        auto *arr = (t_atom *)sysmem_newptr((t_ptr_int)(atoms.size() * sizeof(t_atom)));
        if (!arr) return ORVO_ERR_OUT_OF_MEM;
        std::memcpy(arr, atoms.data(), atoms.size() * sizeof(t_atom));
        *argv = arr;
        *argc = (long)atoms.size();
        return ORVO_ERR_NONE;
    }
    long n = std::min<long>(*argc, (long)atoms.size());
    if (n > 0) std::memcpy(*argv, atoms.data(), (size_t)n * sizeof(t_atom));
    *argc = n;
    return ORVO_ERR_NONE;
}

namespace orvo::detail {

std::string atoms_text(long argc, const t_atom *argv) {
    std::string out;
    for (long i = 0; argv && i < argc; ++i) {
        if (i) out += ' ';
        append_atom_text(out, argv[i]);
    }
    return out;
}

}  // namespace orvo::detail

extern "C" void atom_totext(long argc, const t_atom *argv, char *buf, size_t size) {
    if (!buf || size == 0) return;
    std::snprintf(buf, size, "%s", orvo::detail::atoms_text(argc, argv).c_str());
}
