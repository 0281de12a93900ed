// Builds tar archives in memory for the tests, header field by header field, so a test
// can write exactly the damaged, hostile or unusual header it needs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace qm::test {

struct Member {
    std::string name;
    std::string data;
    char type = '0';
    unsigned mode = 0644;
    int64_t mtime = 315630000;   // 1980-01-02
    std::string size_field;      // raw 12-byte size text when not empty
    std::string mode_field;      // raw 8-byte mode text when not empty
    std::string mtime_field;     // raw 12-byte mtime text when not empty
    std::string prefix;          // ustar prefix (offset 345)
    bool posix_magic = false;    // "ustar\0" "00" instead of GNU's "ustar  \0"
    int checksum_delta = 0;      // added to the stored checksum (0: correct)
    bool signed_checksum = false;  // store the sum of signed bytes
    bool omit_data = false;      // write the header only (data cut off)
};

class TarBuilder {
public:
    TarBuilder& add(const Member& m) {
        unsigned char h[512];
        std::memset(h, 0, sizeof h);
        std::memcpy(h, m.name.data(), m.name.size() < 100 ? m.name.size() : 100);
        put(h + 100, 8, m.mode_field, octal(m.mode, 7));
        put(h + 108, 8, "", octal(0, 7));
        put(h + 116, 8, "", octal(0, 7));
        put(h + 124, 12, m.size_field, octal(m.data.size(), 11));
        put(h + 136, 12, m.mtime_field, octal(static_cast<uint64_t>(m.mtime), 11));
        h[156] = static_cast<unsigned char>(m.type);
        if (m.posix_magic) {
            std::memcpy(h + 257, "ustar\0" "00", 8);
        } else {
            std::memcpy(h + 257, "ustar  \0", 8);
        }
        std::memcpy(h + 265, "root", 4);
        std::memcpy(h + 297, "root", 4);
        if (!m.prefix.empty())
            std::memcpy(h + 345, m.prefix.data(), m.prefix.size() < 155 ? m.prefix.size() : 155);
        std::memset(h + 148, ' ', 8);
        long sum = 0;
        for (unsigned char c : h) sum += m.signed_checksum ? static_cast<signed char>(c) : c;
        sum += m.checksum_delta;
        char ck[8];
        std::snprintf(ck, sizeof ck, "%06lo", static_cast<unsigned long>(sum) & 0777777ul);
        std::memcpy(h + 148, ck, 7);
        h[155] = ' ';
        bytes_.insert(bytes_.end(), h, h + 512);
        if (!m.omit_data) {
            bytes_.insert(bytes_.end(), m.data.begin(), m.data.end());
            bytes_.resize((bytes_.size() + 511) / 512 * 512, 0);
        }
        return *this;
    }
    TarBuilder& file(const std::string& name, const std::string& data, int64_t mtime = 315630000) {
        Member m;
        m.name = name;
        m.data = data;
        m.mtime = mtime;
        return add(m);
    }
    TarBuilder& dir(const std::string& name, char type = '5') {
        Member m;
        m.name = name;
        m.type = type;
        m.mode = 0755;
        return add(m);
    }
    TarBuilder& raw(const std::vector<unsigned char>& b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        return *this;
    }
    TarBuilder& end() {
        bytes_.resize(bytes_.size() + 1024, 0);
        return *this;
    }
    const std::vector<unsigned char>& bytes() const { return bytes_; }
    std::string str() const { return std::string(bytes_.begin(), bytes_.end()); }

    static std::string octal(uint64_t v, int digits) {
        char b[32];
        std::snprintf(b, sizeof b, "%0*llo", digits, static_cast<unsigned long long>(v));
        return b;
    }

private:
    static void put(unsigned char* at, size_t width, const std::string& raw, const std::string& dflt) {
        const std::string& s = raw.empty() ? dflt : raw;
        std::memcpy(at, s.data(), s.size() < width ? s.size() : width);
    }
    std::vector<unsigned char> bytes_;
};

// n directory members, each with a file in it, and as many files two directories deep
// whose parents the expansion makes: thousands of directories for concurrent expansions.
inline TarBuilder shared_directories(int n) {
    TarBuilder b;
    for (int i = 0; i < n; ++i) {
        const std::string k = std::to_string(i);
        b.dir("d" + k + "/").file("d" + k + "/f", k).file("p" + k + "/q/r/f", k);
    }
    return b.end();
}

// A package of count headers of the directory "d/", written straight to out: the walk
// meets every header while the disk work stays one directory.
template <typename Stream>
void write_repeated_directory(Stream& out, int count) {
    TarBuilder one;
    one.dir("d/");
    for (int i = 0; i < count; ++i) out.write(one.str().data(), 512);
    out.write(std::string(1024, '\0').data(), 1024);
}

}  // namespace qm::test
