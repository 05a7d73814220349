#pragma once

// Which files a tessaly-render run may write, and how the files of one dataset are put in
// place together.
//
// Paths are compared as the files they name: symlinks and ".." are resolved, so "d/../a.gri"
// and a link to it are a.gri. A file that does not exist yet is named by its resolved folder
// and its own name.

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QIODevice;

namespace outputplan {

// The file `path` names, as the system resolves it: symlinks followed to their target (also
// a dangling one's), ".." after a link taken from the link's target; for a file that does not
// exist, its folder resolved plus its name (the cleaned absolute path when the folder does not
// exist either).
QString resolvedPath(const QString &path);

// A file the run writes, and the option that named it ("-o", "--grid-log").
struct Target
{
    QString option;
    QString path;
};

// The first rule the targets break, as one line naming the option and the path; empty when
// they break none. `inputs` are every file the run reads (both files of each pair). A target
// may not be an input, nor the target of another option or dataset, nor an existing file that
// is not a regular file (a folder, a device, a pipe: renaming over it would replace it).
QString check(const QStringList &inputs, const QList<Target> &targets);

// The output files of one dataset. Each is written to a temporary file beside the file it
// replaces; commit() renames them all into place, or, when any of them fails, leaves every
// file that was there before as it was. While a transaction lives it is current: the output
// writers (Output.h) stage their files in it instead of putting them in place one by one.
class Transaction
{
public:
    Transaction();
    // Removes the temporary files of a transaction that was not committed.
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // The innermost living transaction, or null.
    static Transaction *current();

    // A new temporary file for `path`, open for writing; null (and `error` set to "cannot
    // write PATH: reason") when it cannot be made. It belongs to the transaction.
    QIODevice *stage(const QString &path, QString *error);
    // Ends the writing of a staged file: syncs and closes it. False, with `error`, when the
    // data did not all reach the file (a full disk, a file size limit); the transaction can
    // then no longer be committed.
    bool finish(QIODevice *file, QString *error);
    // Gives up a staged file whose writer failed, with `error` "cannot write PATH: reason":
    // the system's reason when a write failed, else the writer's. The transaction can no
    // longer be committed.
    void fail(QIODevice *file, const QString &writerReason, QString *error);

    // Renames every staged file into place. False, with `error`, when a file failed or a
    // rename does; the files replaced before it are then put back.
    bool commit(QString *error);

private:
    struct Staged;
    std::vector<std::unique_ptr<Staged>> mFiles;
    bool mFailed = false;
    Transaction *mOuter;
};

} // namespace outputplan
