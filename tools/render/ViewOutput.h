#pragma once

// One dataset's work in a tessaly-render run: its volume report on stdout, and its view's
// picture, figure or streamline data in the files the options name.

#include "tools/render/Options.h"

class Volume;

namespace metadata {
struct Metadata;
}

namespace rendertool {

// The volume information report at the probe position, as text or one JSON line. `meta`
// (null: none) adds each channel's value in its quantity's units to the JSON.
void printProbe(const Options &o, const QString &dataset, const Volume &loaded, const metadata::Metadata *meta);

// What renderView works on: the dataset as loaded and its regular grid, its output file and
// grid log (empty: none), and its metadata (null: none).
struct ViewJob
{
    const QString &dataset;
    const Volume &loaded;
    const Volume &grid;
    const QString &out;
    const QString &gridLog;
    const metadata::Metadata *meta;
};

// Renders the dataset's view into its outputs, which are put in place together or not at
// all. Returns 0, or the exit status of its failure (1 failed, 2 a setting this dataset
// cannot take), having said why on stderr.
int renderView(const Options &o, const ViewJob &job);

} // namespace rendertool
