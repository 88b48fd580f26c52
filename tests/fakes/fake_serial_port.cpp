#include "fakes/fake_serial_port.hpp"

#include <algorithm>
#include <thread>
#include <utility>

namespace olvex::testing_support {

using serial::PortError;
using serial::PortResult;

class FakeSerialPort : public serial::SerialPort {
public:
    FakeSerialPort(std::shared_ptr<FakeSerialLine> line, serial::PortSettings settings,
                   std::shared_ptr<bool> interrupted = std::make_shared<bool>(false))
        : line_(std::move(line)), settings_(settings), interrupted_(std::move(interrupted)) {
        std::lock_guard lock(line_->mutex_);
        ++line_->handles_open_;
    }
    ~FakeSerialPort() override {
        {
            std::lock_guard lock(line_->mutex_);
            --line_->handles_open_;
        }
        line_->changed_.notify_all();
    }
    FakeSerialPort(const FakeSerialPort&) = delete;
    FakeSerialPort& operator=(const FakeSerialPort&) = delete;

    PortResult<std::unique_ptr<serial::SerialPort>> duplicate() override {
        return std::make_unique<FakeSerialPort>(line_, settings_, interrupted_);
    }

    PortResult<std::size_t> bytes_waiting() override {
        std::lock_guard lock(line_->mutex_);
        if (line_->gone_) return gone();
        return line_->incoming_.size();
    }

    PortResult<std::size_t> read(std::span<char> buffer) override {
        std::unique_lock lock(line_->mutex_);
        line_->changed_.wait_for(lock, settings_.timeout.to_chrono(),
                                 [&] { return line_->gone_ || !line_->incoming_.empty(); });
        if (line_->gone_) return gone();
        if (line_->incoming_.empty()) return std::unexpected(PortError{PortError::Kind::timeout, "timed out"});
        const std::size_t count = std::min(buffer.size(), line_->incoming_.size());
        std::copy_n(line_->incoming_.begin(), count, buffer.begin());
        line_->incoming_.erase(0, count);
        return count;
    }

    PortResult<bool> wait_for_input() override {
        std::unique_lock lock(line_->mutex_);
        if (std::exchange(line_->time_out_next_wait_, false))
            return std::unexpected(PortError{PortError::Kind::timeout, "timed out"});
        line_->changed_.wait(lock, [&] { return *interrupted_ || line_->gone_ || !line_->incoming_.empty(); });
        if (*interrupted_) return false;
        if (line_->gone_) return gone();
        return true;
    }

    // Like a port that took nothing: waits out the port time-out (or the
    // limit), ended early by a change of the line; a trickling line has room
    // again when its next byte is due.
    PortResult<bool> wait_for_output(Duration limit) override {
        std::unique_lock lock(line_->mutex_);
        auto until = std::chrono::steady_clock::now() + std::min(limit, settings_.timeout).to_chrono();
        if (line_->write_mode_ == FakeSerialLine::WriteMode::trickle)
            until = std::min(until, line_->last_trickle_ + line_->trickle_interval_);
        line_->changed_.wait_until(lock, until, [&] {
            return *interrupted_ || line_->gone_ || line_->write_mode_ == FakeSerialLine::WriteMode::accept_all;
        });
        if (*interrupted_) return false;
        if (line_->gone_) return gone();
        return true;
    }

    void interrupt() noexcept override {
        {
            std::lock_guard lock(line_->mutex_);
            *interrupted_ = true;
        }
        line_->changed_.notify_all();
    }

