#pragma once

// What the user reads: the message texts and captions the tests expect, in one place.

#include <QString>

namespace testing {

inline const QString kMessageTitle = QStringLiteral("Quorvix Chart Viewer");
inline const QString kSettingsTitle = QStringLiteral("Quorvix Chart Viewer 設定");
inline const QString kCaptionPrefix = QStringLiteral("Quorvix Chart Viewer  - ");
inline const QString kCheckCodeMessage = QStringLiteral("銘柄コードを確認して下さい。");
inline const QString kNoCodeFoundMessage =
    QStringLiteral("チャートを表示できる銘柄が見つかりませんでした。");
inline const QString kUnreachableMessage =
    QStringLiteral("チャートサーバーに接続できません。サーバーの設定と接続を確認して下さい。");
inline const QString kNoMarkShownMessage =
    QStringLiteral("表示できるマーク銘柄がありませんでした。");
inline const QString kInvalidMarkFileMessage = QStringLiteral("ﾌｧｲﾙの内容が不正です。");

} // namespace testing
