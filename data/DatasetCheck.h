#pragma once

// Whether a loaded dataset can be shown at all, and the loader's reasons for what it refused.
// The tools and the control dock ask the same questions, so that a dataset is refused with
// the same words wherever it is loaded.

#include <QString>
#include <QStringList>

#include <thread>

class Volume;

namespace dataset {

// Why a dataset that the loader read (pointCount() > 0) cannot be resampled and shown, as
// one line without the file's name, e.g. "the extent is empty: all 400 points lie at (3, 4)";
// empty when it can. Refused: fewer than 2 points along x or y, no finite position, an extent
// that is infinite, never set (positions beyond the loader's starting corners of +-99999999),
// or so narrow that its index scale (points per world unit, single precision) is infinite.
// Positions are read in world coordinates, x and y only.
QString whyUnusable(const Volume &loaded);

// The console line that refuses such a dataset ("Not loaded: " + the reason).
QString unusableMessage(const QString &reason);

// Collects the console messages (qDebug and friends) of the creating thread while it lives
// and passes every message on to the handler that was installed before, so the console
// trace stays as it is. One capture at a time.
class RemarkCapture
{
public:
    RemarkCapture();
    ~RemarkCapture();
    RemarkCapture(const RemarkCapture &) = delete;
    RemarkCapture &operator=(const RemarkCapture &) = delete;

    // What was said apart from the loader's normal trace ("Dataset size:", "min:" ...), one
    // remark per message, joined by "; ": the reason for a refusal, or a warning.
    QString remarks() const;

private:
    friend struct RemarkHandler;
    QStringList mMessages;
    std::thread::id mThread;
};

} // namespace dataset
