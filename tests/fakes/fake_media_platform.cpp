#include "fakes/fake_media_platform.hpp"

#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>
#include <utility>

namespace olvex::testing_support {

using media::ManagerEvent;
using media::SessionEvent;

namespace {

using Property = FakeTrack::Property;

std::atomic<EventToken> next_token{100};

std::string event_name(SessionEvent event) {
    switch (event) {
    case SessionEvent::media_properties_changed:
        return "media_properties_changed";
    case SessionEvent::playback_info_changed:
        return "playback_info_changed";
    case SessionEvent::timeline_properties_changed:
        return "timeline_properties_changed";
    }
    return "?";
}

std::string event_name(ManagerEvent event) {
    return event == ManagerEvent::sessions_changed ? "sessions_changed" : "current_session_changed";
}

std::unexpected<Error> platform_failure(const char* what) {
    return make_error(std::string(what) + " failed (0x80004005)");
}

// Runs `body` on a new thread and waits for it, as a platform thread would
// call our handlers while the caller goes on.
void on_platform_thread(std::function<void()> body) { std::thread(std::move(body)).join(); }

class FakeThumbnailStream final : public media::ThumbnailStream {
public:
    FakeThumbnailStream(std::string bytes, FakeTrack::ThumbnailFault fault) : bytes_(std::move(bytes)), fault_(fault) {}
    PlatformResult<std::uint64_t> size() override {
        if (fault_ == FakeTrack::ThumbnailFault::size_fails) return platform_failure("Size");
        if (fault_ == FakeTrack::ThumbnailFault::claims_4_gib) return std::uint64_t{1} << 32;
        return bytes_.size();
    }
    PlatformResult<std::string> read(std::uint32_t count) override {
        if (fault_ == FakeTrack::ThumbnailFault::read_fails) return platform_failure("LoadAsync");
        return bytes_.substr(0, count);
    }

private:
    std::string bytes_;
    FakeTrack::ThumbnailFault fault_;
};

class FakeThumbnailReference final : public media::ThumbnailReference {
public:
    FakeThumbnailReference(std::string bytes, FakeTrack::ThumbnailFault fault, std::function<void()> while_opening)
        : bytes_(std::move(bytes)), fault_(fault), while_opening_(std::move(while_opening)) {}
    PlatformResult<std::unique_ptr<media::ThumbnailStream>> open_read() override {
        if (while_opening_) while_opening_();
        if (fault_ == FakeTrack::ThumbnailFault::open_fails) return platform_failure("OpenReadAsync");
        return std::make_unique<FakeThumbnailStream>(bytes_, fault_);
    }

private:
    std::string bytes_;
    FakeTrack::ThumbnailFault fault_;
    std::function<void()> while_opening_;
};

class FakeProperties final : public media::MediaProperties {
public:
    explicit FakeProperties(FakeTrack track) : track_(std::move(track)) {}
    PlatformResult<std::string> title() override { return track_.read(Property::title, track_.title); }
    PlatformResult<std::string> artist() override { return track_.read(Property::artist, track_.artist); }
    PlatformResult<std::string> album_title() override { return track_.read(Property::album_title, track_.album_title); }
    PlatformResult<std::unique_ptr<media::ThumbnailReference>> thumbnail() override {
        if (track_.thumbnail_fault == FakeTrack::ThumbnailFault::reference_fails) return platform_failure("Thumbnail");
        if (!track_.thumbnail) return std::unique_ptr<media::ThumbnailReference>();
        return std::make_unique<FakeThumbnailReference>(*track_.thumbnail, track_.thumbnail_fault,
                                                        track_.while_opening_thumbnail);
    }

private:
    FakeTrack track_;
};

class FakePlayback final : public media::PlaybackInfo {
public:
    explicit FakePlayback(FakeTrack track) : track_(std::move(track)) {}
    PlatformResult<std::int32_t> playback_status() override { return track_.read(Property::status, track_.status); }
    PlatformResult<std::optional<double>> playback_rate() override { return track_.read(Property::rate, track_.rate); }

private:
    FakeTrack track_;
};

class FakeTimeline final : public media::TimelineProperties {
public:
    explicit FakeTimeline(FakeTrack track) : track_(std::move(track)) {}
    PlatformResult<TimeSpanTicks> start_time() override { return track_.read(Property::start_time, track_.start_time); }
    PlatformResult<TimeSpanTicks> end_time() override { return track_.read(Property::end_time, track_.end_time); }
    PlatformResult<TimeSpanTicks> position() override { return track_.read(Property::position, track_.position); }
    PlatformResult<DateTimeTicks> last_updated_time() override { return track_.read(Property::last_updated_time, track_.last_updated_time); }

private:
    FakeTrack track_;
};

}  // namespace

void FakeCallLog::add(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
}

std::vector<std::string> FakeCallLog::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void FakeCallLog::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

FakeMediaSession::FakeMediaSession(std::string name, std::shared_ptr<FakeCallLog> log)
    : name_(std::move(name)), log_(std::move(log)) {}

void FakeMediaSession::set_track(FakeTrack track) {
    std::lock_guard lock(mutex_);
    track_ = std::move(track);
}

FakeTrack FakeMediaSession::track() const {
    std::lock_guard lock(mutex_);
    return track_;
}

void FakeMediaSession::set_command_result(PlatformResult<bool> result) {
    std::lock_guard lock(mutex_);
    command_result_ = std::move(result);
}

void FakeMediaSession::fail_registration(SessionEvent event) {
    std::lock_guard lock(mutex_);
    failing_[event] = true;
}

void FakeMediaSession::throw_on_registration(SessionEvent event) {
    std::lock_guard lock(mutex_);
    throwing_[event] = true;
}

void FakeMediaSession::throw_on_removal() {
    std::lock_guard lock(mutex_);
    removal_throws_ = true;
}

void FakeMediaSession::raise(SessionEvent event) {
    std::vector<media::SessionEventHandler> handlers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [token, entry] : handlers_) {
            if (entry.first == event) handlers.push_back(entry.second);
        }
    }
    auto self = shared_from_this();
    on_platform_thread([&] {
        for (const auto& handler : handlers) handler(self);
    });
}

