// Runs a built program (the checker, a front-end, a drop-in, a probe) as a judge would, and
// captures everything it leaves behind.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct CheckerRun {
    bool timed_out = false;
    bool exited = false;  // ended through exit(), not by a signal
    int status = -1;      // exit status when exited
    std::string out;      // everything written to standard output
    std::string err;      // everything written to standard error
};

struct RunOptions {
    std::vector<int> closed_descriptors;   // closed in the child before exec
    std::optional<int> stdin_descriptor;   // becomes standard input
    std::optional<int> stdout_descriptor;  // replaces the captured standard output
    std::optional<int> stderr_descriptor;  // replaces the captured standard error
    std::optional<mode_t> umask;           // the umask the program starts with
    std::chrono::milliseconds timeout{10000};
    std::string root;                            // chroot here before exec
    std::string directory;                       // the working directory, when not this one
    std::optional<uid_t> user;                   // run as this user id, group id the same
    std::vector<std::pair<int, rlim_t>> limits;  // resource limits set before exec
    int inherited = -1;                          // a descriptor the program keeps across exec
    // System calls made to fail in the program with failing_errno, only where their first
    // argument is failing_descriptor when that is not -1 (fault injection with seccomp).
    bool as_pid_one = false;  // the first process of a PID namespace of its own: getpid() is 1
    std::vector<long> failing_calls;
    int failing_descriptor = -1;
    int failing_errno = EIO;
};

// Makes the status calls of one descriptor fail, as the C libraries make them (musl fstat, glibc
// newfstatat, statx).
inline void fail_status_of(RunOptions& options, int descriptor) {
    options.failing_calls = {SYS_fstat, SYS_newfstatat, SYS_statx};
    options.failing_descriptor = descriptor;
}

// Installs the seccomp filter of options in this process (the child, before exec).
inline bool install_failing_calls(const RunOptions& options) {
    if (options.failing_calls.empty()) return true;
    std::vector<sock_filter> program{
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    // Each listed call jumps to the end, where the descriptor is checked; others are allowed.
    const size_t calls = options.failing_calls.size();
    for (size_t k = 0; k < calls; ++k)
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(options.failing_calls[k]),
                                   static_cast<uint8_t>(calls - k), 0));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const uint32_t fail = SECCOMP_RET_ERRNO | static_cast<uint32_t>(options.failing_errno);
    if (options.failing_descriptor >= 0) {
        program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])));
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(options.failing_descriptor), 1, 0));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, fail));
    const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

inline std::string slurp_descriptor(int fd) {
    std::string text;
    char chunk[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(got));
    return text;
}

// Moves a descriptor above 0 to 2, which a test closes in the child when the test process
// itself was started with one of them closed.
inline int above_standard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

inline int anonymous_file() { return above_standard(memfd_create("checker-capture", MFD_CLOEXEC)); }

inline RunOptions closing(std::vector<int> descriptors) {
    RunOptions options;
    options.closed_descriptors = std::move(descriptors);
    return options;
}
inline RunOptions stderr_to(int descriptor) {
    RunOptions options;
    options.stderr_descriptor = descriptor;
    return options;
}
inline RunOptions within_seconds(int seconds) {
    RunOptions options;
    options.timeout = std::chrono::seconds(seconds);
    return options;
}

// A directory of a test's own under /tmp, removed with what it holds.
class ScratchDirectory {
public:
    ScratchDirectory() {
        char name[] = "/tmp/filterspace-test-XXXXXX";
        if (mkdtemp(name) != nullptr) path_ = name;
    }
    ~ScratchDirectory() {
        if (!path_.empty()) (void)system(("rm -rf " + path_).c_str());
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::string& path() const { return path_; }

    // Writes a file of this content here; returns its path.
    std::string file(const std::string& name, const std::string& content) const {
        const std::string path = path_ + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

private:
    std::string path_;
};

// Two files of one content, each on a tmpfs of its own mounted in a private mount namespace, that
// share an inode number: one file by the inode alone, two by device and inode. unavailable() says
// why there are none (not root, or a kernel that numbers tmpfs inodes across mounts).
class TwinInodes {
public:
    explicit TwinInodes(const std::string& content) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            unavailable_ = std::string("needs root and a private mount namespace: ") + strerror(errno);
            return;
        }
        ino_t inodes[2] = {};
        for (int k = 0; k < 2; ++k) {
            const std::string mount_point = scratch_.path() + "/fs" + std::to_string(k);
            struct stat st = {};
            if (mkdir(mount_point.c_str(), 0755) != 0 ||
                mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=1m") != 0) {
                unavailable_ = std::string("cannot mount a tmpfs: ") + strerror(errno);
                return;
            }
            mounted_.push_back(mount_point);
            paths_[k] = scratch_.file("fs" + std::to_string(k) + "/file", content);
            if (stat(paths_[k].c_str(), &st) != 0) unavailable_ = "cannot write on a tmpfs";
            inodes[k] = st.st_ino;
        }
        if (unavailable_.empty() && inodes[0] != inodes[1])
            unavailable_ = "this kernel numbers tmpfs inodes across mounts";
    }
    ~TwinInodes() {
        for (const std::string& mount_point : mounted_) (void)umount2(mount_point.c_str(), MNT_DETACH);
    }
    TwinInodes(const TwinInodes&) = delete;
    TwinInodes& operator=(const TwinInodes&) = delete;