    PortResult<std::size_t> write(std::string_view bytes) override {
        std::string accepted;
        std::function<void(const std::string&)> callback;
        {
            std::lock_guard lock(line_->mutex_);
            if (line_->gone_) return gone();
            switch (line_->write_mode_) {
                case FakeSerialLine::WriteMode::accept_all: accepted = std::string(bytes); break;
                case FakeSerialLine::WriteMode::trickle: {
                    const auto now = std::chrono::steady_clock::now();
                    if (now - line_->last_trickle_ < line_->trickle_interval_) return std::size_t{0};
                    line_->last_trickle_ = now;
                    accepted = std::string(1, bytes.front());
                    break;
                }
                case FakeSerialLine::WriteMode::accept_nothing: return std::size_t{0};
                case FakeSerialLine::WriteMode::fail:
                    return std::unexpected(PortError{PortError::Kind::other, "broken line"});
            }
            line_->pieces_.push_back(accepted);
            callback = line_->on_write_;
        }
        line_->changed_.notify_all();
        if (callback) callback(accepted);
        return accepted.size();
    }

private:
    static std::unexpected<PortError> gone() { return std::unexpected(PortError{PortError::Kind::gone, "unplugged"}); }

    std::shared_ptr<FakeSerialLine> line_;
    serial::PortSettings settings_;
    std::shared_ptr<bool> interrupted_;  // one for the handles of one opening, under the line's mutex
};

void FakeSerialLine::receive(const std::string& bytes) {
    {
        std::lock_guard lock(mutex_);
        incoming_ += bytes;
    }
    changed_.notify_all();
}

void FakeSerialLine::unplug() {
    {
        std::lock_guard lock(mutex_);
        gone_ = true;
    }
    changed_.notify_all();
}

void FakeSerialLine::time_out_next_wait() {
    std::lock_guard lock(mutex_);
    time_out_next_wait_ = true;
}

void FakeSerialLine::set_write_mode(WriteMode mode, std::chrono::milliseconds trickle_interval) {
    {
        std::lock_guard lock(mutex_);
        write_mode_ = mode;
        trickle_interval_ = trickle_interval;
    }
    changed_.notify_all();
}

void FakeSerialLine::on_write(std::function<void(const std::string&)> callback) {
    std::lock_guard lock(mutex_);
    on_write_ = std::move(callback);
}

std::vector<std::string> FakeSerialLine::pieces() const {
    std::lock_guard lock(mutex_);
    return pieces_;
}

std::string FakeSerialLine::written() const {
    std::string all;
    for (const auto& piece : pieces()) all += piece;
    return all;
}

int FakeSerialLine::handles_open() const {
    std::lock_guard lock(mutex_);
    return handles_open_;
}

bool FakeSerialLine::wait_until_written(const std::function<bool(const std::string&)>& done,
                                        std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        std::string all;
        for (const auto& piece : pieces_) all += piece;
        return done(all);
    });
}

bool FakeSerialLine::wait_until_closed(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return handles_open_ == 0; });
}

std::unique_ptr<serial::SerialPort> FakeSerialLine::open_handle(const serial::PortSettings& settings) {
    return std::make_unique<FakeSerialPort>(shared_from_this(), settings);
}

std::shared_ptr<FakeSerialLine> FakePortSystem::add(const std::string& name) {
    auto line = std::make_shared<FakeSerialLine>();
    std::lock_guard lock(mutex_);
    lines_[name] = line;
    all_lines_.push_back(line);
    return line;
}

void FakePortSystem::unplug_all() {
    std::lock_guard lock(mutex_);
    for (const auto& line : all_lines_) line->unplug();
}

serial::PortOpener FakePortSystem::opener() {
    return [this](std::string_view name, const serial::PortSettings& settings)
               -> PortResult<std::unique_ptr<serial::SerialPort>> {
        std::lock_guard lock(mutex_);
        opened_.emplace_back(name);
        const auto found = lines_.find(std::string(name));
        if (found == lines_.end()) return std::unexpected(PortError{PortError::Kind::not_found, "no such port"});
        return found->second->open_handle(settings);
    };
}

std::vector<std::string> FakePortSystem::opened() const {
    std::lock_guard lock(mutex_);
    return opened_;
}

}  // namespace olvex::testing_support
