// The engine for Node.js, through its C library, written against Node-API alone (node_api.h,
// version 8): compare() on bytes where they stand; compareFiles() as async work on libuv's
// thread pool, ended by an abort; a stream for output as it arrives, whose reads of an answer's
// descriptor run on the thread pool too. index.js gives it the shape JavaScript callers expect.
#include <fcntl.h>
#include <filterspace/filterspace.h>
#include <node_api.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// ---- Node-API in a few words: a failed call throws, and the function returns null.

#define NODE_CALL(call)                                                                    \
    do {                                                                                   \
        if ((call) != napi_ok) {                                                           \
            napi_throw_error(env, nullptr, "filterspace: a Node-API call failed: " #call); \
            return nullptr;                                                                \
        }                                                                                  \
    } while (0)

napi_value number(napi_env env, double value) {
    napi_value made = nullptr;
    napi_create_double(env, value, &made);
    return made;
}

napi_value boolean(napi_env env, bool value) {
    napi_value made = nullptr;
    napi_get_boolean(env, value, &made);
    return made;
}

napi_value text(napi_env env, const char* value) {
    napi_value made = nullptr;
    napi_create_string_utf8(env, value, NAPI_AUTO_LENGTH, &made);
    return made;
}

void set(napi_env env, napi_value object, const char* name, napi_value value) {
    napi_set_named_property(env, object, name, value);
}

napi_value object(napi_env env) {
    napi_value made = nullptr;
    napi_create_object(env, &made);
    return made;
}

// ---- Results, as JavaScript callers name them.

napi_value place_of(napi_env env, const filterspace_place& place) {
    napi_value told = object(env);
    set(env, told, "visibleByte", number(env, static_cast<double>(place.visible_byte)));
    set(env, told, "offset", number(env, static_cast<double>(place.offset)));
    set(env, told, "line", number(env, static_cast<double>(place.line)));
    set(env, told, "column", number(env, static_cast<double>(place.column)));
    set(env, told, "atEnd", boolean(env, place.at_end != 0));
    return told;
}

napi_value spot_of(napi_env env, const filterspace_spot& spot) {
    napi_value told = object(env);
    set(env, told, "offset", number(env, static_cast<double>(spot.offset)));
    set(env, told, "line", number(env, static_cast<double>(spot.line)));
    set(env, told, "column", number(env, static_cast<double>(spot.column)));
    return told;
}

napi_value file_notes_of(napi_env env, const filterspace_file_notes& notes) {
    napi_value told = object(env), counts = object(env), first = object(env);
    set(env, told, "bytes", number(env, static_cast<double>(notes.bytes)));
    set(env, told, "visible", number(env, static_cast<double>(notes.visible)));
    set(env, told, "complete", boolean(env, notes.complete != 0));
    set(env, told, "byteOrderMark", number(env, notes.byte_order_mark));
    const struct {
        const char* name;
        uint64_t count;
        const filterspace_spot& spot;
    } kinds[] = {{"high", notes.high, notes.first_high},
                 {"nul", notes.nul, notes.first_nul},
                 {"control", notes.control, notes.first_control},
                 {"del", notes.del, notes.first_del}};
    for (const auto& kind : kinds) {
        set(env, counts, kind.name, number(env, static_cast<double>(kind.count)));
        if (kind.count != 0) set(env, first, kind.name, spot_of(env, kind.spot));
    }
    set(env, told, "counts", counts);
    set(env, told, "first", first);
    return told;
}

// What a comparison that read both sides gives: same, the places where asked for, the notes.
napi_value result_of(napi_env env, filterspace_result result, const filterspace_places& places, bool placed,
                     const filterspace_notes* notes) {
    napi_value told = object(env);
    set(env, told, "same", boolean(env, result == FILTERSPACE_SAME));
    if (placed) {
        set(env, told, "output", place_of(env, places.output));
        set(env, told, "answer", place_of(env, places.answer));
    }
    if (notes != nullptr) {
        napi_value noted = object(env);
        set(env, noted, "output", file_notes_of(env, notes->output));
        set(env, noted, "answer", file_notes_of(env, notes->answer));
        set(env, noted, "tokenStartsDiffer", number(env, static_cast<double>(notes->token_starts_differ)));
        napi_value none = nullptr;
        napi_get_null(env, &none);
        const bool tokens = notes->token_starts_differ != 0;
        set(env, noted, "firstTokenOutput", tokens ? place_of(env, notes->first_token_output) : none);
        set(env, noted, "firstTokenAnswer", tokens ? place_of(env, notes->first_token_answer) : none);
        set(env, told, "notes", noted);
    }
    return told;
}

// The places a result carries: all of them (always), a difference's, or none.
bool placed(filterspace_places_wanted wanted, filterspace_result result) {
    return wanted == FILTERSPACE_PLACES_ALWAYS ||
           (wanted == FILTERSPACE_PLACES_ON_DIFFERENCE && result == FILTERSPACE_DIFFER);
}

// A failure as index.js makes Node's own kind of error of it: the errno, the call, the side, the
// path where the module opened the side (else null).
napi_value failure_of(napi_env env, int error, const char* syscall, const char* side, const char* path) {
    napi_value told = object(env);
    set(env, told, "errno", number(env, error));
    set(env, told, "syscall", text(env, syscall));
    set(env, told, "side", text(env, side));
    if (path != nullptr) set(env, told, "path", text(env, path));
    return told;
}

// ---- Arguments.

// The bytes of a Buffer, a typed array, an ArrayBuffer or a DataView, where they stand.
bool bytes_of(napi_env env, napi_value value, const void** data, size_t* size) {
    bool is = false;
    if (napi_is_typedarray(env, value, &is) == napi_ok && is) {
        napi_typedarray_type type;
        size_t length = 0, offset = 0;
        napi_value buffer = nullptr;
        void* at = nullptr;
        if (napi_get_typedarray_info(env, value, &type, &length, &at, &buffer, &offset) != napi_ok) return false;
        size_t element = 1;
        switch (type) {
            case napi_int16_array:
            case napi_uint16_array:
                element = 2;
                break;
            case napi_int32_array:
            case napi_uint32_array:
            case napi_float32_array:
                element = 4;
                break;
            case napi_float64_array:
            case napi_bigint64_array:
            case napi_biguint64_array:
                element = 8;
                break;
            default:
                break;
        }
        *data = at;
        *size = length * element;
        return true;
    }
    if (napi_is_dataview(env, value, &is) == napi_ok && is) {
        napi_value buffer = nullptr;
        size_t offset = 0;
        void* at = nullptr;
        if (napi_get_dataview_info(env, value, size, &at, &buffer, &offset) != napi_ok) return false;
        *data = at;
        return true;
    }
    if (napi_is_arraybuffer(env, value, &is) == napi_ok && is) {
        void* at = nullptr;
        if (napi_get_arraybuffer_info(env, value, &at, size) != napi_ok) return false;
        *data = at;
        return true;
    }
    return false;
}

int32_t int32_of(napi_env env, napi_value value) {
    int32_t got = 0;
    napi_get_value_int32(env, value, &got);
    return got;
}

std::string string_of(napi_env env, napi_value value) {
    size_t length = 0;
    if (napi_get_value_string_utf8(env, value, nullptr, 0, &length) != napi_ok) return {};
    std::string got(length, '\0');
    napi_get_value_string_utf8(env, value, &got[0], length + 1, &length);
    return got;
}

// A side of a comparison of files: a path (a string, opened and closed here) or a descriptor.
struct FileSide {
    bool named = false;  // a path, even an empty one (which fails to open, as fs says)
    std::string path;
    int fd = -1;
    bool owned = false;
};

FileSide file_side_of(napi_env env, napi_value value) {
    napi_valuetype type;
    napi_typeof(env, value, &type);
    FileSide side;
    if (type == napi_string) {
        side.named = true;
        side.path = string_of(env, value);
    } else {
        side.fd = int32_of(env, value);
    }
    return side;
}

// ---- Ending a comparison that waits: the library asks its stop function between reads and after
// a read that a signal interrupted, so an abort sets the flag and sends the worker thread a signal
// of the module's own, whose handler does nothing and is installed without SA_RESTART: a read or
// an open that waits returns EINTR, the stop function says stop. index.js sends it again every
// 10 ms until the work ends, since one that lands just before the read would be lost.

int wake_signal() { return SIGRTMIN + 5; }

void on_wake(int) {}

void install_wake_handler() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = on_wake;
        sigemptyset(&action.sa_mask);
        sigaction(wake_signal(), &action, nullptr);
    });
}

