// zel-faultyfolder BACKING_DIR MOUNTPOINT: mounts BACKING_DIR at MOUNTPOINT with FUSE and, on
// commands read from standard input, misbehaves as a network folder (NFS, SMB) does. It prints
// "ready" once mounted and answers each command with "ok" once it is in force. End of input
// releases what is held and unmounts.
//
//   hold / release             write, flush, fsync, open and create wait until release
//   hold-writes                only write waits until release: Wine opens and closes files
//                              in its one server process, which a held open would stop
//   fail-sync / sync-ok        flush and fsync fail with EDQUOT and drop what the handle wrote
//                              since it was opened (or last flushed or synced without error)
//   refuse-truncate / truncate-ok  truncating, also opening with O_TRUNC, fails with EPERM
//   room N / room off          the regular files under BACKING_DIR together hold at most N bytes
//   nolock / lock-ok           flock fails with ENOLCK
#define FUSE_USE_VERSION 35

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fuse.h>
#include <iostream>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

struct State {
    std::string backing;
    std::mutex mutex;
    std::condition_variable released;
    enum class Hold { Nothing, Writes, All } held = Hold::Nothing;
    std::atomic<bool> failSync{false}, refuseTruncate{false}, noLock{false};
    std::atomic<long long> room{-1}; // bytes; negative: no limit
    pthread_t loop;                  // the thread that waits for the FUSE loop to end
} state;

// One open of a file. kept is the size the server surely has: at the open, or at the last flush
// or fsync that succeeded; a failed write-back leaves the file at that size.
struct Handle {
    int fd;
    off_t kept;
    bool append;
    bool dirty = false;
    ~Handle() { ::close(fd); }
};

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

long long usedBytes() {
    namespace fs = std::filesystem;
    long long total = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(state.backing, ec), end; !ec && it != end;
         it.increment(ec)) {
        struct stat st {};
        total += ::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
    }
    return total;
}

bool apply(const std::string& command) {
    const std::lock_guard lock(state.mutex);
    if (command == "hold" || command == "hold-writes" || command == "release") {
        state.held = command == "hold"          ? State::Hold::All
                     : command == "hold-writes" ? State::Hold::Writes
                                                : State::Hold::Nothing;
        state.released.notify_all();
    } else if (command == "fail-sync" || command == "sync-ok") {
        state.failSync = command == "fail-sync";
    } else if (command == "refuse-truncate" || command == "truncate-ok") {
        state.refuseTruncate = command == "refuse-truncate";
    } else if (command == "nolock" || command == "lock-ok") {
        state.noLock = command == "nolock";
    } else if (command == "room off") {
        state.room = -1;
    } else if (command.starts_with("room ")) {
        const char* const last = command.data() + command.size();
        long long room = -1;
        const auto [end, ec] = std::from_chars(command.data() + 5, last, room);
        if (ec != std::errc{} || end != last || room < 0) {
            return false;
        }
        state.room = room;
    } else {
        return false;
    }
    return true;
}

void readCommands(fuse* fs) {
    for (std::string line; std::getline(std::cin, line);) {
        say(apply(line) ? "ok" : "error: unknown command");
    }
    apply("release");
    fuse_exit(fs);
    // The loop would otherwise see the exit only with the next request.
    pthread_kill(state.loop, SIGUSR1);
}

struct Folder {
    static Handle& handle(const fuse_file_info* fi) { return *reinterpret_cast<Handle*>(fi->fh); }
    static std::string full(const char* path) { return state.backing + (path ? path : ""); }
    static int result(int r) { return r < 0 ? -errno : 0; }
    // The lock it returns keeps a write and the room it was allowed together.
    static std::unique_lock<std::mutex> waitWhileHeld(bool writing = false) {
        std::unique_lock lock(state.mutex);
        state.released.wait(lock, [writing] {
            return state.held == State::Hold::Nothing ||
                   (state.held == State::Hold::Writes && !writing);
        });
        return lock;
    }

