#pragma once

#include <memory>

#include "base/channel.hpp"
#include "media/watcher.hpp"
#include "protocol/messages.hpp"
#include "volume/audio_platform.hpp"
#include "volume/volume_command.hpp"
#include "volume/volume_state.hpp"

namespace olvex::volume {

// What the volume worker is given.
struct VolumeWorkerSetup {
    std::shared_ptr<AudioBackend> backend;
    Receiver<VolumeCommand> commands;
    Sender<device::HostMessage> outbound;
    std::shared_ptr<VolumeState> state;
    media::MediaWatcherHandle media;
    CurrentApplicationChannel* application_channel = &current_application_channel();
};

// Starts the volume worker thread: it creates the volume control (logging
// "volume: could not initialize volume control: <error>" and ending when it
// cannot), reports the starting volume (the application's, else the master
// volume), then carries out each command and reports the application's volume
// read back. It ends, stopping the volume watcher, when the command queue
// closes.
void start_volume_worker(VolumeWorkerSetup setup);

}  // namespace olvex::volume
