// Fills an NTFS image made by mkntfs through the runtime library of ntfs-3g,
// without a FUSE mount. Commands come one a line on standard input:
//   mkdir PATH              put PATH HOSTFILE         rm PATH
//   fragput PATH HOSTFILE PIECE SPACERDIR (written in pieces, short-lived files between them)
//   sparse PATH SIZE        (0xAB in the first 4 KiB, 0xCD in the last, a hole between)
//   dosname PATH SHORTNAME  (adds an 8.3 name beside the long one)
//   fill DIR SIZE COUNT     (COUNT files DIR/f000000... of SIZE bytes)
//   reparse PATH TAG        (a reparse point with TAG, e.g. 0x80000017, on an existing file)
//   streams PATH COUNT      (COUNT named streams s0, s1... of 200 bytes each on PATH)
// The library's headers are not needed: the few calls are declared here.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
struct ntfs_volume;
struct ntfs_inode;
struct ntfs_attr;
typedef uint16_t ntfschar;
extern ntfschar AT_UNNAMED[];
ntfs_volume* ntfs_mount(const char* name, unsigned long flags);
int ntfs_umount(ntfs_volume* vol, int force);
ntfs_inode* ntfs_pathname_to_inode(ntfs_volume* vol, ntfs_inode* parent, const char* pathname);
ntfs_inode* ntfs_create(ntfs_inode* dir, uint32_t securid, const ntfschar* name, uint8_t nameLength, mode_t type);
int ntfs_delete(ntfs_volume* vol, const char* path, ntfs_inode* ni, ntfs_inode* dir, const ntfschar* name,
                uint8_t nameLength);
int ntfs_inode_close(ntfs_inode* ni);
ntfs_attr* ntfs_attr_open(ntfs_inode* ni, uint32_t type, ntfschar* name, uint32_t nameLength);
int64_t ntfs_attr_pwrite(ntfs_attr* na, int64_t pos, int64_t count, const void* buffer);
int ntfs_attr_truncate(ntfs_attr* na, int64_t size);
void ntfs_attr_close(ntfs_attr* na);
int ntfs_mbstoucs(const char* text, ntfschar** out);
int ntfs_set_ntfs_dos_name(ntfs_inode* ni, ntfs_inode* dir, const char* value, size_t size, int flags);
int ntfs_set_ntfs_reparse_data(ntfs_inode* ni, const char* value, size_t size, int flags);
int ntfs_attr_add(ntfs_inode* ni, uint32_t type, ntfschar* name, uint8_t nameLength, const uint8_t* value,
                  int64_t size);
}

