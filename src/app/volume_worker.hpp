#pragma once

#include <memory>

#include "base/channel.hpp"
#include "media/watcher.hpp"
#include "protocol/messages.hpp"
#include "volume/audio_platform.hpp"
#include "volume/volume_command.hpp"
#include "volume/volume_state.hpp"

namespace olvex::app {

// What the volume worker is given.
struct VolumeWorkerSetup {
    std::shared_ptr<volume::AudioBackend> backend;
    Receiver<volume::VolumeCommand> commands;
    Sender<protocol::HostMessage> outbound;
    std::shared_ptr<volume::VolumeState> state;
    media::MediaWatcherHandle media;
    volume::CurrentApplicationChannel* application_channel = &volume::current_application_channel();
};

// Starts the volume worker thread: it creates the volume control (logging
// "volume: could not initialize volume control: <error>" and ending when it
// cannot), reports the starting volume (the application's, else the master
// volume), then carries out each command and reports the application's volume
// read back. It ends, stopping the volume watcher, when the command queue
// closes.
void start_volume_worker(VolumeWorkerSetup setup);

}  // namespace olvex::app
