// Python module `kvd`: streams and offline segments through the C interface
// of include/kvd/kvd_stream.h. Failures raise kvd.Error with the C text.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "kvd/kvd_stream.h"

namespace py = pybind11;

namespace {

// kvd.Error(code, text); its args hold both. A plain pointer owned by the
// module for the life of the process (no destructor runs after the
// interpreter has gone).
PyObject* errorType = nullptr;

void Check(int32_t result) {
  if (result == KVD_STREAM_OK) return;
  PyErr_SetObject(errorType, py::make_tuple(result, kvd_strerror(result)).ptr());
  throw py::error_already_set();
}

// The samples of a NumPy int16 array (any shape is refused but 1-D) or of
// little-endian bytes, copied into a contiguous buffer.
std::vector<int16_t> Samples(const py::object& samples) {
  if (py::isinstance<py::bytes>(samples) || py::isinstance<py::bytearray>(samples)) {
    const std::string bytes = py::isinstance<py::bytes>(samples)
                                  ? std::string(samples.cast<py::bytes>())
                                  : std::string(samples.cast<py::bytearray>());
    if (bytes.size() % 2 != 0) throw py::value_error("bytes of 16-bit samples: an odd length");
    std::vector<int16_t> pcm(bytes.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i)
      pcm[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                    (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    return pcm;
  }
  if (!py::isinstance<py::array>(samples))
    throw py::type_error("samples must be a numpy.int16 array or bytes");
  const py::array array = samples.cast<py::array>();
  if (!array.dtype().is(py::dtype::of<int16_t>()))
    throw py::type_error("samples must be numpy.int16 (got " +
                         std::string(py::str(array.dtype())) + ")");
  if (array.ndim() != 1) throw py::value_error("samples must be one-dimensional");
  const auto contiguous = py::array_t<int16_t, py::array::c_style>::ensure(array);
  return std::vector<int16_t>(contiguous.data(), contiguous.data() + contiguous.size());
}

int32_t Count(size_t size) {
  if (size > static_cast<size_t>(INT32_MAX)) throw py::value_error("too many samples for one call");
  return static_cast<int32_t>(size);
}

// "key = value" lines of a mapping.
std::string ConfigText(const std::map<std::string, std::string>& keys) {
  std::string text;
  for (const auto& [key, value] : keys) text += key + " = " + value + "\n";
  return text;
}

class Stream {
 public:
  // config: None (shipped defaults), a path to a kvd.cfg-style file, or a
  // dict of keys replacing the defaults.
  Stream(int32_t rate, const py::object& config) {
    if (config.is_none()) {
      Check(kvd_stream_open(nullptr, rate, &stream_));
    } else if (py::isinstance<py::dict>(config)) {
      std::map<std::string, std::string> keys;
      for (const auto& item : config.cast<py::dict>())
        keys[py::str(item.first)] = py::str(item.second);
      Check(kvd_stream_open_text(ConfigText(keys).c_str(), rate, &stream_));
    } else {
      Check(kvd_stream_open(py::str(config).cast<std::string>().c_str(), rate, &stream_));
    }
  }
  ~Stream() { kvd_stream_free(stream_); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  std::vector<std::pair<std::string, int32_t>> Feed(const py::object& samples) {
    const std::vector<int16_t> pcm = Samples(samples);
    const int32_t size = Count(pcm.size());
    kvd_event events[8];
    int32_t count = 0;
    int32_t result = KVD_STREAM_OK;
    {
      py::gil_scoped_release unlocked;  // other Python threads run during detection
      result = kvd_stream_feed(stream_, pcm.data(), size, events, 8, &count);
    }
    Check(result);
    std::vector<std::pair<std::string, int32_t>> happened;
    for (int32_t i = 0; i < count && i < 8; ++i)
      happened.emplace_back(kvd_event_name(events[i].kind), events[i].sample);
    return happened;
  }

  int32_t State() const {
    int32_t state = 0;
    Check(kvd_stream_state(stream_, &state));
    return state;
  }

  void Reset() { Check(kvd_stream_reset(stream_)); }

 private:
  kvd_stream* stream_ = nullptr;
};

std::vector<std::pair<int32_t, int32_t>> Segments(const py::object& samples, int32_t rate,
                                                  const std::string& mode,
                                                  const py::object& config) {
  int32_t modeCode = 0;
  if (mode == "multi") modeCode = KVD_SEGMENTS_MULTI;
  else if (mode == "single") modeCode = KVD_SEGMENTS_SINGLE;
  else throw py::value_error("mode must be \"multi\" or \"single\"");
  const std::vector<int16_t> pcm = Samples(samples);
  const std::string path = config.is_none() ? std::string() : py::str(config).cast<std::string>();
  std::vector<int32_t> starts(1024), ends(1024);
  int32_t found = 0;
  Check(kvd_segments(path.empty() ? nullptr : path.c_str(), rate, modeCode, pcm.data(),
                     Count(pcm.size()), starts.data(), ends.data(),
                     static_cast<int32_t>(starts.size()), &found));
  std::vector<std::pair<int32_t, int32_t>> segments;
  for (int32_t i = 0; i < found && i < static_cast<int32_t>(starts.size()); ++i)
    segments.emplace_back(starts[i], ends[i]);
  return segments;
}

}  // namespace

PYBIND11_MODULE(kvd, module) {
  module.doc() = "Speech/silence detection for telephone audio (16-bit PCM, 8000 Hz or more).";
  module.attr("__version__") = kvd_version();
  errorType = PyErr_NewException("kvd.Error", PyExc_RuntimeError, nullptr);
  module.attr("Error") = py::reinterpret_borrow<py::object>(errorType);

  py::class_<Stream>(module, "Stream",
                     "One audio stream: feed samples, get the events that happened in them.")
      .def(py::init<int32_t, const py::object&>(), py::arg("rate") = 8000,
           py::arg("config") = py::none())
      .def("feed", &Stream::Feed, py::arg("samples"),
           "Feeds numpy.int16 samples or little-endian bytes; returns [(event, sample), ...].")
      .def_property_readonly("state", &Stream::State,
                             "1 before speech, 2 in speech, 3 ended, 4 no speech yet, "
                             "5 too long, 6 too short")
      .def("reset", &Stream::Reset, "Starts the next utterance, positions from 0.");
  module.def("segments", &Segments, py::arg("samples"), py::arg("rate"),
             py::arg("mode") = "multi", py::arg("config") = py::none(),
             "Offline: [(first sample, end sample), ...] of a whole recording.");
}
