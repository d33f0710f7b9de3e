#pragma once

#include "base/codelistfile.h"
#include "markstring.h"

#include <QHash>
#include <QString>
#include <QStringList>

namespace marks {

// The code-list file (base::readCodeListLines), read once and kept in memory. A row is the whole
// line whose first four characters equal the code (the first such line wins), or the placeholder
// code + ",????,????".
class CodeList {
public:
    static constexpr const char* kFileName = base::kCodeListFileName;

    CodeList() = default;
    // A missing or unreadable file gives an empty list: every lookup gives the placeholder.
    static CodeList load(const QString& path);
    // The list of the data folder, which the portal's sync keeps current from the exchange's
    // listing, else the one beside the program (a data folder without a readable list of its
    // own).
    static CodeList loadPreferred(const QString& dataFolder, const QString& programFolder);

    QString row(const QString& code) const;
    int size() const { return static_cast<int>(m_rows.size()); }
    // The alphanumeric codes the list holds, in code order: the code search tries them besides
    // the numbers.
    const QStringList& alphanumericCodes() const { return m_alphanumeric; }

private:
    QHash<QString, QString> m_rows;
    QStringList m_alphanumeric;
};

// The rows of the mark list: one per started group of five characters of the mark string, in
// mark order, each the code list's row for that mark (a damaged remainder gets the placeholder).
QStringList markListRows(const MarkString& marks, const CodeList& codes);

} // namespace marks
