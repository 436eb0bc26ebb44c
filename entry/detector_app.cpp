// The library's application object. The host's loader constructs it when
// libkvd.so is loaded and destroys it at unload; it holds no state of the
// engine, which stays empty until KVD_Init, and the logging facade sets
// itself up on its first message.
namespace {

class CDetectorApp {
 public:
  CDetectorApp() = default;
};

const CDetectorApp theApp;

}  // namespace
