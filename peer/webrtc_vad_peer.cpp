#include "peer/webrtc_vad_peer.h"

#include <algorithm>

#include "webrtc/modules/audio_processing/include/audio_processing.h"
#include "webrtc/modules/interface/module_common_types.h"

namespace kvdpeer {

namespace {

constexpr int kFrameMs = 10;
constexpr int kSupportedRates[] = {8000, 16000, 32000, 48000};

}  // namespace

bool WebRtcVadPeer::IsSupportedRate(int sampleRate) {
  return std::find(std::begin(kSupportedRates), std::end(kSupportedRates), sampleRate) !=
         std::end(kSupportedRates);
}

std::unique_ptr<WebRtcVadPeer> WebRtcVadPeer::Create(int sampleRate, int likelihood,
                                                     std::string* error) {
  if (!IsSupportedRate(sampleRate)) {
    *error = "unsupported sample rate " + std::to_string(sampleRate) +
             " Hz (8000, 16000, 32000 or 48000)";
    return nullptr;
  }
  if (likelihood < webrtc::VoiceDetection::kVeryLowLikelihood ||
      likelihood > webrtc::VoiceDetection::kHighLikelihood) {
    *error = "likelihood " + std::to_string(likelihood) + " outside 0..3";
    return nullptr;
  }
  std::unique_ptr<webrtc::AudioProcessing> processing(webrtc::AudioProcessing::Create());
  webrtc::VoiceDetection* detection = processing ? processing->voice_detection() : nullptr;
  if (detection == nullptr || detection->Enable(true) != webrtc::AudioProcessing::kNoError ||
      detection->set_likelihood(static_cast<webrtc::VoiceDetection::Likelihood>(likelihood)) !=
          webrtc::AudioProcessing::kNoError ||
      detection->set_frame_size_ms(kFrameMs) != webrtc::AudioProcessing::kNoError) {
    *error = "cannot set up WebRTC voice detection";
    return nullptr;
  }
  return std::unique_ptr<WebRtcVadPeer>(new WebRtcVadPeer(sampleRate, std::move(processing)));
}

WebRtcVadPeer::WebRtcVadPeer(int sampleRate,
                             std::unique_ptr<webrtc::AudioProcessing> processing)
    : sampleRate_(sampleRate),
      frameSamples_(sampleRate * kFrameMs / 1000),
      processing_(std::move(processing)),
      frame_(std::make_unique<webrtc::AudioFrame>()) {}

WebRtcVadPeer::~WebRtcVadPeer() = default;

std::optional<bool> WebRtcVadPeer::HasVoice(const int16_t* frame) {
  frame_->UpdateFrame(0, 0, frame, static_cast<size_t>(frameSamples_), sampleRate_,
                      webrtc::AudioFrame::kNormalSpeech, webrtc::AudioFrame::kVadUnknown);
  if (processing_->ProcessStream(frame_.get()) != webrtc::AudioProcessing::kNoError)
    return std::nullopt;
  return processing_->voice_detection()->stream_has_voice();
}

}  // namespace kvdpeer