int FakeMediaSession::handler_count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(handlers_.size());
}

int FakeMediaSession::property_requests() const {
    std::lock_guard lock(mutex_);
    return property_requests_;
}

std::vector<std::string> FakeMediaSession::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

PlatformResult<std::string> FakeMediaSession::source_app_user_model_id() {
    const FakeTrack current = track();
    auto app_id = current.read(FakeTrack::Property::source_app_id, current.source_app_id);
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        hook = std::exchange(after_app_id_read_, nullptr);
    }
    if (hook) hook();
    return app_id;
}

void FakeMediaSession::after_next_app_id_read(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    after_app_id_read_ = std::move(hook);
}

PlatformResult<std::unique_ptr<media::MediaProperties>> FakeMediaSession::try_get_media_properties() {
    std::lock_guard lock(mutex_);
    ++property_requests_;
    if (track_.media_properties_fail) return platform_failure("TryGetMediaPropertiesAsync");
    return std::make_unique<FakeProperties>(track_);
}

PlatformResult<std::unique_ptr<media::PlaybackInfo>> FakeMediaSession::get_playback_info() {
    const FakeTrack current = track();
    if (current.playback_info_fail) return platform_failure("GetPlaybackInfo");
    return std::make_unique<FakePlayback>(current);
}

PlatformResult<std::unique_ptr<media::TimelineProperties>> FakeMediaSession::get_timeline_properties() {
    const FakeTrack current = track();
    if (current.timeline_fail) return platform_failure("GetTimelineProperties");
    return std::make_unique<FakeTimeline>(current);
}

PlatformResult<bool> FakeMediaSession::command(std::string line) {
    std::lock_guard lock(mutex_);
    commands_.push_back(std::move(line));
    return command_result_;
}

PlatformResult<bool> FakeMediaSession::try_toggle_play_pause() { return command("toggle_play_pause"); }
PlatformResult<bool> FakeMediaSession::try_skip_next() { return command("skip_next"); }
PlatformResult<bool> FakeMediaSession::try_skip_previous() { return command("skip_previous"); }
PlatformResult<bool> FakeMediaSession::try_change_playback_position(TimeSpanTicks position) {
    return command("change_position " + std::to_string(position));
}

