#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// One fuzz input drives one dataset load followed by the resampling onto the regular grid,
// the way the control dock does it. The input packs both files of a dataset pair:
//
//   bytes 0..3   little-endian uint32 L; bit 31 set means "there is no data file"
//   next L bytes the grid file (fewer if the input ends first)
//   the rest     the data file
//
// An input shorter than 4 bytes is a grid file of its own with an empty data file.
// Shared by the libFuzzer target (clang, sanitizers) and the regression test (g++), so a
// finding replays through exactly the code that found it.
namespace loaderfuzz {

constexpr std::uint32_t kNoDataFile = 0x80000000u;

// Builds a fuzz input from the two files' bytes.
QByteArray pack(const QByteArray &grid, const QByteArray &data, bool withDataFile = true);

// Writes the pair into a private folder (in /dev/shm when there is one), loads it with
// Volume::load, resamples it into a grid volume and checks what must hold afterwards.
// Returns an empty string when all held, else a description of the first broken property.
QString runOne(const std::uint8_t *bytes, std::size_t size);

// A message handler that drops every console message (the load's trace is noise at
// millions of runs per hour).
void silenceConsole();

} // namespace loaderfuzz
