// The Python module: filterspace.compare() on two bytes-like objects, read where they stand
// through the buffer protocol, and filterspace.compare_files() on paths or descriptors, streamed.
// The GIL is released while comparing; each thread keeps a state of its own.
#include <fcntl.h>
#include <filterspace/filterspace.h>
#include <poll.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

struct Place {
    uint64_t visible_byte, offset, line, column;
    bool at_end;
};

struct Spot {
    uint64_t offset, line, column;
};

// What the rule ignored in one file, as the library tells it: counts and first places by kind.
struct FileNotes {
    uint64_t bytes, visible;
    bool complete;
    int byte_order_mark;
    std::map<std::string, uint64_t> counts;
    std::map<std::string, Spot> first;
};

struct Notes {
    FileNotes output, answer;
    uint64_t token_starts_differ;
    std::optional<Place> first_token_output, first_token_answer;
};

// The places only for a difference: counting lines costs a pass over every byte, which a
// comparison that finds none need not pay. The notes only on request.
struct Result {
    bool same;
    std::optional<Place> output, answer;
    std::optional<Notes> notes;
};

Place place_of(const filterspace_place& place) {
    return {place.visible_byte, place.offset, place.line, place.column, place.at_end != 0};
}

FileNotes file_notes_of(const filterspace_file_notes& notes) {
    FileNotes file{notes.bytes, notes.visible, notes.complete != 0, notes.byte_order_mark, {}, {}};
    const std::pair<const char*, std::pair<uint64_t, filterspace_spot>> kinds[] = {
        {"high", {notes.high, notes.first_high}},
        {"nul", {notes.nul, notes.first_nul}},
        {"control", {notes.control, notes.first_control}},
        {"del", {notes.del, notes.first_del}}};
    for (const auto& [kind, count_and_first] : kinds) {
        const auto& [count, first] = count_and_first;
        file.counts[kind] = count;
        if (count != 0) file.first[kind] = {first.offset, first.line, first.column};
    }
    return file;
}

std::optional<Notes> notes_of(const filterspace_notes* notes) {
    if (notes == nullptr) return std::nullopt;
    Notes told{file_notes_of(notes->output), file_notes_of(notes->answer), notes->token_starts_differ, {}, {}};
    if (notes->token_starts_differ != 0) {
        told.first_token_output = place_of(notes->first_token_output);
        told.first_token_answer = place_of(notes->first_token_answer);
    }
    return told;
}

// This thread's state, made on its first comparison and kept: too large to make per call.
filterspace_state* thread_state() {
    struct Free {
        void operator()(filterspace_state* state) const { filterspace_state_free(state); }
    };
    thread_local std::unique_ptr<filterspace_state, Free> state(filterspace_state_new());
    if (state == nullptr) throw std::bad_alloc();
    return state.get();
}

// An OSError whose filename is the side's path or object, as Python's own are.
[[noreturn]] void raise_os_error(int error, const std::string& message, const py::object& name) {
    PyErr_SetObject(PyExc_OSError, py::make_tuple(error, message + ": " + strerror(error), name).ptr());
    throw py::error_already_set();
}

// error: the failed read's errno, for an unreadable side.
Result result_of(filterspace_result result, int error, const filterspace_places* places, const py::object& output_name,
                 const py::object& answer_name, const filterspace_notes* notes) {
    if (result == FILTERSPACE_OUTPUT_UNREADABLE) raise_os_error(error, "cannot read the output", output_name);
    if (result == FILTERSPACE_ANSWER_UNREADABLE) raise_os_error(error, "cannot read the answer", answer_name);
    if (result == FILTERSPACE_SAME || places == nullptr)
        return {result == FILTERSPACE_SAME, std::nullopt, std::nullopt, notes_of(notes)};
    return {false, place_of(places->output), place_of(places->answer), notes_of(notes)};
}

// A contiguous view of a bytes-like object; a str has none and raises TypeError.
class View {
public:
    View(const py::handle& object, const char* side) {
        if (PyUnicode_Check(object.ptr()))
            throw py::type_error(std::string(side) +
                                 " must be bytes-like, not str (a file name goes to compare_files)");
        if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    }
    ~View() { PyBuffer_Release(&view_); }
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    const void* data() const { return view_.buf; }
    size_t size() const { return static_cast<size_t>(view_.len); }

private:
    Py_buffer view_{};
};

