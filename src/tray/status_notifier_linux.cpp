#include "tray/status_notifier_linux.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <utility>

#include "log/log.hpp"
#include "tray/icon_pixmaps_linux.hpp"

namespace olvex::tray {

namespace {

using Pixmap = sdbus::Struct<std::int32_t, std::int32_t, std::vector<std::uint8_t>>;  // (iiay)
using ToolTip = sdbus::Struct<std::string, std::vector<Pixmap>, std::string, std::string>;  // (sa(iiay)ss)

const std::string WATCHER_NAME = "org.kde.StatusNotifierWatcher";
const std::string WATCHER_PATH = "/StatusNotifierWatcher";
const std::string WATCHER_RULE =
    "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
    "arg0='org.kde.StatusNotifierWatcher'";
const std::string TITLE = "OLVEX-Audio-Control";

// A watcher owns its name a moment before its object exists: a call that
// comes too early fails with UnknownObject. Attempts are this far apart, and
// after this many failures the item waits for the next watcher.
constexpr std::chrono::milliseconds RETRY_PAUSE{250};
constexpr int MOST_ATTEMPTS = 20;

// Every size in ARGB32, network byte order: alpha, red, green, blue, with
// the colour straight (not multiplied by alpha).
std::vector<Pixmap> pixmaps(drawn::Colour colour) {
    std::vector<Pixmap> sizes;
    for (const auto& coverage : drawn::COVERAGES) {
        const auto count = static_cast<std::size_t>(coverage.size * coverage.size);
        std::vector<std::uint8_t> bytes;
        bytes.reserve(count * 4);
        for (std::size_t pixel = 0; pixel < count; ++pixel) {
            bytes.insert(bytes.end(), {coverage.alpha[pixel], colour.red, colour.green, colour.blue});
        }
        sizes.emplace_back(coverage.size, coverage.size, std::move(bytes));
    }
    return sizes;
}

const std::string& icon_name(std::uint16_t icon) {
    return icon == ICON_CONNECTED ? ICON_NAME_CONNECTED : ICON_NAME_NO_DEVICE;
}

// The tooltip's body may hold a subset of HTML; a title is plain text.
std::string as_markup(const std::string& text) {
    std::string markup;
    for (const char c : text) {
        switch (c) {
            case '&': markup += "&amp;"; break;
            case '<': markup += "&lt;"; break;
            case '>': markup += "&gt;"; break;
            default: markup += c;
        }
    }
    return markup;
}

bool watcher_absent(const sdbus::Error& error) {
    return error.getName() == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           error.getName() == "org.freedesktop.DBus.Error.NameHasNoOwner";
}

}  // namespace

StatusNotifier::StatusNotifier(std::shared_ptr<TrayHandle> handle, std::vector<MenuEntry> menu, CommandAction action)
    : handle_(std::move(handle)),
      bus_name_("org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-1"),
      connection_(sdbus::createSessionBusConnection(bus_name_)),
      shown_icon_(handle_->icon()),
      shown_tooltip_(handle_->tooltip()) {
    // Following the watcher's name before the first call leaves no gap in
    // which a starting watcher could go unnoticed.
    watcher_match_ = connection_->addMatch(WATCHER_RULE, [this](sdbus::Message& message) {
        std::string name;
        std::string old_owner;
        std::string new_owner;
        message >> name >> old_owner >> new_owner;
        on_watcher_owner(new_owner);
    });
    watcher_ = sdbus::createProxy(*connection_, WATCHER_NAME, WATCHER_PATH);
    menu_ = std::make_unique<DbusMenu>(*connection_, MENU_PATH, std::move(menu), std::move(action));
    export_item();
    register_with_watcher();
}

StatusNotifier::~StatusNotifier() = default;

void StatusNotifier::export_item() {
    item_ = sdbus::createObject(*connection_, ITEM_PATH);
    const auto constant = [this](const std::string& property, auto value) {
        item_->registerProperty(property).onInterface(ITEM_INTERFACE).withGetter([value] { return value; });
    };
    constant("Category", std::string("Hardware"));
    constant("Id", std::string("olvex-audio-control"));
    constant("Title", TITLE);
    constant("Status", std::string("Active"));
    constant("WindowId", std::int32_t{0});
    constant("IconThemePath", std::string());
    constant("OverlayIconName", std::string());
    constant("OverlayIconPixmap", std::vector<Pixmap>{});
    constant("AttentionIconName", std::string());
    constant("AttentionIconPixmap", std::vector<Pixmap>{});
    constant("AttentionMovieName", std::string());
    // The program has no window: a left click opens the menu too.
    constant("ItemIsMenu", true);
    constant("Menu", sdbus::ObjectPath(MENU_PATH));

    auto red = pixmaps(drawn::NO_DEVICE_COLOUR);
    auto green = pixmaps(drawn::CONNECTED_COLOUR);
    item_->registerProperty("IconName").onInterface(ITEM_INTERFACE).withGetter([this] {
        return icon_name(shown_icon_);
    });
    item_->registerProperty("IconPixmap")
        .onInterface(ITEM_INTERFACE)
        .withGetter([this, red = std::move(red), green = std::move(green)] {
            return shown_icon_ == ICON_CONNECTED ? green : red;
        });
    item_->registerProperty("ToolTip").onInterface(ITEM_INTERFACE).withGetter([this] {
        return ToolTip(std::string(), std::vector<Pixmap>{}, TITLE, as_markup(shown_tooltip_));
    });

    // Clicks other than on the menu have nothing to do.
    for (const char* name : {"ContextMenu", "Activate", "SecondaryActivate"}) {
        item_->registerMethod(name).onInterface(ITEM_INTERFACE).implementedAs([](std::int32_t, std::int32_t) {});
    }
    item_->registerMethod("Scroll").onInterface(ITEM_INTERFACE).implementedAs([](std::int32_t, const std::string&) {});

    for (const char* name : {"NewTitle", "NewIcon", "NewAttentionIcon", "NewOverlayIcon", "NewToolTip"}) {
        item_->registerSignal(name).onInterface(ITEM_INTERFACE);
    }
    item_->registerSignal("NewStatus").onInterface(ITEM_INTERFACE).withParameters<std::string>("status");
    item_->finishRegistration();
}

int StatusNotifier::poll_timeout_ms() const {
    const int bus = connection_->getEventLoopPollData().getPollTimeout();
    if (!next_attempt_) return bus;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next_attempt_ - std::chrono::steady_clock::now());
    const int attempt = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
    return bus < 0 ? attempt : std::min(bus, attempt);
}

