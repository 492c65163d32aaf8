// Where a stored step resumes the tour, including values no tour wrote, and the page order's shape.
#include <gtest/gtest.h>

#include "onboarding/OnboardingStep.h"
#include "support/FakeDefaultsStore.h"

namespace velaro {
namespace {

using test::FakeDefaultsStore;

TEST(OnboardingStep, StoredValuesResumeAtTheirPageOrTheNearestSoundOne) {
    struct Case {
        const char* what;
        PlistValue stored;
        OnboardingStep resumed;
        OnboardingStep firstPage;
    };
    const Case cases[] = {
        {"absent (first launch)", PlistValue(), OnboardingStep::welcome, OnboardingStep::welcome},
        {"-1", PlistValue(-1), OnboardingStep::welcome, OnboardingStep::welcome},
        {"the retired style page", PlistValue(2), OnboardingStep::menubarShape, OnboardingStep::menubarShape},
        {"all set", PlistValue(3), OnboardingStep::allSet, OnboardingStep::allSet},
        {"completed", PlistValue(4), OnboardingStep::completed, OnboardingStep::welcome},
        {"permissions", PlistValue(1), OnboardingStep::permissions, OnboardingStep::permissions},
        {"fill window, the last feature", PlistValue(10), OnboardingStep::fillWindow,
         OnboardingStep::fillWindow},
        {"12, past every step", PlistValue(12), OnboardingStep::completed, OnboardingStep::welcome},
        {"a string", PlistValue("5"), OnboardingStep::welcome, OnboardingStep::welcome},
        {"a bool", PlistValue(true), OnboardingStep::welcome, OnboardingStep::welcome},
        {"2.7, truncated", PlistValue(2.7), OnboardingStep::menubarShape, OnboardingStep::menubarShape},
        {"-0.5, truncated to 0", PlistValue(-0.5), OnboardingStep::welcome, OnboardingStep::welcome},
    };
    for (const auto& c : cases) {
        FakeDefaultsStore store;
        if (!c.stored.is_null()) store.seed(onboardingStepKey, c.stored);
        const OnboardingStep resumed = storedOnboardingStep(store);
        EXPECT_EQ(resumed, c.resumed) << c.what;
        EXPECT_EQ(startPage(resumed), c.firstPage) << c.what;
    }
}

TEST(OnboardingStep, RawValuesAreExactlyTheTable) {
    for (std::int64_t raw = -2; raw <= 12; ++raw) {
        const auto step = onboardingStepFromRaw(raw);
        EXPECT_EQ(step.has_value(), raw >= 0 && raw <= 10) << raw;
        if (step) {
            EXPECT_EQ(static_cast<std::int64_t>(*step), raw);
        }
    }
}

TEST(OnboardingStep, FeatureStepsAndPagePositions) {
    int features = 0;
    for (std::size_t i = 0; i < onboardingPageOrder.size(); ++i) {
        EXPECT_EQ(pageIndex(onboardingPageOrder[i]), i);
        features += isFeatureStep(onboardingPageOrder[i]);
    }
    EXPECT_EQ(features, 6) << "six feature pages between permissions and All Set";
    EXPECT_TRUE(isFeatureStep(OnboardingStep::style));
    EXPECT_FALSE(isFeatureStep(OnboardingStep::allSet));
    EXPECT_FALSE(isFeatureStep(OnboardingStep::completed));
    // The steps that have no page of their own count as the first.
    EXPECT_EQ(pageIndex(OnboardingStep::style), 0u);
    EXPECT_EQ(pageIndex(OnboardingStep::completed), 0u);
}

}  // namespace
}  // namespace velaro