Result compare(const py::handle& output, const py::handle& answer, bool with_notes) {
    const View out(output, "output"), ans(answer, "answer");
    filterspace_state* state = thread_state();
    filterspace_places places{};
    filterspace_notes notes{};
    filterspace_result result;
    {
        // The places only on a difference, in one call; with the notes, both in one pass.
        const py::gil_scoped_release unlocked;
        const filterspace_options options{sizeof options, FILTERSPACE_PLACES_ON_DIFFERENCE,
                                          with_notes ? &notes : nullptr, nullptr, nullptr};
        result =
            filterspace_compare_buffers_with(state, out.data(), out.size(), ans.data(), ans.size(), &places, &options);
    }
    return result_of(result, 0, &places, py::none(), py::none(), with_notes ? &notes : nullptr);
}

// The interpreter's main thread, the only one that runs Python's signal handlers.
unsigned long main_thread_id = 0;

// Asked by a comparison between blocks: whether a Python signal handler raised (Ctrl-C's
// KeyboardInterrupt), which then ends the comparison. Only the main thread runs handlers. The
// GIL is taken after every interrupted read or wait, when a signal has just arrived, and
// otherwise at most every 10 ms, so that threads comparing at once do not queue for it.
struct SignalCheck {
    bool main_thread = PyThread_get_thread_ident() == main_thread_id;
    std::chrono::steady_clock::time_point next{};
    bool raised = false;  // a handler raised: its exception is set, to be thrown with the GIL
};

int python_signal_raised(void* context) {
    auto& check = *static_cast<SignalCheck*>(context);
    if (!check.main_thread) return 0;
    const bool interrupted = errno == EINTR;
    const auto now = std::chrono::steady_clock::now();
    if (!interrupted && now < check.next) return 0;
    check.next = now + std::chrono::milliseconds(10);
    const py::gil_scoped_acquire locked;
    check.raised = PyErr_CheckSignals() != 0;
    return check.raised ? 1 : 0;
}

// A descriptor number, as Python's int: a bool is refused (True is no descriptor), and one out of
// the C range raises OverflowError.
int descriptor_of(const py::handle& number, const char* side) {
    if (PyBool_Check(number.ptr()))
        throw py::type_error(std::string(side) + " must be a path, a descriptor or a binary file, not bool");
    int overflow = 0;
    const long value = PyLong_AsLongAndOverflow(number.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred() != nullptr) throw py::error_already_set();
    if (overflow != 0 || value < INT_MIN || value > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, (std::string(side) + " descriptor out of range").c_str());
        throw py::error_already_set();
    }
    return static_cast<int>(value);
}

// How much an object is asked for at a time: the engine's block.
constexpr size_t read_size = size_t{256} << 10;

// An object read through its readinto() (or read()), with the GIL, into a buffer of the reader's
// own (which the object may keep: the engine's block is never exposed to it): the library's
// reader function. An exception that the object raises is kept, to be raised again.
class ObjectReader {
public:
    explicit ObjectReader(const py::handle& object)
        : object_(py::reinterpret_borrow<py::object>(object)),
          buffer_(py::reinterpret_steal<py::object>(
              PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(read_size)))) {
        if (!buffer_) throw py::error_already_set();
    }

    static long read(void* context, void* into, size_t size) {
        auto& reader = *static_cast<ObjectReader*>(context);
        const py::gil_scoped_acquire locked;
        try {
            const size_t wanted = std::min(size, read_size);
            size_t count = 0;
            if (py::hasattr(reader.object_, "readinto")) {
                const py::object view =
                    py::reinterpret_steal<py::object>(PyMemoryView_FromObject(reader.buffer_.ptr()));
                if (!view) throw py::error_already_set();
                const py::object got =
                    reader.object_.attr("readinto")(view[py::slice(0, static_cast<py::ssize_t>(wanted), 1)]);
                if (got.is_none()) throw py::value_error("readinto() returned None (no data yet)");
                const long long told = got.cast<long long>();
                if (told < 0 || static_cast<size_t>(told) > wanted)
                    throw py::value_error("readinto() returned " + std::to_string(told));
                count = static_cast<size_t>(told);
                memcpy(into, PyByteArray_AsString(reader.buffer_.ptr()), count);
            } else {
                const py::object got = reader.object_.attr("read")(wanted);
                if (got.is_none()) throw py::value_error("read() returned None (no data yet)");
                if (PyUnicode_Check(got.ptr()))
                    throw py::type_error("read() returned str: open the file in binary mode");
                Py_buffer bytes{};
                if (PyObject_GetBuffer(got.ptr(), &bytes, PyBUF_SIMPLE) != 0) throw py::error_already_set();
                count = static_cast<size_t>(bytes.len);
                if (count <= wanted) memcpy(into, bytes.buf, count);
                PyBuffer_Release(&bytes);
                if (count > wanted) throw py::value_error("read() returned more than was asked for");
            }
            return static_cast<long>(count);
        } catch (py::error_already_set& error) {
            reader.error_ = error.value();
        } catch (const std::exception& error) {
            reader.error_ =
                py::reinterpret_steal<py::object>(PyObject_CallFunction(PyExc_ValueError, "s", error.what()));
        }
        errno = EIO;
        return -1;
    }

    // With the GIL: raises what the object raised, if it did.
    void raise_if_failed() const {
        if (!error_) return;
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error_.ptr())), error_.ptr());
        throw py::error_already_set();
    }

