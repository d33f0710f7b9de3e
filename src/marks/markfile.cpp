#include "markfile.h"

#include "base/markline.h"
#include "platform/filereplace.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace marks {

namespace {

SaveResult failed(SaveFailure failure, const QString& detail) {
    return SaveResult{failure, detail};
}

// The file could not be opened for writing: tell which of the usual reasons it was.
SaveResult openFailure(const QString& path, const QString& detail) {
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir())
        return failed(SaveFailure::FolderMissing, detail);
    if (file.isDir())
        return failed(SaveFailure::NotAFile, detail);
    if (file.exists() ? !file.isWritable() : !folder.isWritable())
        return failed(SaveFailure::NotPermitted, detail);
    return failed(SaveFailure::WriteFailed, detail);
}

} // namespace

SaveResult writeMarkLine(const QString& path, const QString& text) {
    // Written beside the old file and renamed over it only when complete, so a crash, a full disk
    // or a kill during the save leaves the old file whole. A folder that takes no new file still
    // lets a writable mark file be saved, in place.
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return openFailure(path, file.errorString());
    const QByteArray bytes = base::encodeMarkLine(text) + "\r\n";
    if (file.write(bytes) != bytes.size()) {
        const QString detail = file.errorString();
        file.cancelWriting();
        return failed(SaveFailure::WriteFailed, detail);
    }
    if (!file.commit())
        return failed(SaveFailure::WriteFailed, file.errorString());
    return SaveResult{};
}

QString saveFailureMessage(const QString& path, const SaveResult& result, UnsavedMarks marks) {
    QString reason;
    switch (result.failure) {
    case SaveFailure::None:
        return QString();
    case SaveFailure::FolderMissing:
        reason = QStringLiteral("保存先のフォルダがありません。");
        break;
    case SaveFailure::NotAFile:
        reason = QStringLiteral("同じ名前のフォルダがあります。");
        break;
    case SaveFailure::NotPermitted:
        reason = QStringLiteral("ファイルまたはフォルダへの書き込みが許可されていません。");
        break;
    case SaveFailure::WriteFailed:
        reason = QStringLiteral("書き込みに失敗しました。ディスクの空きを確認して下さい。");
        break;
    }
    const QString head = QStringLiteral("マークファイルに保存できませんでした。\n%1\n%2\n\n")
                             .arg(QDir::toNativeSeparators(path), reason);
    switch (marks) {
    case UnsavedMarks::Kept:
        break;
    case UnsavedMarks::LostAtExit:
        return head + QStringLiteral("終了しますので、保存されていないマークの変更は失われます。");
    case UnsavedMarks::Replaced:
        return head + QStringLiteral("別のマークファイルに切り替えますので、保存されていないマーク"
                                     "の変更は失われます。");
    }
    return head +
           QStringLiteral("マークはこのまま保持し、次の変更時と終了時にもう一度保存します。");
}

void removeSaveLeftovers(const QString& path) {
    platform::removeSaveLeftovers(path);
}

} // namespace marks
