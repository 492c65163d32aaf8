// The tour's resumption rules.
#include "onboarding/OnboardingStep.h"

#include "platform/DefaultsStore.h"

namespace velaro {

std::optional<OnboardingStep> onboardingStepFromRaw(std::int64_t raw) {
    if (raw < static_cast<int>(OnboardingStep::welcome) || raw > static_cast<int>(OnboardingStep::fillWindow))
        return std::nullopt;
    return static_cast<OnboardingStep>(raw);
}

bool isFeatureStep(OnboardingStep step) {
    switch (step) {
        case OnboardingStep::style:
        case OnboardingStep::menubarShape:
        case OnboardingStep::roundedCorners:
        case OnboardingStep::lightReflections:
        case OnboardingStep::musicVisualizer:
        case OnboardingStep::progressBar:
        case OnboardingStep::fillWindow:
            return true;
        default:
            return false;
    }
}

std::size_t pageIndex(OnboardingStep step) {
    for (std::size_t i = 0; i < onboardingPageOrder.size(); ++i)
        if (onboardingPageOrder[i] == step) return i;
    return 0;
}

OnboardingStep resumedOnboardingStep(std::int64_t stored) {
    if (const auto step = onboardingStepFromRaw(stored))
        return *step == OnboardingStep::style ? OnboardingStep::menubarShape : *step;
    return stored < 0 ? OnboardingStep::welcome : OnboardingStep::completed;
}

OnboardingStep storedOnboardingStep(const DefaultsStore& defaults) {
    return resumedOnboardingStep(defaults.integerValue(onboardingStepKey).value_or(0));
}

OnboardingStep startPage(OnboardingStep step) {
    // The retired style page and a finished tour show the tour from its start.
    const bool ownPage = step == OnboardingStep::permissions || step == OnboardingStep::allSet ||
                         (isFeatureStep(step) && step != OnboardingStep::style);
    return ownPage ? step : OnboardingStep::welcome;
}

}  // namespace velaro
