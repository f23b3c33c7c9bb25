// Test support for the store layer's table of file calls (Cu_system): while a
// Seam lives, every entry is replaced by one that writes the call into a
// trace (the entry's name and the file it acts on) and fails the calls chosen
// by their place in the trace with an errno; its end puts the table back.
#pragma once
#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "store/cust.h"

namespace store_seam {

struct CALL {
    std::string entry;  // "open", "write", ...
    std::string what;   // the last part of the path(s) it names, or the file of its descriptor; the
                        // calls on a file made without a name ("(dir)" its making, "(new)" the
                        // others) get " as <name>" once a link names it
};

struct Seam;
inline Seam* g_seam = nullptr;

struct Seam {
    CU_SYSTEM saved = Cu_system;
    std::vector<CALL> trace;
    std::map<std::size_t, int> faults;  // place in the trace -> errno that fails the call there
    std::map<int, std::string> files;   // open descriptors -> the file each is
    std::map<int, std::vector<std::size_t>> unnamed;  // descriptors of unnamed files -> their calls
    Seam();
    ~Seam() {
        Cu_system = saved;
        g_seam = nullptr;
    }
};

// The place in trace of the nth call (from 1) of entry on a file whose name
// holds part, or -1 when there is none.
inline long find(const std::vector<CALL>& trace, const std::string& entry, const std::string& part, int nth = 1) {
    for (std::size_t i = 0; i < trace.size(); ++i)
        if (trace[i].entry == entry && trace[i].what.find(part) != std::string::npos && --nth == 0)
            return static_cast<long>(i);
    return -1;
}

inline std::string last_part(const char* path) {
    if (path == nullptr || path[0] == '\0' || std::strncmp(path, "/proc/", 6) == 0) return "";
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? path : slash[1] != '\0' ? slash + 1 : "(dir)";
}

inline void add_name(std::string& out, const char* path) {
    const std::string p = last_part(path);
    if (!p.empty()) out += (out.empty() ? "" : ">") + p;
}
template <class T>
void add_name(std::string&, T) {}

// The names a call is given, else the file of its first argument when that
// is a descriptor.
template <class First, class... Rest>
std::string what_of(const Seam& s, First first, Rest... rest) {
    std::string out;
    add_name(out, first);
    (add_name(out, rest), ...);
    if constexpr (std::is_same_v<First, int>) {
        const auto f = s.files.find(first);
        if (out.empty()) out = f == s.files.end() ? "?" : f->second;
    }
    return out;
}

template <auto M, auto N>
constexpr bool same_entry() {
    if constexpr (std::is_same_v<decltype(M), decltype(N)>) {
        return M == N;
    } else {
        return false;
    }
}

template <class T>
struct Hook;
template <class R, class... A>
struct Hook<R (*CU_SYSTEM::*)(A...)> {
    template <R (*CU_SYSTEM::*M)(A...)>
    static inline const char* name = "";

    template <R (*CU_SYSTEM::*M)(A...)>
    static R call(A... a) {
        Seam& s = *g_seam;
        const std::tuple<A...> args(a...);
        s.trace.push_back({name<M>, what_of(s, a...)});
        if constexpr (std::is_same_v<std::tuple_element_t<0, std::tuple<A...>>, int>) {
            const auto u = s.unnamed.find(std::get<0>(args));
            if (u != s.unnamed.end() && s.trace.back().what == "(new)") u->second.push_back(s.trace.size() - 1);
        }
        const auto fault = s.faults.find(s.trace.size() - 1);
        if (fault != s.faults.end()) {
            // Linux lets go of a descriptor even when close reports an error,
            // and closedir frees its stream whatever it reports.
            if constexpr (same_entry<M, &CU_SYSTEM::close>()) {
                (s.saved.*M)(a...);
                s.files.erase(std::get<0>(args));
                s.unnamed.erase(std::get<0>(args));
            } else if constexpr (same_entry<M, &CU_SYSTEM::closedir>()) {
                (s.saved.*M)(a...);
            }
            errno = fault->second;
            if constexpr (std::is_pointer_v<R>) {
                return nullptr;
            } else {
                return static_cast<R>(-1);
            }
        }
        const R r = (s.saved.*M)(a...);
        const int kept_errno = errno;
        // The descriptors' files: what open made (an unnamed file is "(new)"
        // until a link names it), and nothing once closed.
        if constexpr (same_entry<M, &CU_SYSTEM::open>()) {
            const bool tmpfile = (std::get<1>(args) & O_TMPFILE) == O_TMPFILE;
            if (r >= 0) s.files[r] = tmpfile ? "(new)" : last_part(std::get<0>(args));
            if (r >= 0 && tmpfile) s.unnamed[r] = {s.trace.size() - 1};
        } else if constexpr (same_entry<M, &CU_SYSTEM::openat>()) {
            if (r >= 0) s.files[r] = std::get<1>(args);
        } else if constexpr (same_entry<M, &CU_SYSTEM::close>()) {
            s.files.erase(std::get<0>(args));
            s.unnamed.erase(std::get<0>(args));
        } else if constexpr (same_entry<M, &CU_SYSTEM::linkat>()) {
            const char* from = std::get<1>(args);
            const bool by_proc = std::strncmp(from, "/proc/self/fd/", 14) == 0;
            const int fd = by_proc ? std::atoi(from + 14) : std::get<0>(args);
            if (r == 0) {
                s.files[fd] = last_part(std::get<3>(args));
                for (std::size_t place : s.unnamed[fd]) s.trace[place].what += " as " + s.files[fd];
                s.unnamed.erase(fd);
            }
        }
        errno = kept_errno;
        return r;
    }
};

template <auto M>
void hook(const char* entry_name) {
    using H = Hook<decltype(M)>;
    H::template name<M> = entry_name;
    Cu_system.*M = &H::template call<M>;
}

inline Seam::Seam() {
    // Every entry below: a new one must be added here as well.
    static_assert(sizeof(CU_SYSTEM) == 24 * sizeof(void (*)()), "an entry of the table is not hooked");
    g_seam = this;
#define STORE_SEAM_HOOK(e) hook<&CU_SYSTEM::e>(#e)
    STORE_SEAM_HOOK(open), STORE_SEAM_HOOK(openat), STORE_SEAM_HOOK(read), STORE_SEAM_HOOK(pread);
    STORE_SEAM_HOOK(write), STORE_SEAM_HOOK(pwrite), STORE_SEAM_HOOK(lseek), STORE_SEAM_HOOK(close);
    STORE_SEAM_HOOK(fsync), STORE_SEAM_HOOK(futimens), STORE_SEAM_HOOK(flock);
    STORE_SEAM_HOOK(fstat), STORE_SEAM_HOOK(stat), STORE_SEAM_HOOK(copy_file_range), STORE_SEAM_HOOK(rename);
    STORE_SEAM_HOOK(link), STORE_SEAM_HOOK(linkat), STORE_SEAM_HOOK(unlink), STORE_SEAM_HOOK(rmdir);
    STORE_SEAM_HOOK(mkdir), STORE_SEAM_HOOK(chmod), STORE_SEAM_HOOK(opendir), STORE_SEAM_HOOK(readdir);
    STORE_SEAM_HOOK(closedir);
#undef STORE_SEAM_HOOK
}

}  // namespace store_seam
