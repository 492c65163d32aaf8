// A tray the test clicks and reads: the appearance it was given, the menus popped up (with their items to
// choose from) and the popovers with their shown state.
#pragma once

#include <QIcon>
#include <algorithm>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/Tray.h"

namespace velaro::test {

class FakeTrayPopover final : public TrayPopover {
public:
    explicit FakeTrayPopover(std::shared_ptr<TrayPopoverContent> c) : content(std::move(c)) {}
    void show() override {
        if (!shown) ++showCount;
        shown = true;
    }
    void close() override {
        if (shown) ++closeCount;
        shown = false;
    }
    bool isShown() const override { return shown; }
    Stream<Point> outsideClicks() const override { return outside_.stream(); }

    // A mouse-down elsewhere on the desktop while the popover is shown.
    void clickOutside(Point where = {}) {
        if (shown) outside_.send(where);
    }

    std::shared_ptr<TrayPopoverContent> content;
    bool shown = false;
    int showCount = 0;
    int closeCount = 0;

private:
    PassthroughSubject<Point> outside_;
};

class FakeTray final : public Tray {
public:
    void show(const TrayAppearance& a) override {
        visible = true;
        setAppearance(a);
    }
    void setAppearance(const TrayAppearance& a) override {
        appearance = a;
        appearances.push_back(a);
    }
    void useDesktopIcons() override { ++desktopIconRequests; }
    QIcon iconImage(StatusIcon) const override { return {}; }
    Stream<TrayClick> clicks() const override { return clicks_.stream(); }
    void popUpMenu(std::vector<TrayMenuItem> items) override { menus.push_back(std::move(items)); }
    std::unique_ptr<TrayPopover> makePopover(std::shared_ptr<TrayPopoverContent> content) override {
        auto popover = std::make_unique<FakeTrayPopover>(std::move(content));
        popovers.push_back(popover.get());
        return popover;
    }

    void leftClick(bool control = false) { clicks_.send({TrayButton::left, control}); }
    void rightClick() { clicks_.send({TrayButton::right, false}); }

    // The menu popped up last; empty when none was.
    const std::vector<TrayMenuItem>& lastMenu() const {
        static const std::vector<TrayMenuItem> none;
        return menus.empty() ? none : menus.back();
    }
    // The titles of the last menu, separators as "-".
    std::vector<std::string> lastMenuTitles() const {
        std::vector<std::string> out;
        for (const auto& item : lastMenu()) out.push_back(item.separator ? "-" : item.title);
        return out;
    }
    // Chooses an item of the last menu by its title, as the user would.
    void choose(const std::string& title) {
        const auto& items = lastMenu();
        auto it = std::find_if(items.begin(), items.end(),
                               [&](const TrayMenuItem& i) { return !i.separator && i.title == title; });
        if (it == items.end()) throw std::out_of_range("no menu item " + title);
        if (it->enabled && it->action) it->action();
    }

    bool visible = false;
    TrayAppearance appearance;
    std::vector<TrayAppearance> appearances;
    int desktopIconRequests = 0;
    std::vector<std::vector<TrayMenuItem>> menus;
    // Every popover made, in order; owned by whoever asked for them.
    std::vector<FakeTrayPopover*> popovers;

private:
    PassthroughSubject<TrayClick> clicks_;
};

}  // namespace velaro::test