PlatformResult<EventToken> FakeMediaSession::add_event_handler(SessionEvent event,
                                                               media::SessionEventHandler handler) {
    std::lock_guard lock(mutex_);
    if (throwing_[event]) throw std::runtime_error("fake platform threw while registering");
    if (failing_[event]) return platform_failure("add handler");
    const EventToken token = next_token++;
    handlers_.emplace(token, std::pair{event, std::move(handler)});
    log_->add("add " + event_name(event) + " " + name_ + " " + std::to_string(token));
    return token;
}

PlatformResult<void> FakeMediaSession::remove_event_handler(SessionEvent event, EventToken token) {
    media::SessionEventHandler removed;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    log_->add("remove " + event_name(event) + " " + name_ + " " + std::to_string(token));
    if (removal_throws_) throw std::runtime_error("fake platform threw while removing");
    const auto found = handlers_.find(token);
    if (found == handlers_.end() || found->second.first != event) return platform_failure("remove handler");
    removed = std::move(found->second.second);
    handlers_.erase(found);
    return {};
}

FakeMediaManager::FakeMediaManager() = default;

std::shared_ptr<FakeMediaSession> FakeMediaManager::make_session(std::string name) {
    return std::make_shared<FakeMediaSession>(std::move(name), log_);
}

void FakeMediaManager::set_current(std::shared_ptr<FakeMediaSession> session) {
    std::lock_guard lock(mutex_);
    current_ = std::move(session);
}

void FakeMediaManager::set_sessions(std::vector<std::shared_ptr<FakeMediaSession>> sessions) {
    std::lock_guard lock(mutex_);
    sessions_ = std::move(sessions);
}

void FakeMediaManager::fail_get_sessions(bool fail) {
    std::lock_guard lock(mutex_);
    sessions_fail_ = fail;
}

void FakeMediaManager::fail_get_current_session(bool fail) {
    std::lock_guard lock(mutex_);
    current_fails_ = fail;
}

void FakeMediaManager::fail_registration(ManagerEvent event) {
    std::lock_guard lock(mutex_);
    failing_[event] = true;
}

void FakeMediaManager::raise(ManagerEvent event) {
    std::vector<media::ManagerEventHandler> handlers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [token, entry] : handlers_) {
            if (entry.first == event) handlers.push_back(entry.second);
        }
    }
    on_platform_thread([&] {
        for (const auto& handler : handlers) handler();
    });
}

int FakeMediaManager::handler_count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(handlers_.size());
}

PlatformResult<media::SessionRef> FakeMediaManager::get_current_session() {
    std::lock_guard lock(mutex_);
    log_->add("get_current_session");
    if (current_fails_) return platform_failure("GetCurrentSession");
    return media::SessionRef(current_);
}

PlatformResult<std::vector<media::SessionRef>> FakeMediaManager::get_sessions() {
    std::lock_guard lock(mutex_);
    if (sessions_fail_) return platform_failure("GetSessions");
    return std::vector<media::SessionRef>(sessions_.begin(), sessions_.end());
}

PlatformResult<EventToken> FakeMediaManager::add_event_handler(ManagerEvent event, media::ManagerEventHandler handler) {
    std::lock_guard lock(mutex_);
    if (failing_[event]) return platform_failure("add manager handler");
    const EventToken token = next_token++;
    handlers_.emplace(token, std::pair{event, std::move(handler)});
    log_->add("add " + event_name(event) + " " + std::to_string(token));
    return token;
}

PlatformResult<void> FakeMediaManager::remove_event_handler(ManagerEvent event, EventToken token) {
    media::ManagerEventHandler removed;  // may hold the last share of the watcher: destroyed outside the lock
    {
        std::lock_guard lock(mutex_);
        log_->add("remove " + event_name(event) + " " + std::to_string(token));
        const auto found = handlers_.find(token);
        if (found == handlers_.end() || found->second.first != event) return platform_failure("remove manager handler");
        removed = std::move(found->second.second);
        handlers_.erase(found);
    }
    return {};
}

}  // namespace olvex::testing_support
