#include "markfile.h"

#include "base/codepage932.h"
#include "platform/filereplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace marks {

namespace {

// Code page 932, as the code list reads it; UTF-8 when the converter set has none, for reading
// and writing alike.
QString decodeLine(const QByteArray& bytes) {
    if (const char* name = base::codePage932Name()) {
        QStringDecoder decoder(name);
        return decoder.decode(bytes);
    }
    return QString::fromUtf8(bytes);
}

QByteArray encodeLine(const QString& text) {
    if (const char* name = base::codePage932Name()) {
        QStringEncoder encoder(name);
        return encoder.encode(text);
    }
    return text.toUtf8();
}

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

std::optional<QString> readMarkLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Only the first line counts, however long the rest of the file is: read up to its end.
    QByteArray line;
    bool anyByte = false;
    char chunk[4096];
    for (;;) {
        const qint64 n = file.read(chunk, sizeof chunk);
        if (n <= 0)
            break;
        anyByte = true;
        // CR and LF never occur inside a double-byte character of code page 932.
        const char* end =
            std::find_if(chunk, chunk + n, [](char c) { return c == '\r' || c == '\n'; });
        line.append(chunk, end - chunk);
        if (end != chunk + n)
            break;
    }
    if (!anyByte)
        return std::nullopt; // zero bytes: no line at all
    return decodeLine(line);
}

SaveResult writeMarkLine(const QString& path, const QString& text) {
    // Written beside the old file and renamed over it only when complete, so a crash, a full disk
    // or a kill during the save leaves the old file whole. A folder that takes no new file still
    // lets a writable mark file be saved, in place.
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return openFailure(path, file.errorString());
    const QByteArray bytes = encodeLine(text) + "\r\n";
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