private:
    py::object object_, buffer_, error_;
};

// Whether an object's bytes are its descriptor's: a raw file, or a buffered one over a raw file.
// Any other (a gzip, bz2 or lzma file, whose descriptor is its compressed file's and whose
// position is in its uncompressed bytes) is read through its readinto().
bool bytes_are_its_descriptors(const py::handle& object, const py::module_& io) {
    if (py::isinstance(object, io.attr("FileIO"))) return true;
    return (py::isinstance(object, io.attr("BufferedReader")) || py::isinstance(object, io.attr("BufferedRandom"))) &&
           py::isinstance(object.attr("raw"), io.attr("FileIO"));
}

// One side of compare_files: an integer descriptor (used as it is, from its offset, which the
// comparison moves); a file whose bytes are its descriptor's, compared from the position it
// reports (tell()), the descriptor's offset put back afterwards, so that the object's own buffer
// stays right; any other object with readinto() or read(), read through it from where it stands;
// or a path (str, bytes or os.PathLike), opened without the GIL and closed after.
class Input {
public:
    Input(const py::handle& source, const char* side) : side_(side), name_(py::reinterpret_borrow<py::object>(source)) {
        const py::module_ io = py::module_::import("io");
        const bool named =
            PyUnicode_Check(source.ptr()) || PyBytes_Check(source.ptr()) || py::hasattr(source, "__fspath__");
        if (PyLong_Check(source.ptr())) {
            fd_ = descriptor_of(source, side);
        } else if (!named && py::isinstance(source, io.attr("TextIOBase"))) {
            throw py::type_error(std::string(side) +
                                 " is a text file, whose position is no byte offset: pass its .buffer");
        } else if (!named && bytes_are_its_descriptors(source, io)) {
            fd_ = descriptor_of(source.attr("fileno")(), side);
            // Read from where the object says it stands. An unbuffered file that cannot tell (a
            // pipe) stands where its descriptor does; a buffered one may hold bytes in its buffer
            // that its descriptor has passed.
            position_ = position_of(source, !py::isinstance(source, io.attr("FileIO")));
        } else if (!named && (py::hasattr(source, "readinto") || py::hasattr(source, "read"))) {
            object_ = std::make_unique<ObjectReader>(source);
        } else if (!named && py::hasattr(source, "fileno")) {
            fd_ = descriptor_of(source.attr("fileno")(), side);  // a socket, say: its descriptor's bytes
            position_ = position_of(source, true);
        } else {
            path_ = py::module_::import("os").attr("fsencode")(source).cast<std::string>();
        }
    }
    ~Input() {
        if (owned_) close(fd_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // Without the GIL: opens a path (a FIFO may wait for its writer), retrying after a signal
    // unless a Python handler raised. 0, or the errno of the failure (EINTR: a handler raised).
    int open_path(SignalCheck& signals) {
        if (path_.empty()) return 0;  // a descriptor (which may be -1: unreadable), or an object
        for (;;) {
            fd_ = open(path_.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
            if (fd_ >= 0) {
                owned_ = true;
                return 0;
            }
            const int error = errno;
            if (error != EINTR) return error;
            if (python_signal_raised(&signals) != 0) return EINTR;
        }
    }
    bool is_path() const { return !path_.empty(); }

    // Without the GIL: puts the descriptor where the comparison starts, and tells that offset
    // (-1 where it cannot seek: a pipe, compared once). 0, or the errno of a position that
    // cannot be reached.
    int start(off_t& offset) {
        if (position_ >= 0) {
            restore_ = lseek(fd_, 0, SEEK_CUR);
            offset = restore_ >= 0 ? lseek(fd_, position_, SEEK_SET) : -1;
            return offset == position_ ? 0 : errno != 0 ? errno : ESPIPE;
        }
        offset = lseek(fd_, 0, SEEK_CUR);
        return 0;
    }
    // The descriptor's offset as the object left it, for a file object.
    void put_back() const {
        if (restore_ >= 0) (void)lseek(fd_, restore_, SEEK_SET);
    }

    int fd() const { return fd_; }
    ObjectReader* object() const { return object_.get(); }
    const char* side() const { return side_; }
    const py::object& name() const { return name_; }
    off_t position() const { return position_; }

private:
    // The position the object tells; -1 where it cannot and need not.
    static off_t position_of(const py::handle& file, bool needed) {
        try {
            const long long position = file.attr("tell")().cast<long long>();
            if (position >= 0) return static_cast<off_t>(position);
        } catch (py::error_already_set&) {
        } catch (py::cast_error&) {
        }
        if (!needed) return -1;
        throw py::value_error(
            "cannot tell where the file object stands (not seekable: a pipe?), so its buffer may hold "
            "bytes its descriptor has passed: pass its fileno() to compare from the descriptor's offset");
    }

    const char* side_;
    py::object name_;
    std::string path_;
    int fd_ = -1;
    bool owned_ = false;
    off_t position_ = -1;  // a file object's position, where it is compared from
    off_t restore_ = -1;   // the descriptor's offset to put back after
    std::unique_ptr<ObjectReader> object_;
};

// What has arrived of a descriptor, as the library reads one: a non-blocking one is waited for,
// and a read or a wait that a signal interrupted is retried, unless a Python handler raised
// (then -1 with errno EINTR).
long read_arrived(int fd, void* into, size_t size, SignalCheck& signals) {
    for (;;) {
        const ssize_t got = read(fd, into, size);
        if (got >= 0) return static_cast<long>(got);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd ready{fd, POLLIN, 0};
            if (poll(&ready, 1, -1) >= 0) continue;
        }
        if (errno != EINTR) return -1;
        if (python_signal_raised(&signals) != 0) {
            errno = EINTR;
            return -1;
        }
    }
}

// A side as a stream's answer: its object, or its descriptor.
filterspace_answer answer_of(const Input& input) {
    if (input.object() != nullptr)
        return {FILTERSPACE_ANSWER_READER, -1, nullptr, 0, ObjectReader::read, input.object()};
    return {FILTERSPACE_ANSWER_FD, input.fd(), nullptr, 0, nullptr, nullptr};
}

// compare_files where a side is read through its object: the output handed, a block at a time,
// to a stream against the answer (its descriptor, or its object), until the first difference.
// Both are read once; the places of a difference are counted on the way. With the GIL released,
// which an object's reads take again.
filterspace_result compare_through_a_stream(filterspace_state* state, Input& out, Input& ans, SignalCheck& signals,
                                            filterspace_places& places, int& out_error) {
    const filterspace_answer answer = answer_of(ans);
    const filterspace_options options{sizeof options, FILTERSPACE_PLACES_ON_DIFFERENCE, nullptr, python_signal_raised,
                                      &signals};
    const int begun = filterspace_stream_begin_with(state, &answer, &options);
    if (begun != 0) return FILTERSPACE_ANSWER_UNREADABLE;
    std::vector<uint8_t> block(read_size);
    for (;;) {
        const long got = out.object() != nullptr ? ObjectReader::read(out.object(), block.data(), block.size())
                                                 : read_arrived(out.fd(), block.data(), block.size(), signals);
        if (got < 0) {
            out_error = errno;
            (void)filterspace_stream_finish(state, nullptr);
            return FILTERSPACE_OUTPUT_UNREADABLE;
        }
        const filterspace_result result =
            got == 0 ? FILTERSPACE_SAME : filterspace_stream_feed(state, block.data(), static_cast<size_t>(got));
        if (got == 0 || result != FILTERSPACE_SAME) return filterspace_stream_finish(state, &places);
    }
}

Result compare_files(const py::handle& output, const py::handle& answer, bool with_notes) {
    Input out(output, "output"), ans(answer, "answer");
    const bool streamed = out.object() != nullptr || ans.object() != nullptr;
    if (streamed && with_notes)
        throw py::value_error(
            "notes=True needs both sides as paths, descriptors or files whose bytes are their "
            "descriptors'; an object read through readinto() has none");
    filterspace_state* state = thread_state();
    SignalCheck signals;
    filterspace_places places{};
    filterspace_notes notes{};
    filterspace_result result = FILTERSPACE_SAME;
    Input* unopened = nullptr;
    Input* unplaced = nullptr;
    int error = 0, out_error = 0;
    {
        const py::gil_scoped_release unlocked;
        off_t out_start = -1, ans_start = -1;
        for (Input* input : {&out, &ans})
            if (error == 0 && (error = input->open_path(signals)) != 0) unopened = input;
        if (error == 0 && (error = out.start(out_start)) != 0) unplaced = &out;
        if (error == 0 && (error = ans.start(ans_start)) != 0) unplaced = &ans;
        if (error == 0 && streamed) {
            result = compare_through_a_stream(state, out, ans, signals, places, out_error);
            error = errno;
        } else if (error == 0) {
            // The places only on a difference, in one call (files that can be read again are read
            // again for them, pipes counted as they go by); with the notes, both in one pass.
            const filterspace_options options{sizeof options, FILTERSPACE_PLACES_ON_DIFFERENCE,
                                              with_notes ? &notes : nullptr, python_signal_raised, &signals};
            result = filterspace_compare_fds_with(state, out.fd(), ans.fd(), &places, &options);
            error = errno;
        }
        out.put_back();
        ans.put_back();
    }
    if (signals.raised) throw py::error_already_set();
    for (const Input* input : {&out, &ans})
        if (input->object() != nullptr) input->object()->raise_if_failed();
    if (result == FILTERSPACE_OUTPUT_UNREADABLE && streamed)
        raise_os_error(out_error, "cannot read the output", out.name());
    if (unopened != nullptr)
        raise_os_error(error, std::string("cannot open the ") + unopened->side(), unopened->name());
    if (unplaced != nullptr)
        throw py::value_error(std::string("cannot compare the ") + unplaced->side() + " from its position " +
                              std::to_string(unplaced->position()) + ": " + strerror(error));
    return result_of(result, error, &places, out.name(), ans.name(), with_notes ? &notes : nullptr);
}

// Chunks from this size on are compared without the GIL: below it, releasing and taking it
// back would cost more than the comparison.
constexpr size_t unlocked_chunk = size_t{16} << 10;

// A comparison to which the output is written as it arrives, against an answer given as a
// bytes-like object, a path, a descriptor, a file whose bytes are its descriptor's, or an object
// read through readinto() (a member of a zip file, a gzip file). Each stream has a state of its own.
class Stream {
public:
    Stream(const py::handle& answer, bool places) : answer_name_(py::reinterpret_borrow<py::object>(answer)) {
        const filterspace_options options{sizeof options,
                                          places ? FILTERSPACE_PLACES_ON_DIFFERENCE : FILTERSPACE_PLACES_NEVER, nullptr,
                                          python_signal_raised, &signals_};
        state_.reset(filterspace_state_new());
        if (state_ == nullptr) throw std::bad_alloc();
        filterspace_answer told{};
        if (PyObject_CheckBuffer(answer.ptr()) && !PyUnicode_Check(answer.ptr())) {
            answer_view_.emplace(answer, "answer");
            told = {FILTERSPACE_ANSWER_BUFFER, -1, answer_view_->data(), answer_view_->size(), nullptr, nullptr};
        } else if ((answer_file_ = std::make_unique<Input>(answer, "answer"))->object() != nullptr) {
            told = answer_of(*answer_file_);
        } else {
            int error = 0;
            off_t offset = -1;
            {
                const py::gil_scoped_release unlocked;
                error = answer_file_->open_path(signals_);
                if (error == 0) error = answer_file_->start(offset);
            }
            if (signals_.raised) throw py::error_already_set();
            if (error != 0) {
                if (answer_file_->is_path()) raise_os_error(error, "cannot open the answer", answer_name_);
                throw py::value_error("cannot compare the answer from its position " +
                                      std::to_string(answer_file_->position()) + ": " + strerror(error));
            }
            told = answer_of(*answer_file_);
        }
        if (filterspace_stream_begin_with(state_.get(), &told, &options) != 0)
            throw std::runtime_error("cannot begin the stream");
        places_ = places;
    }
    ~Stream() { release(); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Compares the chunk as far as it goes; its size, as a file's write() returns.
    size_t write(const py::handle& chunk) {
        if (PyUnicode_Check(chunk.ptr()))
            throw py::type_error("write() takes bytes-like chunks, not str: the output is compared as bytes");
        const View bytes(chunk, "chunk");
        Busy busy(*this);
        filterspace_result result;
        signals_ = SignalCheck{};
        if (bytes.size() >= unlocked_chunk || answer_file_ != nullptr) {
            const py::gil_scoped_release unlocked;
            result = filterspace_stream_feed(state_.get(), bytes.data(), bytes.size());
        } else {
            result = filterspace_stream_feed(state_.get(), bytes.data(), bytes.size());
        }
        if (result != FILTERSPACE_SAME && result != FILTERSPACE_DIFFER) fail(errno);
        return bytes.size();
    }

    // Read from the library while the stream is open; once it ended, what it ended with.
    bool differs() const {
        if (result_.has_value()) return !result_->same;
        return state_ != nullptr && filterspace_stream_differs(state_.get()) == 1;
    }
    uint64_t fed() const { return state_ != nullptr ? filterspace_stream_fed(state_.get()) : fed_at_end_; }

    // The output has ended: the result, as compare() gives it. Called again, the same result.
    Result finish() {
        if (result_.has_value()) return *result_;
        Busy busy(*this);
        filterspace_places places{};
        filterspace_result result;
        signals_ = SignalCheck{};
        fed_at_end_ = filterspace_stream_fed(state_.get());
        {
            const py::gil_scoped_release unlocked;
            result = filterspace_stream_finish(state_.get(), &places);
        }
        const int error = errno;
        if (result != FILTERSPACE_SAME && result != FILTERSPACE_DIFFER) fail(error);
        result_ = result_of(result, 0, places_ ? &places : nullptr, py::none(), answer_name_, nullptr);
        release();
        return *result_;
    }

    const std::optional<Result>& result() const { return result_; }

    // Ends the stream without a result, unless another thread is writing to it.
    void close() {
        if (busy_) throw std::runtime_error("the stream is in use by another thread");
        release();
    }

    // Ends the stream, with or without a result; the answer's file is closed, a file object's
    // position put back.
    void release() {
        if (state_ != nullptr && filterspace_stream_differs(state_.get()) >= 0)
            fed_at_end_ = filterspace_stream_fed(state_.get());  // a stream closed before it finished
        if (answer_file_ != nullptr) answer_file_->put_back();
        answer_file_.reset();
        answer_view_.reset();
        state_.reset();
    }

private:
    struct FreeState {
        void operator()(filterspace_state* state) const { filterspace_state_free(state); }
    };

    // One call at a time: a second thread writing to the same stream is refused.
    struct Busy {
        explicit Busy(Stream& stream) : stream_(stream) {
            if (stream_.state_ == nullptr) throw py::value_error("the stream is finished or closed");
            if (stream_.busy_) throw std::runtime_error("the stream is in use by another thread");
            stream_.busy_ = true;
        }
        ~Busy() { stream_.busy_ = false; }
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;
        Stream& stream_;
    };

    // The answer could not be read, or a Python signal handler raised (the library's stop).
    [[noreturn]] void fail(int error) {
        if (signals_.raised) throw py::error_already_set();
        if (answer_file_ != nullptr && answer_file_->object() != nullptr) answer_file_->object()->raise_if_failed();
        raise_os_error(error, "cannot read the answer", answer_name_);
    }

    std::unique_ptr<filterspace_state, FreeState> state_;
    py::object answer_name_;
    std::optional<View> answer_view_;
    std::unique_ptr<Input> answer_file_;
    SignalCheck signals_;
    std::optional<Result> result_;  // the Result finish() gave, given again
    bool places_ = true;
    uint64_t fed_at_end_ = 0;  // the bytes written, once the stream is finished or closed
    bool busy_ = false;
};

}  // namespace

PYBIND11_MODULE(_filterspace, module) {
    main_thread_id = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
    module.doc() = "Compare by visible bytes only (0x21 to 0x7E), as the filterspace_e checker does.";
    module.attr("__version__") = filterspace_version();

    py::class_<Place>(module, "Place",
                      "Where one side stopped: at its first visible byte that differs from the other side's, "
                      "or at its end. Counted from 1 as filterspace_cmp prints them.")
        .def_readonly("visible_byte", &Place::visible_byte, "index of the first differing visible byte, from 1")
        .def_readonly("offset", &Place::offset, "bytes before the place")
        .def_readonly("line", &Place::line, "line, from 1")
        .def_readonly("column", &Place::column, "column in bytes, from 1")
        .def_readonly("at_end", &Place::at_end, "whether the side ended there")
        .def("__repr__", [](const Place& p) {
            return "Place(visible_byte=" + std::to_string(p.visible_byte) + ", line=" + std::to_string(p.line) +
                   ", column=" + std::to_string(p.column) + ", at_end=" + (p.at_end ? "True" : "False") + ")";
        });
    py::class_<Spot>(module, "Spot", "Where a byte stands: offset from 0, line and column from 1.")
        .def_readonly("offset", &Spot::offset)
        .def_readonly("line", &Spot::line)
        .def_readonly("column", &Spot::column)
        .def("__repr__", [](const Spot& s) {
            return "Spot(line=" + std::to_string(s.line) + ", column=" + std::to_string(s.column) + ")";
        });
    py::class_<FileNotes>(module, "FileNotes",
                          "What one file held besides its visible bytes, over the bytes covered from its start: "
                          "counts of the ignored bytes that are not white space by kind ('high': from 0x80 up, "
                          "'nul', 'control', 'del'), the first place of each kind found, a byte-order mark's length.")
        .def_readonly("bytes", &FileNotes::bytes, "bytes covered")
        .def_readonly("visible", &FileNotes::visible, "visible bytes among them")
        .def_readonly("complete", &FileNotes::complete, "whether covered to the file's end")
        .def_readonly("byte_order_mark", &FileNotes::byte_order_mark, "3 (UTF-8), 2 (UTF-16) or 0")
        .def_readonly("counts", &FileNotes::counts)
        .def_readonly("first", &FileNotes::first);
    py::class_<Notes>(module, "Notes",
                      "What the rule ignored: each file's ignored bytes, and the visible bytes that start a token "
                      "in one file and not in the other (\"1 2\" against \"12\" has one), with the first of them.")
        .def_readonly("output", &Notes::output)
        .def_readonly("answer", &Notes::answer)
        .def_readonly("token_starts_differ", &Notes::token_starts_differ)
        .def_readonly("first_token_output", &Notes::first_token_output)
        .def_readonly("first_token_answer", &Notes::first_token_answer);
    py::class_<Result>(module, "Result",
                       "True when the visible bytes are the same; where they differ, the place of each side (None "
                       "when they are the same); the notes when asked for (else None).")
        .def_readonly("same", &Result::same)
        .def_readonly("output", &Result::output)
        .def_readonly("answer", &Result::answer)
        .def_readonly("notes", &Result::notes)
        .def("__bool__", [](const Result& r) { return r.same; })
        .def("__repr__",
             [](const Result& r) { return std::string("Result(same=") + (r.same ? "True" : "False") + ")"; });

    py::class_<Stream>(module, "Stream",
                       "A comparison to which the output is written as it arrives (from a child process's pipe, "
                       "say), against an answer read only as far as the output needs; memory stays the stream's "
                       "own, about 560 KiB, whatever the output's size. The answer is a bytes-like object (the "
                       "answer itself: bytes are never taken for a file name), a path (str or os.PathLike), an "
                       "integer descriptor, a binary file whose bytes are its descriptor's (io.FileIO, or a buffered "
                       "reader over one: read from the position its tell() reports, put back after), or any other "
                       "object with readinto() or read(), read through it from where it stands (a member of a zip "
                       "file; a gzip, bz2 or lzma file, whose descriptor holds the compressed bytes). "
                       "write(chunk) takes bytes-like chunks (a str raises TypeError), so that "
                       "shutil.copyfileobj(pipe, stream) works; once a difference is found it is kept, and later "
                       "chunks are counted, never compared. finish() ends it and returns the Result that compare() "
                       "gives for the same bytes. As a context manager it finishes on a normal exit (result then "
                       "in .result) and only closes on an exception. Chunks from 16 KiB on are compared without "
                       "the GIL. One thread at a time may use a stream. places=False leaves a difference's places "
                       "out (Result.output and .answer None): counting lines as the chunks go by costs about as much "
                       "as comparing them.")
        .def(py::init<const py::handle&, bool>(), py::arg("answer"), py::kw_only(), py::arg("places") = true)
        .def("write", &Stream::write, py::arg("chunk"), "Compares the next chunk of output; returns its length.")
        .def_property_readonly("differs", &Stream::differs, "Whether a difference has been found so far.")
        .def_property_readonly("fed", &Stream::fed, "Bytes of output written, all chunks together.")
        .def_property_readonly("result", &Stream::result, "The Result once finished, else None.")
        .def("finish", &Stream::finish, "The output has ended: the Result (again on a later call).")
        .def("close", &Stream::close, "Ends the stream without a result, closing what it opened.")
        .def("writable", [](const Stream&) { return true; })
        .def("flush", [](const Stream&) {})
        .def(
            "__enter__", [](Stream& stream) -> Stream& { return stream; }, py::return_value_policy::reference)
        .def("__exit__", [](Stream& stream, const py::handle& type, const py::handle&, const py::handle&) {
            if (type.is_none() && !stream.result().has_value()) {
                (void)stream.finish();
            } else {
                stream.close();
            }
            return false;
        });

    module.def("compare", &compare, py::arg("output"), py::arg("answer"), py::kw_only(), py::arg("notes") = false,
               "Compares two bytes-like objects (bytes, bytearray, memoryview, ...) where they stand, without "
               "copying them, and lets other threads run meanwhile. A buffer that another thread rewrites during "
               "the comparison gives an unspecified result, never a read outside it. A str raises TypeError: a "
               "decoded text is never taken for a file name. notes=True also tells what the rule ignored "
               "(Result.notes); a difference then covers the output up to its place and the answer to its end.");
    module.def("compare_files", &compare_files, py::arg("output"), py::arg("answer"), py::kw_only(),
               py::arg("notes") = false,
               "Compares two files, streamed, letting other threads run meanwhile (opening a path included). Each "
               "side is a path (str, bytes or os.PathLike), opened and closed here; an integer descriptor, read "
               "from its offset (which the comparison moves); a binary file whose bytes are its descriptor's "
               "(io.FileIO, or a buffered reader over one), read from the position its tell() reports and left "
               "there; or any other object with readinto() or read() (a gzip, bz2 or lzma file, whose descriptor "
               "holds the compressed bytes; io.BytesIO), read through it from where it stands, once, the output "
               "handed to a Stream against the answer (notes=True then raises ValueError). A text file raises "
               "TypeError (pass its .buffer); "
               "a file object that cannot tell its position (a buffered pipe, whose buffer may hold bytes its "
               "descriptor has passed) raises ValueError (pass its fileno()). A side that cannot be opened or "
               "read raises OSError naming that side, with its path or object as filename. A non-blocking "
               "descriptor is waited for. In the main thread, a signal handler that raises (Ctrl-C's "
               "KeyboardInterrupt) ends the comparison within a block's read, and the exception propagates. "
               "notes=True also tells what the rule ignored (Result.notes); a difference then covers the output "
               "up to its place and the answer to its end where it is a regular file, else to its place.");
}