void StatusNotifier::process() {
    while (connection_->processPendingRequest()) {
    }
    if (next_attempt_ && *next_attempt_ <= std::chrono::steady_clock::now()) register_with_watcher();
}

void StatusNotifier::show_changes() {
    if (const auto icon = handle_->icon(); icon != shown_icon_) {
        shown_icon_ = icon;
        item_->emitSignal("NewIcon").onInterface(ITEM_INTERFACE);
    }
    if (auto tooltip = handle_->tooltip(); tooltip != shown_tooltip_) {
        shown_tooltip_ = std::move(tooltip);
        item_->emitSignal("NewToolTip").onInterface(ITEM_INTERFACE);
    }
}

void StatusNotifier::on_watcher_owner(const std::string& owner) {
    failed_attempts_ = 0;
    next_attempt_.reset();
    // A watcher that leaves forgets the item; the next one is told anew.
    if (!owner.empty()) register_with_watcher();
}

void StatusNotifier::register_with_watcher() {
    next_attempt_.reset();
    watcher_->callMethodAsync("RegisterStatusNotifierItem")
        .onInterface("org.kde.StatusNotifierWatcher")
        .withArguments(bus_name_)
        .uponReplyInvoke([this](const sdbus::Error* error) { on_registration_reply(error); });
}

void StatusNotifier::on_registration_reply(const sdbus::Error* error) {
    if (error == nullptr) {
        failed_attempts_ = 0;
        return;
    }
    // No watcher: the next one to start announces itself.
    if (watcher_absent(*error)) return;
    if (++failed_attempts_ < MOST_ATTEMPTS) {
        next_attempt_ = std::chrono::steady_clock::now() + RETRY_PAUSE;
        return;
    }
    log_message("tray: the StatusNotifierWatcher did not take the icon: " + error->getName() + " " +
                error->getMessage());
}

}  // namespace olvex::tray
