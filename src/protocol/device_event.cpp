#include "protocol/device_event.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace olvex::protocol {
namespace {

using Json = nlohmann::json;

// The outer object or array is level 1; level 128 is refused.
constexpr int MAX_DEPTH = 127;

constexpr std::array<std::string_view, std::variant_size_v<DeviceEvent>> EVENT_NAMES = {
    "hello_ack", "play_pause", "next", "previous", "seek", "seek_relative", "set_volume", "set_mute", "set_lock",
    "resync",
};

// Every member name any event knows. Only these are kept from an object;
// "event" is first.
enum class Member : std::uint8_t { event, version, device, position_s, position, volume, muted, locked, what };
constexpr std::array<std::string_view, 9> MEMBER_NAMES = {
    "event", "version", "device", "position_s", "position", "volume", "muted", "locked", "what",
};

// A top-level member value or array element, reduced to what the events can
// use. Nulls, nested arrays and nested objects are all just "other".
struct Value {
    enum class Kind : std::uint8_t { other, boolean, number, string };
    Kind kind = Kind::other;
    bool flag = false;
    double number = 0.0;
    bool whole = false;  // written without fraction or exponent
    std::string text;

    static Value of_boolean(bool flag) {
        Value value;
        value.kind = Kind::boolean;
        value.flag = flag;
        return value;
    }
    static Value of_number(double number, bool whole) {
        Value value;
        value.kind = Kind::number;
        value.number = number;
        value.whole = whole;
        return value;
    }
    static Value of_string(std::string text) {
        Value value;
        value.kind = Kind::string;
        value.text = std::move(text);
        return value;
    }
};

// An object member seen at the top level: how often (capped at 2) and its
// first value.
struct Slot {
    int count = 0;
    Value value;
};

// The members an event takes, in array order, and how many are required.
struct Shape {
    std::array<Member, 2> members;
    std::size_t size;
    std::size_t required;
};

constexpr std::array<Shape, std::variant_size_v<DeviceEvent>> SHAPES = {{
    {{Member::version, Member::device}, 2, 0},
    {{}, 0, 0},
    {{}, 0, 0},
    {{}, 0, 0},
    {{Member::position_s}, 1, 1},
    {{Member::position}, 1, 1},
    {{Member::volume}, 1, 1},
    {{Member::muted}, 1, 1},
    {{Member::locked}, 1, 1},
    {{Member::what}, 1, 1},
}};

// SAX receiver that keeps only the top level: the known members of an object,
// or the first three elements of an array. Everything deeper is parsed (so
// that the whole line must be valid) but not stored.
class TopLevelReader {
public:
    enum class Root : std::uint8_t { none, object, array };

    bool null() { return take(Value{}); }
    bool boolean(bool flag) { return take(Value::of_boolean(flag)); }
    bool number_integer(Json::number_integer_t number) {
        return take(Value::of_number(static_cast<double>(number), true));
    }
    bool number_unsigned(Json::number_unsigned_t number) {
        return take(Value::of_number(static_cast<double>(number), true));
    }
    bool number_float(Json::number_float_t number, const Json::string_t& /*text*/) {
        return take(Value::of_number(number, false));
    }
    bool string(Json::string_t& text) {
        if (depth_ != 1) return take(Value{});  // not kept; spare the copy
        return take(Value::of_string(std::move(text)));
    }
    bool binary(Json::binary_t& /*bytes*/) { return take(Value{}); }

    bool start_object(std::size_t /*size*/) { return open(Root::object); }
    bool start_array(std::size_t /*size*/) { return open(Root::array); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(Json::string_t& name) {
        if (depth_ == 1) current_ = find_member(name);
        return true;
    }

    bool parse_error(std::size_t /*position*/, const std::string& /*token*/, const Json::exception& error) {
        why_ = error.what();
        return false;
    }

    [[nodiscard]] Root root() const { return root_; }
    [[nodiscard]] const Slot& slot(Member member) const { return slots_[static_cast<std::size_t>(member)]; }
    [[nodiscard]] std::size_t element_count() const { return element_count_; }
    [[nodiscard]] const Value& element(std::size_t index) const { return elements_[index]; }
    [[nodiscard]] std::string& why() { return why_; }

private:
    static std::optional<Member> find_member(std::string_view name) {
        for (std::size_t i = 0; i < MEMBER_NAMES.size(); ++i) {
            if (MEMBER_NAMES[i] == name) return static_cast<Member>(i);
        }
        return std::nullopt;
    }

    bool open(Root kind) {
        if (depth_ == 0) {
            root_ = kind;
        } else if (depth_ == 1) {
            take(Value{});
        }
        if (++depth_ > MAX_DEPTH) {
            why_ = "nested more than 127 levels deep";
            return false;
        }
        return true;
    }

    bool close() {
        --depth_;
        return true;
    }

    bool take(Value value) {
        if (depth_ == 0) {
            why_ = "not an object or array";
            return false;
        }
        if (depth_ > 1) return true;
        if (root_ == Root::array) {
            if (element_count_ < elements_.size()) elements_[element_count_] = std::move(value);
            ++element_count_;
        } else if (current_) {
            Slot& slot = slots_[static_cast<std::size_t>(*current_)];
            if (slot.count == 0) slot.value = std::move(value);
            if (slot.count < 2) ++slot.count;
            current_.reset();
        }
        return true;
    }

    int depth_ = 0;
    Root root_ = Root::none;
    std::optional<Member> current_;
    std::array<Slot, MEMBER_NAMES.size()> slots_;
    std::array<Value, 3> elements_;
    std::size_t element_count_ = 0;
    std::string why_;
};

using Arguments = std::array<const Value*, 2>;

std::optional<double> read_number(const Value& value) {
    if (value.kind != Value::Kind::number) return std::nullopt;
    return value.number;
}

std::optional<bool> read_boolean(const Value& value) {
    if (value.kind != Value::Kind::boolean) return std::nullopt;
    return value.flag;
}

std::optional<std::string> read_string(const Value& value) {
    if (value.kind != Value::Kind::string) return std::nullopt;
    return value.text;
}

std::optional<std::uint8_t> read_byte(const Value& value) {
    if (value.kind != Value::Kind::number || !value.whole || value.number < 0.0 || value.number > 255.0) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value.number);
}

template <typename Read>
auto read_member(const Value& value, Read read, Member member, std::string& why) {
    auto result = read(value);
    if (!result) why = "member \"" + std::string(MEMBER_NAMES[static_cast<std::size_t>(member)]) + "\" is invalid";
    return result;
}

template <typename Event, typename Read>
std::optional<DeviceEvent> single_member(const Arguments& arguments, Read read, Member member, std::string& why) {
    if (arguments[0] == nullptr) {
        why = "member \"" + std::string(MEMBER_NAMES[static_cast<std::size_t>(member)]) + "\" is missing";
        return std::nullopt;
    }
    auto result = read_member(*arguments[0], read, member, why);
    if (!result) return std::nullopt;
    return Event{*result};
}

std::optional<DeviceEvent> hello_ack(const Arguments& arguments, std::string& why) {
    HelloAck ack;
    std::array<std::string*, 2> targets = {&ack.version, &ack.device};
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == nullptr) continue;
        auto text = read_member(*arguments[i], read_string, SHAPES[0].members[i], why);
        if (!text) return std::nullopt;
        *targets[i] = std::move(*text);
    }
    return ack;
}

