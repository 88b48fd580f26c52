#include "script.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <fmt/format.h>

#include "host_messages.hpp"

namespace olvex::simulator {
namespace {

constexpr std::array<std::string_view, 5> HOST_KINDS = {"hello", "now_playing", "art", "volume", "lock"};

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::expected<double, Error> parse_seconds(std::string_view text) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value) || value < 0.0) {
        return make_error(fmt::format("\"{}\" is not a number of seconds", text));
    }
    return value;
}

std::expected<std::optional<Command>, Error> parse_wait_for(std::string_view argument) {
    const auto space = argument.find_first_of(" \t");
    const std::string_view kind = argument.substr(0, space);
    if (std::ranges::find(HOST_KINDS, kind) == HOST_KINDS.end()) {
        return make_error(fmt::format("\"{}\" is not a message the program sends", kind));
    }
    const std::string_view containing = space == std::string_view::npos ? "" : trim(argument.substr(space));
    return WaitFor{std::string(kind), std::string(containing)};
}

std::expected<std::optional<Command>, Error> parse_send(std::string_view argument) {
    if (auto event = protocol::decode_device_event(argument); !event) {
        return make_error(fmt::format("not a device event ({}): {}", event.error().message, argument));
    }
    return SendLine{std::string(argument)};
}

std::expected<std::optional<Command>, Error> parse_key(std::string_view argument) {
    const auto key = key_named(argument);
    if (!key) return make_error(fmt::format("\"{}\" is not a key", argument));
    return PressKey{*key};
}

std::expected<std::optional<Command>, Error> parse_timed(std::string_view argument, bool is_sleep) {
    auto seconds = parse_seconds(argument);
    if (!seconds) return std::unexpected(seconds.error());
    if (is_sleep) return Sleep{*seconds};
    return SetTimeout{*seconds};
}

}  // namespace

std::expected<std::optional<Command>, Error> parse_script_line(std::string_view line) {
    line = trim(line);
    if (line.empty() || line.starts_with('#')) return std::nullopt;
    const auto space = line.find_first_of(" \t");
    const std::string_view word = line.substr(0, space);
    const std::string_view argument = space == std::string_view::npos ? "" : trim(line.substr(space));
    if (word == "wait-for") return parse_wait_for(argument);
    if (word == "send") return parse_send(argument);
    if (word == "send-raw") return SendLine{std::string(argument)};
    if (word == "key") return parse_key(argument);
    if (word == "sleep") return parse_timed(argument, true);
    if (word == "timeout") return parse_timed(argument, false);
    if (word == "quit" && argument.empty()) return Quit{};
    return make_error(fmt::format("unknown command: {}", line));
}

void ScriptRunner::message_received(std::string kind, std::string line) {
    received_.push_back({std::move(kind), std::move(line)});
}

bool ScriptRunner::take_match(const WaitFor& wait) {
    const auto match = std::ranges::find_if(received_, [&wait](const Received& message) {
        return message.kind == wait.kind && message.line.find(wait.containing) != std::string::npos;
    });
    if (match == received_.end()) return false;
    received_.erase(received_.begin(), match + 1);
    return true;
}

Clock::time_point ScriptRunner::deadline(double seconds) const {
    return current_since_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

ScriptStep ScriptRunner::next(Clock::time_point now) {
    for (;;) {
        if (!current_) {
            if (commands_.empty()) {
                if (input_finished_) return ScriptEnd{};
                return ScriptWait{};
            }
            current_ = std::move(commands_.front());
            commands_.pop_front();
            current_since_ = now;
        }
        if (const auto* wait = std::get_if<WaitFor>(&*current_)) {
            if (!take_match(*wait)) {
                if (now >= deadline(wait_s_)) {
                    return ScriptEnd{1, fmt::format("no {} message within {} s", wait->kind, wait_s_)};
                }
                return ScriptWait{deadline(wait_s_)};
            }
        } else if (const auto* sleep = std::get_if<Sleep>(&*current_)) {
            if (now < deadline(sleep->seconds)) return ScriptWait{deadline(sleep->seconds)};
        } else if (const auto* timeout = std::get_if<SetTimeout>(&*current_)) {
            wait_s_ = timeout->seconds;
        } else if (std::holds_alternative<Quit>(*current_)) {
            return ScriptEnd{};
        } else {
            ScriptStep step = std::holds_alternative<SendLine>(*current_)
                                  ? ScriptStep{std::get<SendLine>(*current_)}
                                  : ScriptStep{std::get<PressKey>(*current_)};
            current_.reset();
            return step;
        }
        current_.reset();
    }
}

}  // namespace olvex::simulator
