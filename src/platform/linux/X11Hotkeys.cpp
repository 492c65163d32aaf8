// Global hot keys on X11: modifier mapping, lock-state grabs, repeat filtering and delivery.
#include "platform/linux/X11Hotkeys.h"

#include <xcb/xcb.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>

#include "base/Log.h"
#include "platform/linux/XcbUtil.h"
#include "platform/linux/XkbKeyboardLayout.h"

namespace velaro {

namespace {

constexpr std::uint16_t kShift = XCB_MOD_MASK_SHIFT, kLock = XCB_MOD_MASK_LOCK,
                        kControl = XCB_MOD_MASK_CONTROL;
// Shift, Control and Mod1 to Mod5: the modifiers a combination can consist of (not the mouse buttons).
constexpr std::uint16_t kCombinable =
    kShift | kControl | XCB_MOD_MASK_1 | XCB_MOD_MASK_2 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;
constexpr std::uint8_t kBadAccess = 10;

// Keysyms whose keys decide the masks.
constexpr std::uint32_t kNumLock = 0xff7f, kSuperL = 0xffeb, kSuperR = 0xffec, kAltL = 0xffe9, kAltR = 0xffea;

}  // namespace

X11ModifierMasks modifierMasksFrom(const std::vector<std::vector<std::uint8_t>>& rows,
                                   const std::set<std::uint8_t>& numLockKeys,
                                   const std::set<std::uint8_t>& superKeys,
                                   const std::set<std::uint8_t>& altKeys) {
    X11ModifierMasks masks;
    std::optional<std::uint16_t> numLock, super, alt;
    // Mod1 to Mod5 only: a key on Shift, Lock or Control never stands for another modifier.
    for (std::size_t i = 3; i < rows.size() && i < 8; ++i) {
        const std::uint16_t mask = 1u << i;
        for (auto key : rows[i]) {
            if (key == 0) continue;
            if (!numLock && numLockKeys.count(key)) numLock = mask;
            if (!super && superKeys.count(key)) super = mask;
            if (!alt && altKeys.count(key)) alt = mask;
        }
    }
    // No Num Lock key on any modifier: its state cannot show in events, so no variant is needed for it.
    masks.numLock = numLock.value_or(0);
    if (super) masks.super = *super;
    if (alt) masks.alt = *alt;
    return masks;
}

X11ModifierMasks readModifierMasks(xcb_connection_t* c) {
    if (!c || xcb_connection_has_error(c)) return {};
    const auto* setup = xcb_get_setup(c);
    const std::uint8_t first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto modAsk = xcb_get_modifier_mapping(c);
    auto mapAsk = xcb_get_keyboard_mapping(c, first, count);
    const auto modReply = x11::awaitReply(c, modAsk, xcb_get_modifier_mapping_reply);
    const auto mapReply = x11::awaitReply(c, mapAsk, xcb_get_keyboard_mapping_reply);
    const auto* mod = modReply.get();
    const auto* map = mapReply.get();
    X11ModifierMasks masks;
    if (mod && map) {
        std::vector<std::vector<std::uint8_t>> rows(8);
        const auto* codes = xcb_get_modifier_mapping_keycodes(mod);
        for (int i = 0; i < 8; ++i)
            rows[i].assign(codes + i * mod->keycodes_per_modifier,
                           codes + (i + 1) * mod->keycodes_per_modifier);
        std::set<std::uint8_t> numLock, super, alt;
        const auto* syms = xcb_get_keyboard_mapping_keysyms(map);
        const int perKey = map->keysyms_per_keycode;
        for (int k = 0; k < count && perKey > 0; ++k)
            for (int l = 0; l < perKey; ++l) {
                const auto sym = syms[k * perKey + l];
                const std::uint8_t key = first + k;
                if (sym == kNumLock) numLock.insert(key);
                if (sym == kSuperL || sym == kSuperR) super.insert(key);
                if (sym == kAltL || sym == kAltR) alt.insert(key);
            }
        masks = modifierMasksFrom(rows, numLock, super, alt);
    }
    return masks;
}

std::uint16_t xModifiersFor(std::uint32_t modifiers, const X11ModifierMasks& masks) {
    std::uint16_t x = 0;
    if (modifiers & Hotkeys::commandMask) x |= masks.super;
    if (modifiers & Hotkeys::optionMask) x |= masks.alt;
    if (modifiers & Hotkeys::controlMask) x |= kControl;
    if (modifiers & Hotkeys::shiftMask) x |= kShift;
    return x;
}

std::uint32_t modifierFlagsFromXState(std::uint16_t state, const X11ModifierMasks& masks) {
    std::uint32_t flags = 0;
    if (state & kShift) flags |= ModifierFlag::shift;
    if (state & kControl) flags |= ModifierFlag::control;
    if (masks.alt && (state & masks.alt)) flags |= ModifierFlag::option;
    if (masks.super && (state & masks.super)) flags |= ModifierFlag::command;
    return flags;
}

std::vector<std::uint16_t> lockVariants(std::uint16_t modifiers, std::uint16_t numLockMask) {
    std::vector<std::uint16_t> out;
    for (std::uint16_t extra : {std::uint16_t(0), kLock, numLockMask, std::uint16_t(kLock | numLockMask)}) {
        const std::uint16_t v = modifiers | extra;
        if (std::find(out.begin(), out.end(), v) == out.end()) out.push_back(v);
    }
    return out;
}

void HotKeyDispatch::add(std::uint64_t ref, std::uint8_t keycode, std::uint16_t modifiers, HotKeyID id) {
    entries_[ref] = Entry{keycode, modifiers, id};
}

void HotKeyDispatch::remove(std::uint64_t ref) {
    entries_.erase(ref);
}

bool HotKeyDispatch::holds(std::uint8_t keycode, std::uint16_t modifiers) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const auto& e) {
        return e.second.keycode == keycode && e.second.modifiers == modifiers;
    });
}

