#pragma once

#include <QString>

namespace marks {

// The watch list as one string: each mark a four-character code and one comma, in the order set
// ("4674,130A,9999,"). Positions are int, so lists beyond 6,553 marks work.
class MarkString {
public:
    MarkString() = default;
    explicit MarkString(const QString& text)
        : m_text(text) {}

    const QString& text() const { return m_text; }
    bool isEmpty() const { return m_text.isEmpty(); }

    // Length / 5 as a real number: navigation wraps against it.
    double countReal() const { return m_text.size() / 5.0; }
    // Rows the mark list shows: one per started group of five characters.
    int rowCount() const { return (m_text.size() + 4) / 5; }
    // Mark k (from 1): characters (k-1)*5+1 .. (k-1)*5+4, fewer or none near or past the end.
    QString mark(int k) const;

    // Position (from 1) of the first whole mark equal to code, or 0. Only matches at a mark
    // boundary count, so a code never matches across two marks.
    int find(const QString& code) const;
    bool contains(const QString& code) const { return find(code) > 0; }

    // Appends code + "," when code is a code (four digits or alphanumeric, as kept) not yet
    // marked; returns whether it did.
    bool append(const QString& code);
    // Removes the first whole mark equal to code (five characters); returns whether it did.
    bool remove(const QString& code);

private:
    QString m_text;
};

} // namespace marks
