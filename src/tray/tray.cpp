#include "tray/tray.hpp"

#include <utility>

#include "base/text.hpp"
#include "base/utf16.hpp"

namespace olvex::tray {

namespace {

struct PublishedHandle {
    std::mutex mutex;
    std::shared_ptr<TrayHandle> handle;
};

PublishedHandle& published() {
    static PublishedHandle slot;
    return slot;
}

}  // namespace

void TrayHandle::set_icon(std::uint16_t number) {
    icon_.store(number);
    if (const auto target = window(); target != 0) post_tray_message(target, MESSAGE_SHOW_ICON);
}

void TrayHandle::set_tooltip(std::string text) {
    {
        const std::lock_guard lock(tooltip_mutex_);
        tooltip_ = std::move(text);
    }
    // Never post under the lock: the window thread takes it to read the text.
    if (const auto target = window(); target != 0) post_tray_message(target, MESSAGE_SHOW_TOOLTIP);
}

std::string TrayHandle::tooltip() const {
    const std::lock_guard lock(tooltip_mutex_);
    return tooltip_;
}

bool publish_tray_handle(std::shared_ptr<TrayHandle> handle) {
    auto& slot = published();
    const std::lock_guard lock(slot.mutex);
    if (slot.handle) return false;
    slot.handle = std::move(handle);
    return true;
}

std::shared_ptr<TrayHandle> tray_handle() {
    auto& slot = published();
    const std::lock_guard lock(slot.mutex);
    return slot.handle;
}

void set_tray_icon(std::uint16_t number) {
    if (const auto handle = tray_handle()) handle->set_icon(number);
}

void set_tray_tooltip(std::string text) {
    if (const auto handle = tray_handle()) handle->set_tooltip(std::move(text));
}

std::u16string tooltip_field_text(std::string_view utf8) {
    std::u16string units = utf8_to_utf16(utf8);
    if (units.size() > TOOLTIP_UNITS) units.resize(TOOLTIP_UNITS);
    // A cut between the two halves of a pair would leave half a character.
    if (!units.empty() && is_high_surrogate(units.back())) units.pop_back();
    return units;
}

}  // namespace olvex::tray
