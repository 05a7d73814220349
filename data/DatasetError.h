#pragma once

#include <QString>

// Why a dataset could not be made: what kind of fault, and the message the console shows
// for it (the loader's own line, word for word).
struct DatasetError
{
    enum class Kind {
        None,         // no error
        NoDataFile,   // the grid file's name has no ".gri", so no data file can be derived
        CannotOpen,   // the grid or the data file cannot be opened
        NotAFile,     // the grid or the data file is not a regular file (a folder, a pipe)
        NotADataset,  // the grid file does not start with "SN4DB"
        BadHeader,    // negative or impossibly large counts
        TooShort,     // a file holds fewer bytes than its header promises
        NoPoints,     // the header describes no points (or its counts are missing)
        Unusable,     // points were read, but they cannot be resampled and shown (DatasetCheck.h)
        OutOfMemory,  // the volume or its grid cannot be held
        BadArrays,    // arrays in memory that give no dataset (too small, not monotonic, ...)
    };
    Kind kind = Kind::None;
    QString message;
    // Whether the console showed `message`: false only for a header of zero counts, which
    // the loader accepts silently as an empty dataset.
    bool printed = true;

    bool isError() const { return kind != Kind::None; }
};
