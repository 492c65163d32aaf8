// The tour's resumption rules.
#include "onboarding/OnboardingStep.h"

namespace velaro {

OnboardingStep resumedOnboardingStep(std::int64_t stored) {
    if (stored < 0) return OnboardingStep::welcome;
    if (stored > static_cast<int>(OnboardingStep::fillWindow)) return OnboardingStep::completed;
    const auto step = static_cast<OnboardingStep>(stored);
    return step == OnboardingStep::style ? OnboardingStep::menubarShape : step;
}

OnboardingStep startPage(OnboardingStep step) {
    switch (step) {
        case OnboardingStep::permissions:
        case OnboardingStep::allSet:
        case OnboardingStep::menubarShape:
        case OnboardingStep::roundedCorners:
        case OnboardingStep::lightReflections:
        case OnboardingStep::musicVisualizer:
        case OnboardingStep::progressBar:
        case OnboardingStep::fillWindow:
            return step;
        default:
            return OnboardingStep::welcome;
    }
}

}  // namespace velaro
