#include "markfile.h"

#include "base/filereplace.h"
#include "base/markline.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <optional>

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

// The file's present bytes after its first line; nullopt when a file is there but cannot be read
// or its first line was never read (beyond the limit), so a save would lose what it holds.
std::optional<QByteArray> keptRest(const QString& path, SaveResult& refused) {
    const QFileInfo info(path);
    if (!info.exists())
        return QByteArray(); // a new file, or a link to one
    if (info.isDir())
        return QByteArray(); // opening for writing says so
    QFile old(path);
    if (!old.open(QIODevice::ReadOnly)) {
        refused = failed(SaveFailure::NotReadable, old.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = old.readAll();
    if (old.error() != QFileDevice::NoError) {
        refused = failed(SaveFailure::NotReadable, old.errorString());
        return std::nullopt;
    }
    const auto lineEnd =
        std::find_if(bytes.cbegin(), bytes.cend(), [](char c) { return c == '\r' || c == '\n'; });
    const qsizetype lineLength = lineEnd - bytes.cbegin();
    if (lineLength > kMaxMarkLineBytes) {
        refused = failed(SaveFailure::TooLong, QString());
        return std::nullopt;
    }
    return afterFirstLine(bytes);
}

} // namespace

QByteArray afterFirstLine(const QByteArray& bytes) {
    const char* begin = bytes.constData();
    const char* end = begin + bytes.size();
    const char* lineEnd = std::find_if(begin, end, [](char c) { return c == '\r' || c == '\n'; });
    if (lineEnd == end)
        return QByteArray();
    const char* rest = lineEnd + 1;
    if (*lineEnd == '\r' && rest != end && *rest == '\n')
        ++rest;
    return bytes.mid(rest - begin);
}

SaveResult writeMarkLine(const QString& path, const QString& text) {
    // Written beside the old file and renamed over it only when complete, so a crash, a full disk
    // or a kill during the save leaves the old file whole. A folder that takes no new file still
    // lets a writable mark file be saved, in place.
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return openFailure(path, file.errorString());
    // The rest of the file (notes after the marks, lines past a lone CR) is kept as it is.
    SaveResult refused;
    const std::optional<QByteArray> rest = keptRest(path, refused);
    if (!rest)
        return refused;
    const QByteArray bytes = base::encodeMarkLine(text) + "\r\n" + *rest;
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
    case SaveFailure::NotReadable:
        reason = QStringLiteral("ファイルを読み込めないため、2行目以降を残して保存できません。");
        break;
    case SaveFailure::TooLong:
        reason = QStringLiteral("ファイルの1行目が長すぎて読み込んでいないため、上書きしません。");
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

QString readFailureMessage(const QString& path, base::MarkLineStatus status) {
    QString reason;
    switch (status) {
    case base::MarkLineStatus::Read:
    case base::MarkLineStatus::NoLine:
    case base::MarkLineStatus::Missing:
        return QString();
    case base::MarkLineStatus::NotAFile:
        reason = QStringLiteral("ファイルではなくフォルダです。");
        break;
    case base::MarkLineStatus::Unreadable:
        reason = QStringLiteral("ファイルを読み込めません。読み取りの許可を確認して下さい。");
        break;
    case base::MarkLineStatus::TooLong:
        reason = QStringLiteral("1行目が長すぎます（%1 KB を超えています）。マークファイルでは"
                                "ないファイルの可能性があります。")
                     .arg(kMaxMarkLineBytes / 1024);
        break;
    }
    return QStringLiteral("マークファイルを読み込めませんでした。\n%1\n%2\n\n"
                          "マークなしで始めます。このファイルは書き換えません。")
        .arg(QDir::toNativeSeparators(path), reason);
}

void removeSaveLeftovers(const QString& path) {
    base::removeSaveLeftovers(path);
}

} // namespace marks