    const std::string& unavailable() const { return unavailable_; }
    const std::string& path(int k) const { return paths_[k]; }

private:
    ScratchDirectory scratch_;
    std::string paths_[2];
    std::string unavailable_;
    std::vector<std::string> mounted_;
};

// Runs the program opened as program_fd (or, where that is -1, found at path), named path, with
// args (which exclude its own name).
inline CheckerRun run_program(const char* path, int program_fd, const std::vector<std::string>& args,
                              const RunOptions& options = {}) {
    CheckerRun run;
    const int out_capture = anonymous_file();
    const int err_capture = anonymous_file();
    std::vector<char*> argv{const_cast<char*>(path)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        if (options.as_pid_one) {
            if (unshare(CLONE_NEWPID) != 0) _exit(125);
            const pid_t inner = fork();
            if (inner < 0) _exit(125);
            if (inner > 0) {
                int inner_status = 0;
                waitpid(inner, &inner_status, 0);
                _exit(WIFEXITED(inner_status) ? WEXITSTATUS(inner_status) : 125);
            }
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // killed with its parent on a time-out
        }
        if (options.stdin_descriptor) dup2(*options.stdin_descriptor, 0);
        dup2(options.stdout_descriptor.value_or(out_capture), 1);
        dup2(options.stderr_descriptor.value_or(err_capture), 2);
        for (int fd : options.closed_descriptors) close(fd);
        // The checker gets 0, 1 and 2 only, as from a judge, whatever this process holds.
        close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        if (options.inherited >= 0) fcntl(options.inherited, F_SETFD, 0);
        if (!options.root.empty() && (chroot(options.root.c_str()) != 0 || chdir("/") != 0)) _exit(126);
        if (options.user &&
            (setgroups(0, nullptr) != 0 || setresgid(*options.user, *options.user, *options.user) != 0 ||
             setresuid(*options.user, *options.user, *options.user) != 0))
            _exit(126);
        for (const auto& [resource, value] : options.limits) {
            const rlimit limit{value, value};
            if (setrlimit(resource, &limit) != 0) _exit(126);
        }
        if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) _exit(126);
        if (options.umask) umask(*options.umask);
        if (!install_failing_calls(options)) _exit(126);
        // By descriptor, where the test opened one before hiding its directory; else by path (a
        // script, which the kernel hands to its interpreter by name).
        if (program_fd >= 0) {
            fexecve(program_fd, argv.data(), environ);
        } else {
            execve(path, argv.data(), environ);
        }
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    int wait_status = 0;
    while (waitpid(child, &wait_status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            run.timed_out = true;
            kill(child, SIGKILL);
            waitpid(child, &wait_status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    run.exited = !run.timed_out && WIFEXITED(wait_status);
    if (run.exited) run.status = WEXITSTATUS(wait_status);
    run.out = slurp_descriptor(out_capture);
    run.err = slurp_descriptor(err_capture);
    close(out_capture);
    close(err_capture);
    return run;
}

#ifdef CHECKER_PATH
#ifdef CHECKER_EMULATOR
// The checker is built for another processor: the emulator runs it, given its path.
constexpr const char* checker_program = CHECKER_EMULATOR;
#else
constexpr const char* checker_program = CHECKER_PATH;
#endif

#ifdef CHECKER_EMULATOR
// The emulator opens the checker by path, and its directory may be under the /tmp that the
// tests hide: it is handed a descriptor opened with the emulator's, as /proc/self/fd/N.
inline int emulated_checker_descriptor() {
    static const int fd = above_standard(open(CHECKER_PATH, O_RDONLY | O_CLOEXEC));
    return fd;
}
#endif

// The checker's executable file itself, readable, for an emulator that a test starts on it
// (opened once, before any test hides the directory it lives in).
inline int checker_image_descriptor() {
    static const int fd = above_standard(open(CHECKER_PATH, O_RDONLY | O_CLOEXEC));
    return fd;
}

// The checker (or its emulator), opened once before any test hides the directory it lives in (a
// build tree may itself be under the /tmp that the tests mount over).
inline int checker_descriptor() {
#ifdef CHECKER_EMULATOR
    if (emulated_checker_descriptor() < 0) return -1;
#endif
    static const int fd = above_standard(open(checker_program, O_PATH | O_CLOEXEC));
    return fd;
}

inline CheckerRun run_checker(const std::vector<std::string>& args, const RunOptions& options = {}) {
#ifdef CHECKER_EMULATOR
    const int binary = emulated_checker_descriptor();
    std::vector<std::string> emulated{"/proc/self/fd/" + std::to_string(binary)};
    emulated.insert(emulated.end(), args.begin(), args.end());
    RunOptions keeping = options;
    keeping.inherited = binary;
    return run_program(checker_program, checker_descriptor(), emulated, keeping);
#else
    return run_program(checker_program, checker_descriptor(), args, options);
#endif
}
#endif