    static int getattr(const char* path, struct stat* st, fuse_file_info* fi) {
        return result(fi ? ::fstat(handle(fi).fd, st) : ::lstat(full(path).c_str(), st));
    }
    static int readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                       fuse_readdir_flags) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(full(path), ec)) {
            fill(buf, entry.path().filename().c_str(), nullptr, 0, fuse_fill_dir_flags{});
        }
        return -ec.value();
    }
    static int open(const char* path, fuse_file_info* fi) {
        // An append-only file refuses to be opened for truncation as it refuses truncate().
        return state.refuseTruncate && (fi->flags & O_TRUNC) ? -EPERM : create(path, 0, fi);
    }
    static int create(const char* path, mode_t mode, fuse_file_info* fi) {
        waitWhileHeld();
        const int fd = ::open(full(path).c_str(), fi->flags, mode);
        if (fd < 0) {
            return -errno;
        }
        const off_t size = ::lseek(fd, 0, SEEK_END);
        fi->fh = reinterpret_cast<uint64_t>(new Handle{fd, size, (fi->flags & O_APPEND) != 0});
        fi->direct_io = 1; // every write() reaches us, as the client of a share sends it
        return 0;
    }
    static int read(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
        const ssize_t n = ::pread(handle(fi).fd, buf, size, offset);
        return n < 0 ? -errno : static_cast<int>(n);
    }
    static int write(const char*, const char* buf, size_t size, off_t offset, fuse_file_info* fi) {
        const auto lock = waitWhileHeld(true);
        Handle& h = handle(fi);
        auto allowed = static_cast<long long>(size);
        if (const long long room = state.room; room >= 0) {
            const long long end = ::lseek(h.fd, 0, SEEK_END);
            const long long growth = (h.append ? end : offset) + allowed - end;
            const long long free = std::max(0LL, room - usedBytes());
            allowed -= std::max(0LL, growth - free);
            if (allowed <= 0) {
                return -ENOSPC;
            }
        }
        const ssize_t n = ::pwrite(h.fd, buf, static_cast<size_t>(allowed), offset);
        h.dirty = h.dirty || n > 0;
        return n < 0 ? -errno : static_cast<int>(n);
    }
    // What the client of a share does when it writes the handle's data back to the server.
    static int writeBack(fuse_file_info* fi, bool sync) {
        const auto lock = waitWhileHeld();
        Handle& h = handle(fi);
        if (state.failSync && h.dirty) {
            h.dirty = false;
            return ::ftruncate(h.fd, h.kept) == 0 ? -EDQUOT : -errno;
        }
        if (sync && ::fsync(h.fd) != 0) {
            return -errno;
        }
        h.kept = ::lseek(h.fd, 0, SEEK_END);
        h.dirty = false;
        return 0;
    }
    static int flush(const char*, fuse_file_info* fi) { return writeBack(fi, false); }
    static int fsync(const char*, int, fuse_file_info* fi) { return writeBack(fi, true); }
    static int release(const char*, fuse_file_info* fi) {
        delete &handle(fi);
        return 0;
    }
    static int truncate(const char* path, off_t size, fuse_file_info* fi) {
        if (state.refuseTruncate) {
            return -EPERM;
        }
        return result(fi ? ::ftruncate(handle(fi).fd, size) : ::truncate(full(path).c_str(), size));
    }
    static int statfs(const char*, struct statvfs* st) {
        if (::statvfs(state.backing.c_str(), st) != 0) {
            return -errno;
        }
        if (const long long room = state.room; room >= 0) {
            st->f_bsize = st->f_frsize = 1;
            st->f_blocks = static_cast<fsblkcnt_t>(room);
            st->f_bfree = st->f_bavail = std::max(0LL, room - usedBytes());
        }
        return 0;
    }
    static int unlink(const char* path) { return result(::unlink(full(path).c_str())); }
    static int mkdir(const char* path, mode_t mode) {
        return result(::mkdir(full(path).c_str(), mode));
    }
    static int rmdir(const char* path) { return result(::rmdir(full(path).c_str())); }
    static int rename(const char* from, const char* to, unsigned int flags) {
        return result(::renameat2(AT_FDCWD, full(from).c_str(), AT_FDCWD, full(to).c_str(), flags));
    }
    static int chmod(const char* path, mode_t mode, fuse_file_info* fi) {
        return result(fi ? ::fchmod(handle(fi).fd, mode) : ::chmod(full(path).c_str(), mode));
    }
    static int utimens(const char* path, const timespec tv[2], fuse_file_info* fi) {
        return result(fi ? ::futimens(handle(fi).fd, tv)
                         : ::utimensat(AT_FDCWD, full(path).c_str(), tv, AT_SYMLINK_NOFOLLOW));
    }
    static int access(const char* path, int mask) {
        return result(::access(full(path).c_str(), mask));
    }
    static int flock(const char*, fuse_file_info* fi, int op) {
        return state.noLock ? -ENOLCK : result(::flock(handle(fi).fd, op));
    }
    static void wake(int) {}
    static void* init(fuse_conn_info* conn, fuse_config* cfg) {
        conn->want |= conn->capable & FUSE_CAP_FLOCK_LOCKS; // else flock() stays in the kernel
        // The test changes BACKING_DIR behind our back: nothing is cached.
        cfg->attr_timeout = cfg->entry_timeout = cfg->negative_timeout = 0;
        cfg->hard_remove = 1; // no .fuse_hidden files for the test to trip over
        cfg->nullpath_ok = 1;
        std::thread(readCommands, fuse_get_context()->fuse).detach();
        say("ready");
        return nullptr;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zel-faultyfolder BACKING_DIR MOUNTPOINT\n");
        return 2;
    }
    std::error_code ec;
    state.backing = std::filesystem::canonical(argv[1], ec); // fuse_main() changes to "/"
    if (ec) {
        std::fprintf(stderr, "zel-faultyfolder: %s: %s\n", argv[1], ec.message().c_str());
        return 1;
    }
    fuse_operations ops{};
    ops.getattr = Folder::getattr, ops.readdir = Folder::readdir, ops.open = Folder::open;
    ops.create = Folder::create, ops.read = Folder::read, ops.write = Folder::write;
    ops.flush = Folder::flush, ops.fsync = Folder::fsync, ops.release = Folder::release;
    ops.truncate = Folder::truncate, ops.statfs = Folder::statfs, ops.unlink = Folder::unlink;
    ops.mkdir = Folder::mkdir, ops.rmdir = Folder::rmdir, ops.rename = Folder::rename;
    ops.chmod = Folder::chmod, ops.utimens = Folder::utimens, ops.access = Folder::access;
    ops.flock = Folder::flock, ops.init = Folder::init;

    // SIGUSR1 only interrupts the loop's wait, so that it sees the end of input.
    state.loop = pthread_self();
    struct sigaction wake {};
    wake.sa_handler = Folder::wake;
    ::sigaction(SIGUSR1, &wake, nullptr);
    std::string foreground = "-f", options = "-ofsname=faultyfolder,subtype=faultyfolder";
    char* fuseArgv[] = {argv[0], foreground.data(), options.data(), argv[2]};
    return fuse_main(4, fuseArgv, &ops, nullptr);
}
