#pragma once

// What the adapter's three parts (datasets, lines, pictures) share: the dataset behind the
// binding's handle, the console guard and the texts of messages. Not seen by the binding.

#include "python/src/Adapter.h"

#include "data/Dataset.h"
#include "data/Metadata.h"
#include "tools/render/Pipeline.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <string>

namespace tessalypy {

// The core's dataset, and its two volumes for the calls of the adapter.
class Dataset
{
public:
    explicit Dataset(std::shared_ptr<const ::Dataset> d) : core(std::move(d)), loaded(&core->loaded()), grid(&core->grid()) {}
    std::shared_ptr<const ::Dataset> core;
    const Volume *loaded;
    const Volume *grid;
    std::shared_ptr<const metadata::Metadata> meta; // NAME.meta.json of a loaded pair; null: none
};

// Marks one call of the module. The core traces its work on the console (qDebug): inside a
// call that trace is dropped, or, with `capture`, this thread's messages are collected there;
// outside, messages go to the handler that was installed before (another Qt user in the same
// interpreter).
class Quiet
{
public:
    explicit Quiet(QStringList *capture = nullptr);
    ~Quiet();
    Quiet(const Quiet &) = delete;
    Quiet &operator=(const Quiet &) = delete;

private:
    QStringList *mPrevious;
};

inline std::string text(const QString &s)
{
    return s.toStdString();
}

// Shortest text that reads back as the same number, for messages.
std::string number(double v);

// The tool's settings of a streamline view (evenly spaced or regular), checked against its
// ranges. Throws ValueError with the tool's message, named as the Python argument.
pipeline::StreamSettings streamSettings(const LineSettings &l, bool evenly);

// A QGuiApplication for the pictures, made once when none exists (see AdapterPicture.cpp).
void ensureGuiApplication();

} // namespace tessalypy
