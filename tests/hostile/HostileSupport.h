// Folders, files and mounts for the hostile-input and fault tests.
#pragma once

#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "doc/core/Doc.h"
#include "tests/support/TestEditor.h"
#include "views/tree/core/TreeItems.h"

namespace quorrel::hostile {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "quorrel-hostile-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path / name, std::ios::binary) << bytes;
        return (path / name).string();
    }
};

// piece repeated times over, as a gzip (windowBits 31) or zlib (15) stream,
// without ever holding the whole input.
inline std::string Compress(const std::string& piece, std::size_t times, int windowBits = 31) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::string out;
    char buffer[65536];
    for (std::size_t i = 0; i <= times; ++i) {
        bool last = i == times;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
        z.avail_in = last ? 0 : uInt(piece.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            out.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

inline std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A small tmpfs on a folder of its own, unmounted when it goes. Mounting
// needs root; why says what stopped it otherwise.
class TmpfsMount {
public:
    explicit TmpfsMount(const fs::path& at, const std::string& options = "size=64k") : m_at(at) {
        if (geteuid() != 0) {
            m_why = "mounting a tmpfs needs root";
            return;
        }
        fs::create_directories(at);
        if (mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            m_why = std::string("mount is not permitted here: ") + std::strerror(errno);
            return;
        }
        m_mounted = true;
    }
    ~TmpfsMount() {
        if (m_mounted) {
            umount2(m_at.c_str(), MNT_DETACH);
        }
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return m_mounted; }
    const std::string& why() const { return m_why; }
    // Makes the mount read-only: root's writes fail too, unlike with file modes.
    bool makeReadOnly() {
        if (mount(nullptr, m_at.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            m_why = std::string("remounting read-only failed: ") + std::strerror(errno);
            return false;
        }
        return true;
    }

private:
    fs::path m_at;
    bool m_mounted = false;
    std::string m_why;
};

inline std::size_t CountItems(const CTreeItems& items) {
    return items.Count();
}

using test_support::DescribeItems;

// A document opened as File > Open does, with its tree built.
struct Opened {
    CollectingSink sink;
    CDoc doc{sink};
    CTreeItems items;
    LoadResult result;

    explicit Opened(const std::string& path, bool validate = true) {
        if (!validate) {
            doc.OnValidateNo();
        }
        result = doc.OnOpenDocument(path);
        BuildTreeFromDom(doc, items);
    }
    std::string message() const {
        return sink.messages.empty() ? std::string() : sink.messages.front();
    }
};

}  // namespace quorrel::hostile
