// The Python module: filterspace.compare() on two bytes-like objects, read where they stand
// through the buffer protocol, and filterspace.compare_files() on paths or descriptors, streamed.
// The GIL is released while comparing; each thread keeps a state of its own.
#include <fcntl.h>
#include <filterspace/filterspace.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace py = pybind11;

namespace {

struct Place {
    uint64_t visible_byte, offset, line, column;
    bool at_end;
};

// The places only for a difference: counting lines costs a pass over every byte, which a
// comparison that finds none need not pay.
struct Result {
    bool same;
    std::optional<Place> output, answer;
};

Place place_of(const filterspace_place& place) {
    return {place.visible_byte, place.offset, place.line, place.column, place.at_end != 0};
}

// This thread's state, made on its first comparison and kept: 545 KiB, too large to make per call.
filterspace_state* thread_state() {
    struct Free {
        void operator()(filterspace_state* state) const { filterspace_state_free(state); }
    };
    thread_local std::unique_ptr<filterspace_state, Free> state(filterspace_state_new());
    if (state == nullptr) throw std::bad_alloc();
    return state.get();
}

[[noreturn]] void raise_os_error(int error, const std::string& side, const py::object& name) {
    const std::string message = "cannot read the " + side + ": " + strerror(error);
    PyErr_SetObject(PyExc_OSError, py::make_tuple(error, message, name).ptr());
    throw py::error_already_set();
}

// error: the failed read's errno, for an unreadable side.
Result result_of(filterspace_result result, int error, const filterspace_places* places, const py::object& output_name,
                 const py::object& answer_name) {
    if (result == FILTERSPACE_OUTPUT_UNREADABLE) raise_os_error(error, "output", output_name);
    if (result == FILTERSPACE_ANSWER_UNREADABLE) raise_os_error(error, "answer", answer_name);
    if (result == FILTERSPACE_SAME || places == nullptr) return {true, std::nullopt, std::nullopt};
    return {false, place_of(places->output), place_of(places->answer)};
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

Result compare(const py::handle& output, const py::handle& answer) {
    const View out(output, "output"), ans(answer, "answer");
    filterspace_state* state = thread_state();
    filterspace_places places{};
    filterspace_result result;
    {
        // Once without the places; again, with them, only where the buffers differ.
        const py::gil_scoped_release unlocked;
        result = filterspace_compare_buffers(state, out.data(), out.size(), ans.data(), ans.size(), nullptr);
        if (result == FILTERSPACE_DIFFER)
            result = filterspace_compare_buffers(state, out.data(), out.size(), ans.data(), ans.size(), &places);
    }
    return result_of(result, 0, &places, py::none(), py::none());
}

// A descriptor for an integer (used as it is, from its offset), an object with fileno(), or a
// path (str, bytes or os.PathLike, opened here and closed after).
class Input {
public:
    Input(const py::handle& source, const char* side) : name_(py::reinterpret_borrow<py::object>(source)) {
        if (PyLong_Check(source.ptr())) {
            fd_ = source.cast<int>();
        } else if (py::hasattr(source, "fileno") && !PyUnicode_Check(source.ptr()) && !PyBytes_Check(source.ptr())) {
            fd_ = source.attr("fileno")().cast<int>();
        } else {
            const py::object path = py::module_::import("os").attr("fsencode")(source);
            fd_ = open(PyBytes_AsString(path.ptr()), O_RDONLY | O_CLOEXEC);
            if (fd_ < 0) {
                const int error = errno;
                const std::string message = std::string("cannot open the ") + side + ": " + strerror(error);
                PyErr_SetObject(PyExc_OSError, py::make_tuple(error, message, name_).ptr());
                throw py::error_already_set();
            }
            owned_ = true;
        }
    }
    ~Input() {
        if (owned_) close(fd_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    int fd() const { return fd_; }
    const py::object& name() const { return name_; }

private:
    int fd_ = -1;
    bool owned_ = false;
    py::object name_;
};

Result compare_files(const py::handle& output, const py::handle& answer) {
    const Input out(output, "output"), ans(answer, "answer");
    filterspace_state* state = thread_state();
    filterspace_places places{};
    filterspace_result result;
    int error = 0;
    {
        // Files that can be read again are compared once without the places, and again, with
        // them, only where they differ; pipes once, with them.
        const py::gil_scoped_release unlocked;
        const off_t out_start = lseek(out.fd(), 0, SEEK_CUR), ans_start = lseek(ans.fd(), 0, SEEK_CUR);
        const bool again = out_start >= 0 && ans_start >= 0;
        result = filterspace_compare_fds(state, out.fd(), ans.fd(), again ? nullptr : &places);
        error = errno;
        if (again && result == FILTERSPACE_DIFFER && lseek(out.fd(), out_start, SEEK_SET) == out_start &&
            lseek(ans.fd(), ans_start, SEEK_SET) == ans_start) {
            result = filterspace_compare_fds(state, out.fd(), ans.fd(), &places);
            error = errno;
        }
    }
    return result_of(result, error, &places, out.name(), ans.name());
}

}  // namespace

PYBIND11_MODULE(_filterspace, module) {
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
    py::class_<Result>(module, "Result",
                       "True when the visible bytes are the same; where they differ, the place of each side (None "
                       "when they are the same).")
        .def_readonly("same", &Result::same)
        .def_readonly("output", &Result::output)
        .def_readonly("answer", &Result::answer)
        .def("__bool__", [](const Result& r) { return r.same; })
        .def("__repr__",
             [](const Result& r) { return std::string("Result(same=") + (r.same ? "True" : "False") + ")"; });

    module.def("compare", &compare, py::arg("output"), py::arg("answer"),
               "Compares two bytes-like objects (bytes, bytearray, memoryview, ...) where they stand, without "
               "copying them. A str raises TypeError: a decoded text is never taken for a file name.");
    module.def("compare_files", &compare_files, py::arg("output"), py::arg("answer"),
               "Compares two files, streamed: each a path (str, bytes or os.PathLike), an integer descriptor or an "
               "object with fileno(), read from its current offset. A side that cannot be opened or read raises "
               "OSError naming that side.");
}
