// A peer detector to compare ours with: the voice-activity detector of
// WebRTC's audio processing module (Debian's webrtc-audio-processing 0.3),
// asked for one voice/no-voice decision per 10 ms frame.
#ifndef KVD_PEER_WEBRTC_VAD_PEER_H
#define KVD_PEER_WEBRTC_VAD_PEER_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace webrtc {
class AudioProcessing;
class AudioFrame;
}  // namespace webrtc

namespace kvdpeer {

class WebRtcVadPeer {
 public:
  // Rates the audio processing module accepts for 16-bit frames.
  static bool IsSupportedRate(int sampleRate);

  // A detector for mono audio at sampleRate (8000, 16000, 32000 or 48000 Hz)
  // with WebRTC's likelihood 0 (very low) .. 3 (high): the higher, the more
  // readily a frame is called voice. Null with *error set when the rate or
  // the likelihood is refused or the module cannot be set up.
  static std::unique_ptr<WebRtcVadPeer> Create(int sampleRate, int likelihood,
                                               std::string* error);

  ~WebRtcVadPeer();
  WebRtcVadPeer(const WebRtcVadPeer&) = delete;
  WebRtcVadPeer& operator=(const WebRtcVadPeer&) = delete;

  // Samples in one 10 ms frame: sampleRate / 100.
  int FrameSamples() const { return frameSamples_; }

  // Feeds the next frame of FrameSamples() samples. True when the frame
  // holds voice, false when not, empty when the module rejected the frame.
  std::optional<bool> HasVoice(const int16_t* frame);

 private:
  WebRtcVadPeer(int sampleRate, std::unique_ptr<webrtc::AudioProcessing> processing);

  int sampleRate_;
  int frameSamples_;
  std::unique_ptr<webrtc::AudioProcessing> processing_;
  std::unique_ptr<webrtc::AudioFrame> frame_;
};

}  // namespace kvdpeer

#endif  // KVD_PEER_WEBRTC_VAD_PEER_H
