// The tour's steps with their stored numbers, the order of its pages, and how a stored number resumes the
// tour.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace velaro {

class DefaultsStore;

enum class OnboardingStep : int {
    welcome = 0,
    permissions = 1,
    // Retired: it stood for a single style page. Never written; read back as the menu-bar shape page.
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

// The defaults key the reached step is stored under.
inline constexpr const char* onboardingStepKey = "onboardingStep";

// The pages in the order Next and Back walk them; the page dots draw one per entry.
inline constexpr std::array<OnboardingStep, 9> onboardingPageOrder{
    OnboardingStep::welcome,        OnboardingStep::permissions,      OnboardingStep::menubarShape,
    OnboardingStep::roundedCorners, OnboardingStep::lightReflections, OnboardingStep::musicVisualizer,
    OnboardingStep::progressBar,    OnboardingStep::fillWindow,       OnboardingStep::allSet,
};

// The step a stored number names; nothing for a number that is no step.
std::optional<OnboardingStep> onboardingStepFromRaw(std::int64_t raw);

// The feature pages (and the retired style page): reaching one starts the runtime, and moving between two of
// them is not animated.
bool isFeatureStep(OnboardingStep step);

// The step's position in the page order; 0 for the steps that have no page of their own.
std::size_t pageIndex(OnboardingStep step);

// A stored number as a step: a valid one gives that step, except the retired style page, which resumes at
// the menu-bar shape page; a negative one gives the welcome page; any other gives completed.
OnboardingStep resumedOnboardingStep(std::int64_t stored);

// The stored step as the tour resumes it. A value that is not a number reads as absent (the welcome page);
// a fractional one counts by its whole part.
OnboardingStep storedOnboardingStep(const DefaultsStore& defaults);

// The tour's first page for a start step.
OnboardingStep startPage(OnboardingStep step);

}  // namespace velaro
