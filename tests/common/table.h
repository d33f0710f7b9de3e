#pragma once

#include <QStringList>
#include <QTest>

#include <initializer_list>
#include <utility>

namespace testing {

// Declares a data table's columns in one statement, types and names in the same order:
// columns<QString, int>({"code", "count"}).
template <typename... T> void columns(const char* const (&names)[sizeof...(T)]) {
    int i = 0;
    (QTest::addColumn<T>(names[i++]), ...);
}

// A table of one column, each row as its name and its value:
// rowsOf<QString>("text", {{"three digits", "467"}, {"empty", ""}}).
template <typename T>
void rowsOf(const char* column, std::initializer_list<std::pair<const char*, T>> rows) {
    QTest::addColumn<T>(column);
    for (const auto& [name, value] : rows)
        QTest::newRow(name) << value;
}

// The exchange suffixes of a code, in the order a display asks for them.
inline const QStringList kSuffixes{QStringLiteral(".t"), QStringLiteral(".j"), QStringLiteral(".q"),
                                   QStringLiteral(".o"), QStringLiteral(".n")};

// A table of one row per exchange suffix, in the column "suffix".
inline void suffixRows() {
    QTest::addColumn<QString>("suffix");
    for (const QString& suffix : kSuffixes)
        QTest::newRow(qPrintable(suffix)) << suffix;
}

} // namespace testing