// What an abort reaches: the flag, and the worker thread while the work runs.
struct Abortable {
    std::atomic<bool> aborted{false};
    std::mutex mutex;
    bool running = false;
    pthread_t worker{};

    void wake() {
        aborted = true;
        const std::lock_guard<std::mutex> lock(mutex);
        if (running) pthread_kill(worker, wake_signal());
    }
    static int should_stop(void* context) { return static_cast<Abortable*>(context)->aborted.load() ? 1 : 0; }
};

// For as long as a worker thread runs the work: where the wake-up goes, and the signal let through.
class Running {
public:
    explicit Running(Abortable& abortable) : abortable_(abortable) {
        {
            const std::lock_guard<std::mutex> lock(abortable_.mutex);
            abortable_.running = true;
            abortable_.worker = pthread_self();
        }
        sigset_t wake;
        sigemptyset(&wake);
        sigaddset(&wake, wake_signal());
        pthread_sigmask(SIG_UNBLOCK, &wake, &before_);
    }
    ~Running() {
        {
            const std::lock_guard<std::mutex> lock(abortable_.mutex);
            abortable_.running = false;
        }
        pthread_sigmask(SIG_SETMASK, &before_, nullptr);  // a wake-up still pending is taken here
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    Abortable& abortable_;
    sigset_t before_{};
};

// Opens a path side for reading (a FIFO waits for its writer), unless an abort came; 0 or errno.
int open_side(FileSide& side, const Abortable* abortable) {
    if (!side.named) return 0;
    for (;;) {
        side.fd = open(side.path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        if (side.fd >= 0) break;
        if (errno != EINTR || (abortable != nullptr && abortable->aborted)) return errno;
    }
    side.owned = true;
    struct stat status {};
    if (fstat(side.fd, &status) == 0 && S_ISDIR(status.st_mode)) return EISDIR;  // read as empty otherwise
    return 0;
}

// ---- compare(output, answer, places, notes)

napi_value compare(napi_env env, napi_callback_info info) {
    size_t count = 4;
    napi_value args[4];
    NODE_CALL(napi_get_cb_info(env, info, &count, args, nullptr, nullptr));
    const void *out = nullptr, *ans = nullptr;
    size_t out_size = 0, ans_size = 0;
    if (count < 4 || !bytes_of(env, args[0], &out, &out_size) || !bytes_of(env, args[1], &ans, &ans_size)) {
        napi_throw_type_error(env, nullptr, "compare() takes two byte sequences");
        return nullptr;
    }
    filterspace_state* state = nullptr;
    NODE_CALL(napi_get_instance_data(env, reinterpret_cast<void**>(&state)));
    bool with_notes = false;
    napi_get_value_bool(env, args[3], &with_notes);
    filterspace_notes notes{};
    const filterspace_options options{sizeof options, static_cast<filterspace_places_wanted>(int32_of(env, args[2])),
                                      with_notes ? &notes : nullptr, nullptr, nullptr};
    filterspace_places places{};
    const filterspace_result result =
        filterspace_compare_buffers_with(state, out, out_size, ans, ans_size, &places, &options);
    return result_of(env, result, places, placed(options.places, result), with_notes ? &notes : nullptr);
}

// ---- compareFiles(output, answer, places, notes) and compareFilesSync(...)

// A comparison of files: what it was given, and what came of it.
struct FileJob {
    Abortable abortable;
    FileSide out, ans;
    filterspace_places_wanted wanted = FILTERSPACE_PLACES_ON_DIFFERENCE;
    bool with_notes = false;
    filterspace_result result = FILTERSPACE_SAME;
    filterspace_places places{};
    filterspace_notes notes{};
    int error = 0;
    const char* syscall = "";
    const char* side = "";
    napi_async_work work = nullptr;
    napi_deferred deferred = nullptr;
    int holders = 2;  // the work, until it completes, and the handle index.js holds, until collected

    void run() {
        for (FileSide* file : {&out, &ans}) {
            error = open_side(*file, &abortable);
            if (error != 0) {
                syscall = "open";
                side = file == &out ? "output" : "answer";
                break;
            }
        }
        filterspace_state* state = error == 0 ? filterspace_state_new() : nullptr;
        if (error == 0 && state == nullptr) error = ENOMEM, syscall = "malloc", side = "output";
        if (state != nullptr) {
            const filterspace_options options{sizeof options, wanted, with_notes ? &notes : nullptr,
                                              Abortable::should_stop, &abortable};
            result = filterspace_compare_fds_with(state, out.fd, ans.fd, &places, &options);
            error = result == FILTERSPACE_SAME || result == FILTERSPACE_DIFFER ? 0 : errno;
            syscall = "read";
            side = result == FILTERSPACE_OUTPUT_UNREADABLE ? "output" : "answer";
            filterspace_state_free(state);
        }
        for (FileSide* file : {&out, &ans})
            if (file->owned) close(file->fd);
    }

    // What index.js receives: {result}, {aborted: true} or {error}.
    napi_value outcome(napi_env env) const {
        napi_value told = object(env);
        if (abortable.aborted && (error == EINTR || result == FILTERSPACE_STOPPED)) {
            set(env, told, "aborted", boolean(env, true));
        } else if (error != 0) {
            const FileSide& failed = side[0] == 'o' ? out : ans;
            set(env, told, "error",
                failure_of(env, error, syscall, side, failed.named ? failed.path.c_str() : nullptr));
        } else {
            set(env, told, "result",
                result_of(env, result, places, placed(wanted, result), with_notes ? &notes : nullptr));
        }
        return told;
    }

    static void let_go(FileJob* job) {
        if (--job->holders == 0) delete job;
    }
};

FileJob* file_job_of(napi_env env, napi_value* args) {
    auto* job = new FileJob;
    job->out = file_side_of(env, args[0]);
    job->ans = file_side_of(env, args[1]);
    job->wanted = static_cast<filterspace_places_wanted>(int32_of(env, args[2]));
    napi_get_value_bool(env, args[3], &job->with_notes);
    return job;
}

napi_value compare_files_sync(napi_env env, napi_callback_info info) {
    size_t count = 4;
    napi_value args[4];
    NODE_CALL(napi_get_cb_info(env, info, &count, args, nullptr, nullptr));
    FileJob* job = file_job_of(env, args);
    job->run();
    napi_value told = job->outcome(env);
    delete job;
    return told;
}

void run_file_job(napi_env, void* data) {
    auto* job = static_cast<FileJob*>(data);
    const Running running(job->abortable);
    job->run();
}

void complete_file_job(napi_env env, napi_status, void* data) {
    auto* job = static_cast<FileJob*>(data);
    napi_resolve_deferred(env, job->deferred, job->outcome(env));
    napi_delete_async_work(env, job->work);
    FileJob::let_go(job);
}

// Returns {promise, handle}: the promise settles with what outcome() tells; abort(handle) ends it.
napi_value compare_files(napi_env env, napi_callback_info info) {
    size_t count = 4;
    napi_value args[4];
    NODE_CALL(napi_get_cb_info(env, info, &count, args, nullptr, nullptr));
    install_wake_handler();
    FileJob* job = file_job_of(env, args);
    napi_value promise = nullptr, handle = nullptr, name = text(env, "filterspace.compareFiles");
    NODE_CALL(napi_create_promise(env, &job->deferred, &promise));
    NODE_CALL(napi_create_external(
        env, job, [](napi_env, void* data, void*) { FileJob::let_go(static_cast<FileJob*>(data)); }, nullptr, &handle));
    NODE_CALL(napi_create_async_work(env, nullptr, name, run_file_job, complete_file_job, job, &job->work));
    NODE_CALL(napi_queue_async_work(env, job->work));
    napi_value told = object(env);
    set(env, told, "promise", promise);
    set(env, told, "handle", handle);
    return told;
}

napi_value abort_file_job(napi_env env, napi_callback_info info) {
    size_t count = 1;
    napi_value args[1];
    NODE_CALL(napi_get_cb_info(env, info, &count, args, nullptr, nullptr));
    void* data = nullptr;
    NODE_CALL(napi_get_value_external(env, args[0], &data));
    auto* job = static_cast<FileJob*>(data);
    if (job->holders == 2) job->abortable.wake();  // still running: its work holds it
    return nullptr;
}

// ---- Streams: streamCreate(answer, places), streamWrite(stream, chunk, callback),
// streamFinish(stream, callback), streamAbort(stream), streamDiffers(stream), streamFed(stream).

struct Stream {
    Abortable abortable;
    filterspace_state* state = filterspace_state_new();
    filterspace_places_wanted wanted = FILTERSPACE_PLACES_ON_DIFFERENCE;
    FileSide answer_file;             // an answer by path or descriptor
    napi_ref answer_bytes = nullptr;  // an answer in memory, held while the stream lives
    bool begun = false;
    bool in_memory = false;
    // The work in flight: its chunk, held until it completes, and what came of it.
    napi_async_work work = nullptr;
    napi_ref chunk = nullptr, callback = nullptr;
    const void* chunk_data = nullptr;
    size_t chunk_size = 0;
    bool finishing = false;
    filterspace_result result = FILTERSPACE_SAME;
    filterspace_places places{};
    int error = 0;
    const char* syscall = "read";

    // Opens the answer where it is a path, and begins; false (error set) where that failed.
    bool begin() {
        if (begun) return true;
        error = open_side(answer_file, &abortable);
        if (error != 0) {
            syscall = "open";
            return false;
        }
        const filterspace_answer answer{FILTERSPACE_ANSWER_FD, answer_file.fd, nullptr, 0, nullptr, nullptr};
        const filterspace_options options{sizeof options, wanted, nullptr, Abortable::should_stop, &abortable};
        begun = filterspace_stream_begin_with(state, &answer, &options) == 0;
        if (!begun) error = errno;
        return begun;
    }

    // Feeds the chunk, or finishes; the result kept in `result`, an error in `error`.
    void run() {
        if (!begin()) return;
        if (finishing) {
            result = filterspace_stream_finish(state, &places);
        } else {
            result = filterspace_stream_feed(state, chunk_data, chunk_size);
        }
        error = result == FILTERSPACE_SAME || result == FILTERSPACE_DIFFER ? 0 : errno;
        syscall = "read";
    }

    // A feed that reads nothing: the answer is in memory, or a result is kept already.
    bool runs_here() const { return in_memory || (begun && filterspace_stream_differs(state) == 1); }

    ~Stream() {
        filterspace_state_free(state);
        if (answer_file.owned) close(answer_file.fd);
    }
};

// Calls back the stream's callback with (error) or (null, result).
void call_back(napi_env env, Stream& stream) {
    napi_value callback = nullptr, global = nullptr, args[2];
    napi_get_reference_value(env, stream.callback, &callback);
    napi_get_global(env, &global);
    napi_get_null(env, &args[0]);
    napi_get_null(env, &args[1]);
    if (stream.abortable.aborted && stream.error == EINTR) {
        args[0] = object(env);
        set(env, args[0], "aborted", boolean(env, true));
    } else if (stream.error != 0) {
        args[0] = failure_of(env, stream.error, stream.syscall, "answer",
                             stream.answer_file.named ? stream.answer_file.path.c_str() : nullptr);
    } else if (stream.finishing) {
        args[1] = result_of(env, stream.result, stream.places, placed(stream.wanted, stream.result), nullptr);
    }
    napi_delete_reference(env, stream.callback);
    stream.callback = nullptr;
    if (stream.chunk != nullptr) napi_delete_reference(env, stream.chunk);
    stream.chunk = nullptr;
    napi_call_function(env, global, callback, 2, args, nullptr);
}

void run_stream_work(napi_env, void* data) {
    auto* stream = static_cast<Stream*>(data);
    const Running running(stream->abortable);
    stream->run();
}

void complete_stream_work(napi_env env, napi_status, void* data) {
    auto* stream = static_cast<Stream*>(data);
    napi_delete_async_work(env, stream->work);
    stream->work = nullptr;
    call_back(env, *stream);
}

Stream* stream_of(napi_env env, napi_value handle) {
    void* data = nullptr;
    napi_get_value_external(env, handle, &data);
    return static_cast<Stream*>(data);
}

napi_value stream_create(napi_env env, napi_callback_info info) {
    size_t count = 2;
    napi_value args[2];
    NODE_CALL(napi_get_cb_info(env, info, &count, args, nullptr, nullptr));
    install_wake_handler();
    auto* stream = new Stream;
    if (stream->state == nullptr) {
        delete stream;
        napi_throw_error(env, "ENOMEM", "filterspace: cannot allocate a comparison's memory");
        return nullptr;
    }
    stream->wanted = static_cast<filterspace_places_wanted>(int32_of(env, args[1]));
    const void* bytes = nullptr;
    size_t size = 0;
    if (bytes_of(env, args[0], &bytes, &size)) {
        napi_create_reference(env, args[0], 1, &stream->answer_bytes);
        const filterspace_answer answer{FILTERSPACE_ANSWER_BUFFER, -1, bytes, size, nullptr, nullptr};
        const filterspace_options options{sizeof options, stream->wanted, nullptr, nullptr, nullptr};
        stream->begun = filterspace_stream_begin_with(stream->state, &answer, &options) == 0;
        stream->in_memory = true;
    } else {
        stream->answer_file = file_side_of(env, args[0]);
    }
    napi_value handle = nullptr;
    NODE_CALL(napi_create_external(
        env, stream,
        [](napi_env finalizing, void* data, void*) {
            auto* ending = static_cast<Stream*>(data);
            if (ending->answer_bytes != nullptr) napi_delete_reference(finalizing, ending->answer_bytes);
            delete ending;
        },
        nullptr, &handle));
    return handle;
}

// Feeds a chunk (finishing: ends the output) and calls back, at once where nothing is read.
napi_value stream_run(napi_env env, napi_callback_info info, bool finishing) {
    size_t count = 3;
    napi_value args[3];
    NODE_CALL(napi_get_cb_info(env, info, &count, args, nullptr, nullptr));
    Stream& stream = *stream_of(env, args[0]);
    napi_value callback = args[finishing ? 1 : 2];
    stream.finishing = finishing;
    if (!finishing && !bytes_of(env, args[1], &stream.chunk_data, &stream.chunk_size)) {
        napi_throw_type_error(env, nullptr, "a stream takes byte chunks");
        return nullptr;
    }
    NODE_CALL(napi_create_reference(env, callback, 1, &stream.callback));
    if (stream.runs_here()) {
        stream.run();
        call_back(env, stream);
        return nullptr;
    }
    if (!finishing) NODE_CALL(napi_create_reference(env, args[1], 1, &stream.chunk));
    NODE_CALL(napi_create_async_work(env, nullptr, text(env, "filterspace.stream"), run_stream_work,
                                     complete_stream_work, &stream, &stream.work));
    NODE_CALL(napi_queue_async_work(env, stream.work));
    return nullptr;
}

napi_value stream_write(napi_env env, napi_callback_info info) { return stream_run(env, info, false); }
napi_value stream_finish(napi_env env, napi_callback_info info) { return stream_run(env, info, true); }

napi_value stream_abort(napi_env env, napi_callback_info info) {
    size_t count = 1;
    napi_value args[1];
    NODE_CALL(napi_get_cb_info(env, info, &count, args, nullptr, nullptr));
    stream_of(env, args[0])->abortable.wake();
    return nullptr;
}

napi_value stream_differs(napi_env env, napi_callback_info info) {
    size_t count = 1;
    napi_value args[1];
    NODE_CALL(napi_get_cb_info(env, info, &count, args, nullptr, nullptr));
    const Stream& stream = *stream_of(env, args[0]);
    return boolean(env, stream.begun && filterspace_stream_differs(stream.state) == 1);
}

napi_value stream_fed(napi_env env, napi_callback_info info) {
    size_t count = 1;
    napi_value args[1];
    NODE_CALL(napi_get_cb_info(env, info, &count, args, nullptr, nullptr));
    return number(env, static_cast<double>(filterspace_stream_fed(stream_of(env, args[0])->state)));
}

}  // namespace

NAPI_MODULE_INIT() {
    filterspace_state* state = filterspace_state_new();  // compare()'s, on the main thread
    if (state == nullptr ||
        napi_set_instance_data(
            env, state,
            [](napi_env, void* data, void*) { filterspace_state_free(static_cast<filterspace_state*>(data)); },
            nullptr) != napi_ok) {
        napi_throw_error(env, nullptr, "filterspace: cannot allocate a comparison's memory");
        return nullptr;
    }
    const napi_property_descriptor functions[] = {
        {"compare", nullptr, compare, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"compareFiles", nullptr, compare_files, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"compareFilesSync", nullptr, compare_files_sync, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"abort", nullptr, abort_file_job, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"streamCreate", nullptr, stream_create, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"streamWrite", nullptr, stream_write, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"streamFinish", nullptr, stream_finish, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"streamAbort", nullptr, stream_abort, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"streamDiffers", nullptr, stream_differs, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"streamFed", nullptr, stream_fed, nullptr, nullptr, nullptr, napi_default, nullptr},
    };
    napi_define_properties(env, exports, sizeof functions / sizeof functions[0], functions);
    set(env, exports, "version", text(env, filterspace_version()));
    return exports;
}
