#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace portal::sync {

// A forward-only reader of JSON text (RFC 8259) for answers too large to build a document of:
// a day of every code is some 70,000 fields, and reading them straight from the bytes takes a
// fraction of the time. It reads one value after the other (a byte order mark first is skipped);
// anything that is not JSON, or nests deeper than kMaxDepth, makes it fail, and every read after a
// failure fails too.
class JsonReader {
public:
    static constexpr int kMaxDepth = 1100; // beyond what Qt's own JSON parser takes
    explicit JsonReader(const QByteArray& text);

    bool failed() const { return m_failed; }
    // The text was read to its end, with nothing but white space after the value.
    bool atEnd();

    // The next value's kind, without reading it.
    enum class Kind { Object, Array, String, Number, Literal, Bad };
    Kind peek();

    // Objects and arrays: begin, then next*() until it says there is no more.
    bool beginObject();
    // The next member's key; nullopt at the object's end (or on a failure).
    std::optional<QString> nextKey();
    bool beginArray();
    // Whether the array has another element.
    bool nextElement();

    // A scalar as the service writes fields: a number, a string (holding a number or a text), or
    // null. Anything else is skipped and read as null.
    struct Scalar {
        enum Type { Null, Number, Text } type = Null;
        double number = 0;
        QString text;
    };
    Scalar scalar();
    // Reads over the next value, whatever it is.
    bool skip();

private:
    bool fail();
    void skipSpace();
    bool literal(const char* word);
    std::optional<QString> string();
    std::optional<double> number();
    bool skipValue(int depth);

    const char* m_p;
    const char* m_end;
    bool m_failed = false;
    // Per open container: whether its first member or element has been read.
    bool m_first[kMaxDepth + 1] = {};
    int m_depth = 0;
};

} // namespace portal::sync