std::optional<DeviceEvent> make_event(std::size_t index, const Arguments& arguments, std::string& why) {
    const Member member = SHAPES[index].members[0];
    switch (index) {
        case 0: return hello_ack(arguments, why);
        case 1: return PlayPause{};
        case 2: return Next{};
        case 3: return Previous{};
        case 4: return single_member<Seek>(arguments, read_number, member, why);
        case 5: return single_member<SeekRelative>(arguments, read_number, member, why);
        case 6: return single_member<SetVolume>(arguments, read_number, member, why);
        case 7: return single_member<SetMute>(arguments, read_boolean, member, why);
        case 8: return single_member<SetLock>(arguments, read_boolean, member, why);
        default: return single_member<Resync>(arguments, read_byte, member, why);
    }
}

std::optional<std::size_t> event_index(const Value& name, std::string& why) {
    if (name.kind == Value::Kind::string) {
        for (std::size_t i = 0; i < EVENT_NAMES.size(); ++i) {
            if (EVENT_NAMES[i] == name.text) return i;
        }
    }
    why = "unknown event";
    return std::nullopt;
}

std::optional<DeviceEvent> from_object(const TopLevelReader& reader, std::string& why) {
    const Slot& name = reader.slot(Member::event);
    if (name.count != 1) {
        why = name.count == 0 ? "no \"event\" member" : "duplicate \"event\" member";
        return std::nullopt;
    }
    const auto index = event_index(name.value, why);
    if (!index) return std::nullopt;

    // Members of other events are unknown here and ignored, duplicates and all.
    const Shape& shape = SHAPES[*index];
    Arguments arguments{};
    for (std::size_t i = 0; i < shape.size; ++i) {
        const Slot& slot = reader.slot(shape.members[i]);
        if (slot.count > 1) {
            why = "duplicate member \"" + std::string(MEMBER_NAMES[static_cast<std::size_t>(shape.members[i])]) + "\"";
            return std::nullopt;
        }
        if (slot.count == 1) arguments[i] = &slot.value;
    }
    return make_event(*index, arguments, why);
}

std::optional<DeviceEvent> from_array(const TopLevelReader& reader, std::string& why) {
    if (reader.element_count() == 0) {
        why = "empty array";
        return std::nullopt;
    }
    const auto index = event_index(reader.element(0), why);
    if (!index) return std::nullopt;

    const Shape& shape = SHAPES[*index];
    const std::size_t given = reader.element_count() - 1;
    if (given < shape.required || given > shape.size) {
        why = "wrong number of array elements";
        return std::nullopt;
    }
    Arguments arguments{};
    for (std::size_t i = 0; i < given; ++i) arguments[i] = &reader.element(i + 1);
    return make_event(*index, arguments, why);
}

}  // namespace

std::string_view wire_name(const DeviceEvent& event) noexcept { return EVENT_NAMES[event.index()]; }

namespace {

std::optional<DeviceEvent> decode(std::string_view line, std::string& why) {
    // The JSON reader skips a leading byte order mark and stops at a NUL byte
    // as if the input ended there. Neither is valid anywhere in a line (a NUL
    // inside a string would have to be escaped), so both are refused here.
    if (line.starts_with("\xEF\xBB\xBF") || line.find('\0') != std::string_view::npos) {
        why = "stray byte order mark or NUL byte";
        return std::nullopt;
    }
    TopLevelReader reader;
    if (!Json::sax_parse(line.data(), line.data() + line.size(), &reader, Json::input_format_t::json, true)) {
        why = std::move(reader.why());
        return std::nullopt;
    }
    if (reader.root() == TopLevelReader::Root::object) return from_object(reader, why);
    return from_array(reader, why);
}

}  // namespace

std::expected<DeviceEvent, Error> decode_device_event(std::string_view line) {
    std::string why;
    auto event = decode(line, why);
    if (!event) return make_error(std::move(why));
    return std::move(*event);
}

}  // namespace olvex::protocol
