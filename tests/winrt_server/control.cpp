#include "winrt_server/control.hpp"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "winrt_server/media_objects.hpp"
#include "winrt_server/server_state.hpp"

namespace olvex::test_server {

namespace {

// Splits off the first word of `rest`.
std::string_view next_word(std::string_view& rest) {
    const auto end = rest.find(' ');
    const std::string_view word = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return word;
}

template <class Number>
std::optional<Number> parse_number(std::string_view text, int base = 10) {
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text.remove_prefix(2);
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::optional<double> parse_double(std::string_view text) {
    try {
        std::size_t used = 0;
        const double value = std::stod(std::string(text), &used);
        if (used != text.size()) return std::nullopt;
        return value;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::shared_ptr<const Bytes>> parse_hex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    auto bytes = std::make_shared<Bytes>();
    for (std::size_t at = 0; at < text.size(); at += 2) {
        const auto byte = parse_number<unsigned>(text.substr(at, 2), 16);
        if (!byte) return std::nullopt;
        bytes->push_back(static_cast<BYTE>(*byte));
    }
    return bytes;
}

std::int64_t now_ticks() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

std::optional<SessionEventKind> session_event(std::string_view name) {
    if (name == "media_properties") return SessionEventKind::media_properties;
    if (name == "playback_info") return SessionEventKind::playback_info;
    if (name == "timeline_properties") return SessionEventKind::timeline_properties;
    return std::nullopt;
}

std::optional<ManagerEventKind> manager_event(std::string_view name) {
    if (name == "sessions_changed") return ManagerEventKind::sessions_changed;
    if (name == "current_session_changed") return ManagerEventKind::current_session_changed;
    return std::nullopt;
}

std::string joined(const std::vector<std::string>& entries) {
    std::string text;
    for (const auto& entry : entries) {
        if (!text.empty()) text += '|';
        text += entry;
    }
    return text;
}

const std::string OK = "ok";

std::string error(const std::string& reason) { return "error " + reason; }

// Applies `change` to the data of session `id`.
template <class Change>
std::string change_session(std::string_view id_text, Change change) {
    const auto id = parse_number<int>(id_text);
    auto session = id ? manager().session(*id) : Ref<Session>();
    if (!session) return error("no such session");
    auto data = session->data();
    if (const std::string problem = change(data); !problem.empty()) return error(problem);
    session->set_data(data);
    return OK;
}

std::string set_properties(std::string_view id, std::string_view texts) {
    return change_session(id, [texts](SessionData& data) {
        std::vector<std::string> fields;
        std::istringstream in{std::string(texts)};
        for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
        fields.resize(3);
        data.title = fields[0];
        data.artist = fields[1];
        data.album = fields[2];
        return std::string();
    });
}

std::string set_thumbnail(std::string_view id, std::string_view hex) {
    return change_session(id, [hex](SessionData& data) {
        if (hex == "none") {
            data.thumbnail.reset();
            return std::string();
        }
        auto bytes = parse_hex(hex);
        if (!bytes) return std::string("bad hex");
        data.thumbnail = *bytes;
        return std::string();
    });
}

std::string set_playback(std::string_view id, std::string_view rest) {
    return change_session(id, [rest](SessionData& data) mutable {
        const auto status = parse_number<std::int32_t>(next_word(rest));
        if (!status) return std::string("bad status");
        data.status = *status;
        if (rest == "none") {
            data.rate.reset();
        } else if (const auto rate = parse_double(rest)) {
            data.rate = *rate;
        } else {
            return std::string("bad rate");
        }
        return std::string();
    });
}

std::string set_timeline(std::string_view id, std::string_view rest) {
    return change_session(id, [rest](SessionData& data) mutable {
        const auto start = parse_number<std::int64_t>(next_word(rest));
        const auto end = parse_number<std::int64_t>(next_word(rest));
        const auto position = parse_number<std::int64_t>(next_word(rest));
        const auto updated = rest == "now" ? std::optional(now_ticks()) : parse_number<std::int64_t>(rest);
        if (!start || !end || !position || !updated) return std::string("bad ticks");
        data.start = *start;
        data.end = *end;
        data.position = *position;
        data.last_updated = *updated;
        return std::string();
    });
}

// A title of `bytes` letters "x": a player that sends text without bound,
// without a megabyte on the control line.
std::string set_long_title(std::string_view id, std::string_view bytes) {
    const auto size = parse_number<std::size_t>(bytes);
    if (!size) return error("bad byte count");
    return change_session(id, [&](SessionData& data) {
        data.title.assign(*size, 'x');
        return std::string();
    });
}

// `count` timeline changes in a row, each raised at once, the position one
// millisecond further each time: a player that floods its listeners.
std::string burst_timeline(std::string_view id_text, std::string_view count_text) {
    const auto id = parse_number<int>(id_text);
    const auto count = parse_number<int>(count_text);
    auto session = id ? manager().session(*id) : Ref<Session>();
    if (!session || !count) return error("bad burst");
    constexpr std::int64_t TICKS_PER_MILLISECOND = 10'000;
    for (int i = 0; i < *count; ++i) {
        auto data = session->data();
        data.position += TICKS_PER_MILLISECOND;
        data.last_updated = now_ticks();
        session->set_data(data);
        session->raise(SessionEventKind::timeline_properties);
    }
    return OK;
}

std::string raise(std::string_view rest) {
    const std::string_view first = next_word(rest);
    if (const auto kind = manager_event(first)) {
        manager().raise(*kind);
        return OK;
    }
    const auto id = parse_number<int>(first);
    auto session = id ? manager().session(*id) : Ref<Session>();
    const auto kind = session_event(rest);
    if (!session || !kind) return error("bad event");
    session->raise(*kind);
    return OK;
}

std::string handlers(std::string_view rest) {
    const std::string_view owner = next_word(rest);
    if (owner == "manager") {
        const auto kind = manager_event(rest);
        if (!kind) return error("bad event");
        return "ok " + std::to_string(manager().handler_count(*kind));
    }
    const auto id = parse_number<int>(owner);
    auto session = id ? manager().session(*id) : Ref<Session>();
    const auto kind = session_event(rest);
    if (!session || !kind) return error("bad event");
    return "ok " + std::to_string(session->handler_count(*kind));
}

std::string fail(std::string_view rest) {
    const std::string method(next_word(rest));
    const auto code = parse_number<std::uint32_t>(next_word(rest), 16);
    if (method.empty() || !code) return error("bad failure");
    const FailureMode mode = rest == "operation" ? FailureMode::operation : FailureMode::call;
    state().fail_next(method, static_cast<HRESULT>(*code), mode);
    return OK;
}

std::string hang(std::string_view rest) {
    const std::string method(next_word(rest));
    if (method.empty() || (rest != "on" && rest != "off")) return error("bad hang");
    state().set_hanging(method, rest == "on");
    return OK;
}

std::string read(std::string_view what) {
    if (what == "commands") return "ok " + joined(state().commands());
    if (what == "calls") return "ok " + joined(state().call_counts());
    if (what == "violations") return "ok " + joined(state().violations());
    return error("nothing to read");
}

std::string limit_loads(std::string_view bytes) {
    const auto limit = bytes == "none" ? std::optional(ServerState::NO_LOAD_LIMIT) : parse_number<std::uint32_t>(bytes);
    if (!limit) return error("bad byte count");
    state().set_load_limit(*limit);
    return OK;
}

std::string reset() {
    manager().reset();
    state().reset();
    return OK;
}

}  // namespace

std::int64_t settled_object_count() {
    wait_for_server_threads(std::chrono::seconds(10));
    return live_object_count();
}

std::string execute_control_line(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    std::string_view rest = line;
    const std::string_view verb = next_word(rest);
    if (verb == "add") return "ok " + std::to_string(manager().add_session(std::string(rest)));
    if (verb == "remove") {
        const auto id = parse_number<int>(rest);
        return id && manager().remove_session(*id) ? OK : error("no such session");
    }
    if (verb == "current") {
        const auto id = rest == "none" ? std::optional(0) : parse_number<int>(rest);
        return id && manager().set_current(*id) ? OK : error("no such session");
    }
    if (verb == "properties") return set_properties(next_word(rest), rest);
    if (verb == "thumbnail") return set_thumbnail(next_word(rest), rest);
    if (verb == "playback") return set_playback(next_word(rest), rest);
    if (verb == "timeline") return set_timeline(next_word(rest), rest);
    if (verb == "long_title") return set_long_title(next_word(rest), rest);
    if (verb == "timeline_burst") return burst_timeline(next_word(rest), rest);
    if (verb == "raise") return raise(rest);
    if (verb == "handlers") return handlers(rest);
    if (verb == "fail") return fail(rest);
    if (verb == "hang") return hang(rest);
    if (verb == "synchronous") {
        state().set_synchronous(rest == "on");
        return OK;
    }
    if (verb == "read") return read(rest);
    if (verb == "load_limit") return limit_loads(rest);
    if (verb == "objects") return "ok " + std::to_string(settled_object_count());
    if (verb == "reset") return reset();
    if (verb == "start") return OK;
    return error("unknown command");
}

}  // namespace olvex::test_server
