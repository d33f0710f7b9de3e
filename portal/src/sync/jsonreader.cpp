#include "sync/jsonreader.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace portal::sync {

JsonReader::JsonReader(const QByteArray& text)
    : m_p(text.constData())
    , m_end(text.constData() + text.size()) {
    if (text.startsWith("\xEF\xBB\xBF"))
        m_p += 3;
}

bool JsonReader::fail() {
    m_failed = true;
    m_p = m_end;
    return false;
}

void JsonReader::skipSpace() {
    while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
        ++m_p;
}

bool JsonReader::atEnd() {
    skipSpace();
    return !m_failed && m_p == m_end && m_depth == 0;
}

JsonReader::Kind JsonReader::peek() {
    skipSpace();
    if (m_failed || m_p == m_end)
        return Kind::Bad;
    switch (*m_p) {
    case '{':
        return Kind::Object;
    case '[':
        return Kind::Array;
    case '"':
        return Kind::String;
    case 't':
    case 'f':
    case 'n':
        return Kind::Literal;
    default:
        return *m_p == '-' || (*m_p >= '0' && *m_p <= '9') ? Kind::Number : Kind::Bad;
    }
}

bool JsonReader::beginObject() {
    if (peek() != Kind::Object || m_depth >= kMaxDepth)
        return fail();
    ++m_p;
    m_first[++m_depth] = true;
    return true;
}

std::optional<QString> JsonReader::nextKey() {
    skipSpace();
    if (m_failed || m_p == m_end)
        return fail(), std::nullopt;
    if (*m_p == '}') {
        ++m_p;
        --m_depth;
        return std::nullopt;
    }
    if (!m_first[m_depth]) {
        if (*m_p != ',')
            return fail(), std::nullopt;
        ++m_p;
        skipSpace();
    }
    m_first[m_depth] = false;
    auto key = string();
    skipSpace();
    if (!key || m_p == m_end || *m_p != ':')
        return fail(), std::nullopt;
    ++m_p;
    return key;
}

bool JsonReader::beginArray() {
    if (peek() != Kind::Array || m_depth >= kMaxDepth)
        return fail();
    ++m_p;
    m_first[++m_depth] = true;
    return true;
}

bool JsonReader::nextElement() {
    skipSpace();
    if (m_failed || m_p == m_end)
        return fail();
    if (*m_p == ']') {
        ++m_p;
        --m_depth;
        return false;
    }
    if (!m_first[m_depth]) {
        if (*m_p != ',')
            return fail();
        ++m_p;
    }
    m_first[m_depth] = false;
    return true;
}

bool JsonReader::literal(const char* word) {
    const auto n = std::strlen(word);
    if (m_end - m_p < std::ptrdiff_t(n) || std::memcmp(m_p, word, n) != 0)
        return fail();
    m_p += n;
    return true;
}

std::optional<QString> JsonReader::string() {
    if (m_p == m_end || *m_p != '"')
        return fail(), std::nullopt;
    ++m_p;
    const char* start = m_p;
    // Most strings hold no escape: they are taken as they stand.
    while (m_p < m_end && *m_p != '"' && *m_p != '\\')
        ++m_p;
    if (m_p < m_end && *m_p == '"') {
        const QString s = QString::fromUtf8(start, m_p - start);
        ++m_p;
        return s;
    }
    QByteArray bytes(start, m_p - start);
    while (m_p < m_end && *m_p != '"') {
        const char c = *m_p++;
        if (c != '\\') {
            bytes += c;
            continue;
        }
        if (m_p == m_end)
            return fail(), std::nullopt;
        const char e = *m_p++;
        static const char plain[] = "\"\\/bfnrt";
        static const char meant[] = "\"\\/\b\f\n\r\t";
        if (const char* at = e ? std::strchr(plain, e) : nullptr) {
            bytes += meant[at - plain];
            continue;
        }
        // Like Qt's own parser: any other escaped character stands for itself.
        if (e != 'u') {
            bytes += e;
            continue;
        }
        const auto hex4 = [this]() -> int {
            if (m_end - m_p < 4)
                return -1;
            int v = 0;
            for (int i = 0; i < 4; ++i) {
                const char h = *m_p++;
                const int d = h >= '0' && h <= '9'   ? h - '0'
                              : h >= 'a' && h <= 'f' ? h - 'a' + 10
                              : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                     : -1;
                if (d < 0)
                    return -1;
                v = v * 16 + d;
            }
            return v;
        };
        int unit = hex4();
        if (unit < 0)
            return fail(), std::nullopt;
        char32_t point = char32_t(unit);
        if (unit >= 0xD800 && unit < 0xDC00 && m_end - m_p >= 6 && m_p[0] == '\\' &&
            m_p[1] == 'u') {
            const char* back = m_p;
            m_p += 2;
            const int low = hex4();
            if (low >= 0xDC00 && low < 0xE000)
                point = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
            else
                m_p = back;
        }
        bytes += QString::fromUcs4(&point, 1).toUtf8();
    }
    if (m_p == m_end)
        return fail(), std::nullopt;
    ++m_p;
    return QString::fromUtf8(bytes);
}

std::optional<double> JsonReader::number() {
    // The JSON grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    const char* start = m_p;
    const char* q = m_p;
    const auto digits = [&q, this] {
        const char* from = q;
        while (q < m_end && *q >= '0' && *q <= '9')
            ++q;
        return q > from;
    };
    if (q < m_end && *q == '-')
        ++q;
    if (q < m_end && *q == '0')
        ++q;
    else if (!digits())
        return fail(), std::nullopt;
    if (q < m_end && *q == '.') {
        ++q;
        if (!digits())
            return fail(), std::nullopt;
    }
    if (q < m_end && (*q == 'e' || *q == 'E')) {
        ++q;
        if (q < m_end && (*q == '+' || *q == '-'))
            ++q;
        if (!digits())
            return fail(), std::nullopt;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(start, q, value);
    m_p = q;
    // Out of range: as QJsonDocument does, a number too large is no number.
    if (end != q || error != std::errc() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool JsonReader::skipValue(int depth) {
    if (depth > kMaxDepth)
        return fail();
    switch (peek()) {
    case Kind::Object:
        if (!beginObject())
            return false;
        while (nextKey()) {
            if (!skipValue(depth + 1))
                return false;
        }
        return !m_failed;
    case Kind::Array:
        if (!beginArray())
            return false;
        while (nextElement()) {
            if (!skipValue(depth + 1))
                return false;
        }
        return !m_failed;
    case Kind::String:
        return string().has_value();
    case Kind::Number:
        number();
        return !m_failed;
    case Kind::Literal:
        return literal(*m_p == 't' ? "true" : *m_p == 'f' ? "false" : "null");
    case Kind::Bad:
        break;
    }
    return fail();
}

bool JsonReader::skip() {
    return skipValue(m_depth);
}

JsonReader::Scalar JsonReader::scalar() {
    Scalar s;
    switch (peek()) {
    case Kind::String:
        if (auto text = string()) {
            s.type = Scalar::Text;
            s.text = *text;
        }
        return s;
    case Kind::Number:
        if (const auto n = number()) {
            s.type = Scalar::Number;
            s.number = *n;
        }
        return s;
    default:
        skip();
        return s;
    }
}

} // namespace portal::sync