namespace {

constexpr uint32_t kData = 0x80;
constexpr int64_t kPutPiece = 8 << 20;

ntfs_volume* g_volume = nullptr;

bool Fail(const std::string& what)
{
    std::cerr << "ntfs-fill: " << what << "\n";
    return false;
}

std::string Parent(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Base(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// Creates PATH as a file or directory; the inode stays open for the caller.
ntfs_inode* Create(const std::string& path, mode_t type)
{
    ntfs_inode* dir = ntfs_pathname_to_inode(g_volume, nullptr, Parent(path).c_str());
    if (!dir) {
        return nullptr;
    }
    ntfschar* name = nullptr;
    const int length = ntfs_mbstoucs(Base(path).c_str(), &name);
    ntfs_inode* made = length > 0 ? ntfs_create(dir, 0, name, static_cast<uint8_t>(length), type) : nullptr;
    free(name);
    ntfs_inode_close(dir);
    return made;
}

bool WriteAt(ntfs_inode* ni, int64_t offset, const char* bytes, int64_t count)
{
    ntfs_attr* data = ntfs_attr_open(ni, kData, AT_UNNAMED, 0);
    if (!data) {
        return false;
    }
    int64_t done = 0;
    while (done < count) {
        const int64_t wrote = ntfs_attr_pwrite(data, offset + done, count - done, bytes + done);
        if (wrote <= 0) {
            break;
        }
        done += wrote;
    }
    ntfs_attr_close(data);
    return done == count;
}

std::string FillName(const std::string& dir, unsigned number)
{
    char name[16];
    std::snprintf(name, sizeof name, "f%06u", number);
    return (dir == "/" ? "" : dir) + "/" + name;
}

bool Remove(const std::string& path)
{
    ntfs_inode* dir = ntfs_pathname_to_inode(g_volume, nullptr, Parent(path).c_str());
    ntfs_inode* ni = dir ? ntfs_pathname_to_inode(g_volume, nullptr, path.c_str()) : nullptr;
    if (!ni) {
        if (dir) {
            ntfs_inode_close(dir);
        }
        return false;
    }
    ntfschar* name = nullptr;
    const int length = ntfs_mbstoucs(Base(path).c_str(), &name);
    // Deleting closes both inodes.
    const bool removed = ntfs_delete(g_volume, path.c_str(), ni, dir, name, static_cast<uint8_t>(length)) == 0;
    free(name);
    return removed;
}

// Copies the host file in pieces. With a spacer folder, a small file is
// written there between any two pieces and all of them are deleted at the
// end: the data then lies in many runs.
bool Put(const std::string& path, const std::string& hostFile, int64_t piece, const std::string& spacers)
{
    std::ifstream in(hostFile, std::ios::binary);
    ntfs_inode* ni = in && piece > 0 ? Create(path, S_IFREG) : nullptr;
    if (!ni) {
        return Fail("cannot create " + path + " from " + hostFile);
    }
    std::vector<char> chunk(static_cast<size_t>(piece));
    int64_t offset = 0;
    unsigned count = 0;
    bool ok = true;
    while (ok && in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const int64_t got = in.gcount();
        ok = got == 0 || WriteAt(ni, offset, chunk.data(), got);
        offset += got;
        if (ok && got > 0 && !spacers.empty()) {
            ntfs_inode* spacer = Create(FillName(spacers, count++), S_IFREG);
            ok = spacer && WriteAt(spacer, 0, chunk.data(), piece);
            if (spacer) {
                ntfs_inode_close(spacer);
            }
        }
    }
    ntfs_inode_close(ni);
    // Newest first: deleting them in creation order made ntfs-3g lose entries of the folder.
    for (unsigned number = count; ok && number > 0; --number) {
        ok = Remove(FillName(spacers, number - 1));
    }
    return ok || Fail("cannot write " + path);
}

bool Sparse(const std::string& path, int64_t size)
{
    ntfs_inode* ni = Create(path, S_IFREG);
    if (!ni) {
        return Fail("cannot create " + path);
    }
    const std::vector<char> head(4096, '\xAB');
    const std::vector<char> tail(4096, '\xCD');
    bool ok = WriteAt(ni, 0, head.data(), 4096) && WriteAt(ni, size - 4096, tail.data(), 4096);
    ntfs_inode_close(ni);
    return ok || Fail("cannot write " + path);
}

bool DosName(const std::string& path, const std::string& shortName)
{
    ntfs_inode* dir = ntfs_pathname_to_inode(g_volume, nullptr, Parent(path).c_str());
    ntfs_inode* ni = dir ? ntfs_pathname_to_inode(g_volume, nullptr, path.c_str()) : nullptr;
    if (!ni) {
        if (dir) {
            ntfs_inode_close(dir);
        }
        return Fail("no " + path);
    }
    // Closes both inodes.
    return ntfs_set_ntfs_dos_name(ni, dir, shortName.c_str(), shortName.size(), 0) == 0 ||
           Fail("cannot set the short name of " + path);
}

bool Reparse(const std::string& path, uint32_t tag)
{
    ntfs_inode* ni = ntfs_pathname_to_inode(g_volume, nullptr, path.c_str());
    if (!ni) {
        return Fail("no " + path);
    }
    // Tag, data length, reserved, then sixteen bytes of data: the reader
    // goes by the presence of the point, never by what it holds.
    char value[24] = {};
    for (int i = 0; i < 4; ++i) {
        value[i] = static_cast<char>(tag >> (8 * i));
    }
    value[4] = 16;
    value[8] = value[12] = value[16] = value[20] = 1;
    const bool set = ntfs_set_ntfs_reparse_data(ni, value, sizeof value, 0) == 0;
    ntfs_inode_close(ni);
    return set || Fail("cannot set the reparse point of " + path);
}

// Resident streams that soon overflow the base record into extension
// records behind an attribute list.
bool Streams(const std::string& path, unsigned count)
{
    ntfs_inode* ni = ntfs_pathname_to_inode(g_volume, nullptr, path.c_str());
    if (!ni) {
        return Fail("no " + path);
    }
    const std::vector<uint8_t> bytes(200, 0x5A);
    bool ok = true;
    for (unsigned number = 0; ok && number < count; ++number) {
        ntfschar* name = nullptr;
        const int length = ntfs_mbstoucs(("s" + std::to_string(number)).c_str(), &name);
        ok = length > 0 && ntfs_attr_add(ni, kData, name, static_cast<uint8_t>(length), bytes.data(),
                                         static_cast<int64_t>(bytes.size())) == 0;
        free(name);
    }
    ntfs_inode_close(ni);
    return ok || Fail("cannot add the streams of " + path);
}

bool Fill(const std::string& dir, int64_t size, unsigned count)
{
    const std::vector<char> bytes(static_cast<size_t>(size), '\x5A');
    for (unsigned number = 0; number < count; ++number) {
        ntfs_inode* ni = Create(FillName(dir, number), S_IFREG);
        const bool wrote = ni && WriteAt(ni, 0, bytes.data(), size);
        if (ni) {
            ntfs_inode_close(ni);
        }
        if (!wrote) {
            return Fail("cannot write " + FillName(dir, number));
        }
    }
    return true;
}

bool Run(const std::string& line)
{
    std::istringstream words(line);
    std::string command, path, arg, extra, last;
    words >> command >> path >> arg >> extra >> last;
    if (command.empty() || command[0] == '#') {
        return true;
    }
    if (command == "mkdir") {
        ntfs_inode* ni = Create(path, S_IFDIR);
        return (ni && ntfs_inode_close(ni) == 0) || Fail("cannot make " + path);
    }
    if (command == "put") {
        return Put(path, arg, kPutPiece, std::string());
    }
    if (command == "rm") {
        return Remove(path) || Fail("cannot remove " + path);
    }
    if (command == "fragput") {
        return Put(path, arg, std::atoll(extra.c_str()), last);
    }
    if (command == "sparse") {
        return Sparse(path, std::atoll(arg.c_str()));
    }
    if (command == "dosname") {
        return DosName(path, arg);
    }
    if (command == "reparse") {
        return Reparse(path, static_cast<uint32_t>(std::strtoul(arg.c_str(), nullptr, 0)));
    }
    if (command == "streams") {
        return Streams(path, static_cast<unsigned>(std::atoll(arg.c_str())));
    }
    if (command == "fill") {
        return Fill(path, std::atoll(arg.c_str()), static_cast<unsigned>(std::atoll(extra.c_str())));
    }
    return Fail("unknown command: " + line);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: ntfs-fill IMAGE < commands\n";
        return 2;
    }
    g_volume = ntfs_mount(argv[1], 0);
    if (!g_volume) {
        return Fail(std::string("cannot open ") + argv[1]), 1;
    }
    bool ok = true;
    std::string line;
    while (ok && std::getline(std::cin, line)) {
        ok = Run(line);
    }
    if (ntfs_umount(g_volume, 0) != 0) {
        ok = Fail("cannot close the volume");
    }
    return ok ? 0 : 1;
}
