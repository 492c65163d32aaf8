// The tour's steps with their stored numbers, and how a stored number resumes the tour.
#pragma once

#include <cstdint>

namespace velaro {

enum class OnboardingStep : int {
    welcome = 0,
    permissions = 1,
    style = 2,
    allSet = 3,
    completed = 4,
    menubarShape = 5,
    roundedCorners = 6,
    lightReflections = 7,
    musicVisualizer = 8,
    progressBar = 9,
    fillWindow = 10,
};

// The defaults key the current step is stored under.
inline constexpr const char* onboardingStepKey = "onboardingStep";

// A stored number as a step: a valid one gives that step, except the retired style page, which resumes at
// the menu-bar shape page; a negative one gives the welcome page; any other gives completed.
OnboardingStep resumedOnboardingStep(std::int64_t stored);

// The tour's first page for a start step.
OnboardingStep startPage(OnboardingStep step);

}  // namespace velaro
