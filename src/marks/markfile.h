#pragma once

#include "base/markline.h"

#include <QString>

namespace marks {

// Why a save did not reach the file.
enum class SaveFailure {
    None,
    FolderMissing, // the folder is not there, or is a file
    NotAFile,      // a folder stands at the file's name
    NotPermitted,  // the file or its folder may not be written
    WriteFailed,   // writing or finishing the file failed (a full disk, an I/O error)
    NotReadable,   // the file's lines after the first could not be read to be kept
    TooLong,       // its first line is beyond kMaxMarkLineBytes: marks never read, kept as they are
};

// A first line longer than this is refused: no list of real codes comes near it (some 52,000
// marks), and the list window would take many seconds and far more memory than the file.
constexpr qint64 kMaxMarkLineBytes = 256 * 1024;

struct SaveResult {
    SaveFailure failure = SaveFailure::None;
    QString detail; // the system's own words, for a log or the curious
    bool saved() const { return failure == SaveFailure::None; }
    explicit operator bool() const { return saved(); }
};

// Writes text in code page 932 + CR LF as the file's first line, followed byte for byte by what
// followed the old first line's end (CR LF, LF or a lone CR), so that the old file stays whole
// until the new one is complete (written beside it and renamed into place). A symbolic link is
// written at its target and stays a link. Where the folder allows no new file but the file itself
// may be written, the file is overwritten in place. On failure the result says why; the old file
// is then untouched, except when an in-place write failed half-way.
SaveResult writeMarkLine(const QString& path, const QString& text);

// The bytes after a mark file's first line and its end: what a save keeps.
QByteArray afterFirstLine(const QByteArray& bytes);

// What the user is told when the mark file in use could not be read (a folder at its name, a
// file that may not be read, a first line beyond the limit), naming it, in Japanese. Empty when
// there is nothing to tell (read, empty or missing).
QString readFailureMessage(const QString& path, base::MarkLineStatus status);

// What becomes of the marks that a failed save did not write.
enum class UnsavedMarks {
    Kept,       // they stay in memory and are saved with the next change and at exit
    LostAtExit, // the window closes
    Replaced,   // another mark file's marks take their place
};

// What the user is told when a save failed: the file's full path, the reason and what becomes of
// the marks, in Japanese.
QString saveFailureMessage(const QString& path, const SaveResult& result, UnsavedMarks marks);

// Removes temporary files that a killed save left beside the mark file.
void removeSaveLeftovers(const QString& path);

} // namespace marks
