#include <random>

#include "volume/audio_platform.hpp"

namespace olvex::volume {

namespace {

// Until the PulseAudio backend exists the volume control cannot be created
// here, and the program runs on without it.
class UnavailableAudioBackend final : public AudioBackend {
public:
    AudioResult<void> join_multithreaded_apartment() override { return {}; }

    AudioResult<EventContext> make_event_context() override {
        std::random_device random;
        EventContext context;
        for (auto& byte : context.bytes) byte = static_cast<std::uint8_t>(random());
        return context;
    }

    AudioResult<std::shared_ptr<AudioSystem>> open_audio_system() override {
        return make_error("no audio service is supported on this system yet");
    }
};

}  // namespace

std::shared_ptr<AudioBackend> platform_audio_backend() { return std::make_shared<UnavailableAudioBackend>(); }

}  // namespace olvex::volume
