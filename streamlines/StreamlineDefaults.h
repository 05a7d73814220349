#pragma once

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
} // namespace streamlineDefaults