HotKeyDispatch::Outcome HotKeyDispatch::keyPress(std::uint8_t keycode, std::uint16_t state,
                                                 std::uint32_t time, std::uint16_t numLockMask) {
    const std::uint16_t modifiers = state & kCombinable & ~numLockMask;
    const Entry* match = nullptr;
    for (const auto& [ref, e] : entries_)
        if (e.keycode == keycode && e.modifiers == modifiers) match = &e;
    if (!match) return {};
    // Held down already, or a repeat that the server sent as a release and a press of the same time.
    const auto released = lastRelease_.find(keycode);
    const bool repeat = down_.count(keycode) || (released != lastRelease_.end() && released->second == time);
    down_.insert(keycode);
    if (repeat) return {true, std::nullopt};
    return {true, match->id};
}

HotKeyDispatch::Outcome HotKeyDispatch::keyRelease(std::uint8_t keycode, std::uint32_t time) {
    // Releases are matched by key alone: the modifiers may have been let go first.
    if (!down_.erase(keycode)) return {};
    lastRelease_[keycode] = time;
    return {true, std::nullopt};
}

X11Hotkeys::X11Hotkeys(xcb_connection_t* connection, std::uint32_t root)
    : connection_(connection), root_(root) {
    if (auto* app = QCoreApplication::instance()) app->installNativeEventFilter(this);
}

std::unique_ptr<X11Hotkeys> X11Hotkeys::create(xcb_connection_t* c) {
    if (!c || xcb_connection_has_error(c)) return nullptr;
    auto screen = xcb_setup_roots_iterator(xcb_get_setup(c));
    if (!screen.rem) return nullptr;
    return std::make_unique<X11Hotkeys>(c, screen.data->root);
}

