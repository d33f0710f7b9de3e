#pragma once

#include <QByteArray>
#include <QString>

namespace base {

// Gives path the content bytes through a fresh file: the bytes go into a new file beside it,
// which is then renamed over the name. Whatever stood at the name (an older file, a symbolic
// link, a second name of another file) is replaced, never written through. When the folder
// allows no new file, an existing plain file is overwritten in place instead, still without
// following a link. Returns false when path does not hold the bytes afterwards. A durable
// replacement has the bytes on the disk before the name changes, so that a power cut leaves the
// old content or the new one, never an empty file; files the program writes again anyway (the
// temporary chart files) need not wait for that.
bool replaceFile(const QString& path, const QByteArray& bytes, bool durable = false);

// Removes what an interrupted save left beside path: files named after it with a dot and six
// random letters and digits ("MARK.csv.a1B2c3"), the temporary names of replaceFile() and of
// QSaveFile where the file system has no unnamed temporary files, that were last changed at least
// minimumAgeSeconds ago (a save running in another instance of the program is younger). A suffix
// of one kind of character only ("backup", "202601") is taken for a name someone chose and kept.
// Returns how many it removed.
int removeSaveLeftovers(const QString& path, int minimumAgeSeconds = 60);

} // namespace base
