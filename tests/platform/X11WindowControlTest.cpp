// Title-bar buttons and click flags on X11 without a display: the layout from the window manager's
// configuration, which button a title-bar window is, and the tap's modifier flags.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include "platform/linux/X11EventTap.h"
#include "platform/linux/X11WindowControl.h"

namespace velaro {
namespace {

TEST(X11TitleLayout, ReadFromOpenboxsConfigurationWithItsDefaultAndForNoOtherWindowManager) {
    EXPECT_EQ(titleLayoutFor("Openbox", "<theme><name>X</name><titleLayout>NLMIC</titleLayout></theme>"),
              "NLMIC");
    EXPECT_EQ(titleLayoutFor("Openbox", "<titleLayout>\n  dlsimc </titleLayout>"), "DLSIMC");
    EXPECT_EQ(titleLayoutFor("Openbox", "<theme><name>X</name></theme>"), "NLIMC");
    EXPECT_EQ(titleLayoutFor("Openbox", "<titleLayout></titleLayout>"), "NLIMC");
    EXPECT_EQ(titleLayoutFor("Openbox", ""), "NLIMC");
    EXPECT_FALSE(titleLayoutFor("xfwm4", "<titleLayout>NLIMC</titleLayout>"));
    EXPECT_FALSE(titleLayoutFor("", ""));
}

// The title bar the test desktop's theme draws for "NLIMC": icon, label, iconify, maximise, close, and
// the frame's non-square handle windows around them.
struct X11TitleButtons : ::testing::Test {
    const Rect icon{205, 203, 14, 14}, label{253, 203, 196, 14};
    const Rect iconify{453, 204, 12, 12}, maximise{469, 204, 12, 12}, close{485, 204, 12, 12};
    const std::vector<Rect> handles{
        {497, 201, 4, 18}, {476, 201, 25, 3}, {201, 201, 4, 18}, {226, 201, 250, 3}};
    std::vector<Rect> siblings() const {
        auto all = handles;
        for (const auto& r : {close, maximise, iconify, label, icon}) all.push_back(r);
        return all;
    }
    const std::set<char> all{'N', 'I', 'M', 'C', 'S', 'D'};
};

TEST_F(X11TitleButtons, EachButtonIsNamedByItsPlaceInTheLayout) {
    EXPECT_EQ(titleButtonLetter("NLIMC", siblings(), maximise, all), 'M');
    EXPECT_EQ(titleButtonLetter("NLIMC", siblings(), close, all), 'C');
    EXPECT_EQ(titleButtonLetter("NLIMC", siblings(), iconify, all), 'I');
    EXPECT_EQ(titleButtonLetter("NLIMC", siblings(), icon, all), 'N');
    EXPECT_FALSE(titleButtonLetter("NLIMC", siblings(), label, all)) << "the label is no button";
    // Another layout puts the close button where maximise was.
    EXPECT_EQ(titleButtonLetter("NLMIC", siblings(), maximise, all), 'I');
}

TEST_F(X11TitleButtons, LettersTheWindowDoesNotShowAreSkipped) {
    // A window that cannot be shaded: "NLSIMC" still names the three right-hand buttons correctly.
    EXPECT_EQ(titleButtonLetter("NLSIMC", siblings(), maximise, {'N', 'I', 'M', 'C'}), 'M');
    // A window that cannot be maximised shows two right-hand buttons: iconify, close.
    std::vector<Rect> two = handles;
    for (const auto& r : {icon, label, Rect{469, 204, 12, 12}, Rect{485, 204, 12, 12}}) two.push_back(r);
    EXPECT_EQ(titleButtonLetter("NLIMC", two, Rect{469, 204, 12, 12}, {'N', 'I', 'C'}), 'I');
    // When the allowed actions do not match what is drawn, the full layout is tried.
    EXPECT_EQ(titleButtonLetter("NLIMC", siblings(), maximise, {'N'}), 'M');
    // Neither matches: no answer rather than a wrong one.
    EXPECT_FALSE(titleButtonLetter("NLC", siblings(), maximise, all));
}

TEST(X11TapFlags, XModifiersBecomeTheTapsFlags) {
    EXPECT_EQ(tapFlagsFor(0), 0u);
    EXPECT_EQ(tapFlagsFor(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2), TapEvent::shiftFlag);
    EXPECT_EQ(tapFlagsFor(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4 | XCB_BUTTON_MASK_1),
              TapEvent::controlFlag | TapEvent::optionFlag | TapEvent::commandFlag);
}

}  // namespace
}  // namespace velaro
