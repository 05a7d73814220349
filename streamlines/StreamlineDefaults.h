#pragma once

#include "data/ViewRect.h"

// The streamline parameters a view starts with and returns to on reset; the dialog's
// controls start at the same values.
namespace streamlineDefaults {
constexpr double kDt = 1.55;      // integration step, grid units
constexpr int kMaxLength = 200;   // positions per regular line
constexpr int kSeeds = 10;        // regular seeds along x and along y
constexpr float kDSep = 30.0f;    // separating distance, grid units
constexpr float kDTest = 0.5f;    // test distance as a fraction of kDSep
constexpr int kMaxSeeds = 500;    // evenly spaced: a pass that starts with this many seeds is the last
constexpr int kMaxSteps = 1000;   // evenly spaced: steps per half of a line
// The dialog's control positions for these defaults: the Dt slider counts hundredths of a
// grid unit, the dTest slider hundredths of kDSep.
constexpr int kDtSlider = 155;
constexpr int kDSepSlider = 30;
constexpr int kDTestSlider = 50;
static_assert(kDtSlider == static_cast<int>(kDt * 100 + 0.5) && kDSepSlider == static_cast<int>(kDSep)
                  && kDTestSlider == static_cast<int>(kDTest * 100 + 0.5f),
              "the dialog's controls must start at the view's defaults");
} // namespace streamlineDefaults

// Everything one streamline picture depends on besides the grid, starting at the view's
// defaults. Grid units are index units of the regular grid; the picture has one pixel per
// grid cell, as the view is sized to the grid.
struct StreamlineSettings
{
    double dt = streamlineDefaults::kDt;
    int method = 0;                 // 0 Euler, 1 midpoint Runge-Kutta (IntegrationMethod)
    int maxLength = streamlineDefaults::kMaxLength; // regular lines only
    int seedsX = streamlineDefaults::kSeeds;        // regular seed grid
    int seedsY = streamlineDefaults::kSeeds;
    bool antialiased = false;
    bool wholeGrid = true;          // else `view`
    ViewRect view;                  // the visible region, grid units
    float dSep = streamlineDefaults::kDSep;         // evenly spaced only
    float dTest = streamlineDefaults::kDTest;
    int maxSeeds = streamlineDefaults::kMaxSeeds;
    int maxSteps = streamlineDefaults::kMaxSteps;
    // Evenly spaced: a half line ends at a step that does not move (the view stores the
    // repeats: false); "grid.log" is written to the working directory as the view writes it.
    bool stopAtRest = false;
    bool writeGridLog = false;
};