X11Hotkeys::~X11Hotkeys() {
    if (auto* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
    for (const auto& [ref, grab] : grabs_) ungrab(grab.keycode, grab.variants);
    if (connection_) xcb_flush(connection_);
}

std::uint64_t X11Hotkeys::installHandler(Handler handler) {
    if (!handler) return 0;
    handlers_.emplace_back(++nextRef_, std::move(handler));
    return nextRef_;
}

void X11Hotkeys::removeHandler(std::uint64_t ref) {
    std::erase_if(handlers_, [ref](const auto& entry) { return entry.first == ref; });
}

HotKeyRegistration X11Hotkeys::registerHotKey(std::uint32_t virtualKeyCode, std::uint32_t modifiers,
                                              HotKeyID id) {
    if (!connection_ || xcb_connection_has_error(connection_)) return {0, HotKeyError::unavailable};
    const auto* setup = xcb_get_setup(connection_);
    const auto code = xKeyCode(virtualKeyCode);
    if (!code || *code < setup->min_keycode || *code > setup->max_keycode)
        return {0, HotKeyError::unsupportedKey};
    const auto keycode = static_cast<std::uint8_t>(*code);

    const auto masks = readModifierMasks(connection_);
    masks_ = masks;
    const auto xmods = xModifiersFor(modifiers, masks);
    // The server lets a client grab the same combination twice, the second replacing the first; a second
    // registration of ours is refused like another program's.
    if (dispatch_.holds(keycode, xmods)) return {0, HotKeyError::inUse};

    const auto variants = lockVariants(xmods, masks.numLock);
    std::vector<xcb_void_cookie_t> asks;
    for (auto v : variants)
        asks.push_back(xcb_grab_key_checked(connection_, 0, root_, v, keycode, XCB_GRAB_MODE_ASYNC,
                                            XCB_GRAB_MODE_ASYNC));
    std::vector<std::uint16_t> granted;
    HotKeyError error = HotKeyError::none;
    for (std::size_t i = 0; i < asks.size(); ++i) {
        if (const auto e = x11::checkRequest(connection_, asks[i])) {
            if (error == HotKeyError::none)
                error = e->error_code == kBadAccess ? HotKeyError::inUse : HotKeyError::unavailable;
        } else {
            granted.push_back(variants[i]);
        }
    }
    if (error != HotKeyError::none) {
        // Half a combination would fire only in some lock states: give back what was granted.
        ungrab(keycode, granted);
        xcb_flush(connection_);
        return {0, error};
    }
    const auto ref = ++nextRef_;
    grabs_[ref] = Grab{keycode, variants, modifiers, id};
    dispatch_.add(ref, keycode, xmods, id);
    return {ref, HotKeyError::none};
}

void X11Hotkeys::unregisterHotKey(std::uint64_t ref) {
    const auto it = grabs_.find(ref);
    if (it == grabs_.end()) return;
    ungrab(it->second.keycode, it->second.variants);
    xcb_flush(connection_);
    dispatch_.remove(ref);
    grabs_.erase(it);
}

void X11Hotkeys::modifierMapChanged() {
    if (!connection_ || xcb_connection_has_error(connection_) || grabs_.empty()) return;
    const auto masks = readModifierMasks(connection_);
    if (masks == masks_) return;
    masks_ = masks;
    // Num Lock, Alt or Super moved to another modifier: the grabs must follow, or the keys stop working
    // (or work only with Num Lock in one state).
    for (auto& [ref, grab] : grabs_) {
        ungrab(grab.keycode, grab.variants);
        const auto xmods = xModifiersFor(grab.modifiers, masks);
        grab.variants = lockVariants(xmods, masks.numLock);
        for (auto v : grab.variants)
            xcb_grab_key(connection_, 0, root_, v, grab.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        dispatch_.remove(ref);
        dispatch_.add(ref, grab.keycode, xmods, grab.id);
    }
    xcb_flush(connection_);
}

void X11Hotkeys::ungrab(std::uint8_t keycode, const std::vector<std::uint16_t>& variants) {
    for (auto v : variants) xcb_ungrab_key(connection_, keycode, root_, v);
}

bool X11Hotkeys::handleEvent(const xcb_generic_event_t& event) {
    const auto type = event.response_type & 0x7f;
    HotKeyDispatch::Outcome outcome;
    if (type == XCB_KEY_PRESS) {
        const auto& key = reinterpret_cast<const xcb_key_press_event_t&>(event);
        outcome = dispatch_.keyPress(key.detail, key.state, key.time, masks_.numLock);
    } else if (type == XCB_KEY_RELEASE) {
        const auto& key = reinterpret_cast<const xcb_key_release_event_t&>(event);
        outcome = dispatch_.keyRelease(key.detail, key.time);
    } else if (type == XCB_MAPPING_NOTIFY) {
        const auto& mapping = reinterpret_cast<const xcb_mapping_notify_event_t&>(event);
        if (mapping.request != XCB_MAPPING_POINTER) modifierMapChanged();
        return false;  // the toolkit follows the new map too
    }
    if (outcome.fire) {
        // Newest first; a handler may install another, so walk a copy.
        const auto handlers = handlers_;
        for (auto it = handlers.rbegin(); it != handlers.rend(); ++it)
            if (it->second(*outcome.fire) == HotKeyStatus::handled) break;
    }
    return outcome.consumed;
}

bool X11Hotkeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message) return false;
    return handleEvent(*static_cast<const xcb_generic_event_t*>(message));
}

}  // namespace velaro
