// The POSIX INI engine on any file and any section, key and value: reads never crash
// and always give a terminated text that fits; a write either reports failure and leaves
// the file byte for byte as it was, or succeeds, and then the key reads back as the
// value written and every line it did not touch is still there, in order. Either way no
// temporary file stays behind.
//
// Input: section, NUL, key, NUL, value, NUL, then the file's bytes.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ini.h"

namespace {

struct Scratch {
    std::string dir, file;
    Scratch() {
        // A memory file system where there is one: every write syncs its file.
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = base + "/qmfuzz-ini-XXXXXX";
        std::vector<char> t(tmpl.begin(), tmpl.end());
        t.push_back('\0');
        if (!mkdtemp(t.data())) abort();
        dir = t.data();
        file = dir + "/x.ini";
    }
    ~Scratch() {
        unlink(file.c_str());
        rmdir(dir.c_str());
    }
};

std::string read_all(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

void write_all(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) abort();
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

// The directory holds the INI file and nothing else.
void only_the_file(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (!d) abort();
    while (dirent* e = readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..") ||
            !std::strcmp(e->d_name, "x.ini"))
            continue;
        std::fprintf(stderr, "left behind: %s\n", e->d_name);
        abort();
    }
    closedir(d);
}

bool blank(char c) { return (c >= 0x09 && c <= 0x0d) || c == 0x1a || c == ' '; }

// Line contents, split at "\r\n", "\n" or a lone "\r".
std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        size_t e = i;
        while (e < s.size() && s[e] != '\n' && s[e] != '\r') ++e;
        out.push_back(s.substr(i, e - i));
        if (e < s.size() && s[e] == '\r') ++e;
        if (e < s.size() && s[e] == '\n') ++e;
        i = e;
    }
    return out;
}

// What a read gives for a value as written: blanks around it go, then one pair of
// enclosing quotes.
std::string as_read(const std::string& v) {
    size_t b = 0, e = v.size();
    while (b < e && blank(v[b])) ++b;
    while (e > b && blank(v[e - 1])) --e;
    std::string t = v.substr(b, e - b);
    if (t.size() >= 2 && (t[0] == '"' || t[0] == '\'') && t.back() == t[0]) t = t.substr(1, t.size() - 2);
    return t;
}

void check_read(const char* section, const char* key, const std::string& file) {
    for (size_t room : {size_t{1}, size_t{2}, size_t{10}, size_t{300}}) {
        std::vector<char> out(room + 1, '\x7f');
        const unsigned n = qm::plat::ini_read(section, key, "  dflt  ", out.data(), room, file.c_str());
        if (out[room] != '\x7f') abort();  // written past the room given
        // A file may hold NUL bytes inside a value: the count then runs past the first.
        if (n >= room || out[n] != '\0') abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch s;
    const std::string in(reinterpret_cast<const char*>(data), size);
    size_t a = in.find('\0');
    if (a == std::string::npos) return 0;
    size_t b = in.find('\0', a + 1);
    if (b == std::string::npos) return 0;
    size_t c = in.find('\0', b + 1);
    if (c == std::string::npos) return 0;
    const std::string section = in.substr(0, a), key = in.substr(a + 1, b - a - 1),
                      value = in.substr(b + 1, c - b - 1), content = in.substr(c + 1);

    unlink(s.file.c_str());
    // An empty remainder stands for a missing file.
    if (!content.empty()) write_all(s.file, content);

    check_read(section.c_str(), key.c_str(), s.file);
    const bool ok = qm::plat::ini_write(section.c_str(), key.c_str(), value.c_str(), s.file.c_str()).ok();
    only_the_file(s.dir);
    struct stat st;
    const bool exists = stat(s.file.c_str(), &st) == 0;
    if (!ok) {
        if (content.empty() ? exists : read_all(s.file) != content) abort();
        return 0;
    }
    if (!exists) abort();

    // The key reads back as written.
    std::vector<char> out(value.size() + 64);
    qm::plat::ini_read(section.c_str(), key.c_str(), "", out.data(), out.size(), s.file.c_str());
    if (as_read(value) != out.data()) {
        std::fprintf(stderr, "wrote [%s] read [%s]\n", value.c_str(), out.data());
        abort();
    }

    // Every line the write did not touch is kept in order: at most one old line
    // changed, at most two new ones (a section header and the key).
    const std::vector<std::string> old_lines = lines(content), new_lines = lines(read_all(s.file));
    size_t p = 0;
    while (p < old_lines.size() && p < new_lines.size() && old_lines[p] == new_lines[p]) ++p;
    size_t q = 0;
    while (q < old_lines.size() - p && q < new_lines.size() - p &&
           old_lines[old_lines.size() - 1 - q] == new_lines[new_lines.size() - 1 - q])
        ++q;
    if (old_lines.size() - p - q > 1 || new_lines.size() - p - q > 2) {
        std::fprintf(stderr, "lines lost: %zu old, %zu new, %zu same at the start, %zu at the end\n",
                     old_lines.size(), new_lines.size(), p, q);
        abort();
    }
    check_read(section.c_str(), key.c_str(), s.file);
    return 0;
}
