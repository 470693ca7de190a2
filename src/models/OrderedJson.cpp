#include "models/OrderedJson.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
QByteArray encodeScalar(const QJsonValue& value) {
    // Qt escapes a value only inside a document: wrap it and strip the brackets.
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

void newline(QByteArray& out, int depth) {
    out += '\n';
    out += QByteArray(depth * 2, ' ');
}
} // namespace

OrderedJson::OrderedJson(const QJsonValue& scalar)
    : m_kind(scalar.isNull() || scalar.isUndefined() ? Kind::Null : Kind::Scalar) {
    if (m_kind == Kind::Scalar)
        m_scalar = encodeScalar(scalar);
}

OrderedJson::OrderedJson(qint64 integer) : m_kind(Kind::Scalar), m_scalar(QByteArray::number(integer)) {}

OrderedJson OrderedJson::object() {
    OrderedJson json;
    json.m_kind = Kind::Object;
    return json;
}

OrderedJson OrderedJson::array() {
    OrderedJson json;
    json.m_kind = Kind::Array;
    return json;
}

OrderedJson& OrderedJson::insert(const QString& key, OrderedJson value) {
    Q_ASSERT(m_kind == Kind::Object);
    m_members.emplace_back(key, std::move(value));
    return *this;
}

OrderedJson& OrderedJson::append(OrderedJson value) {
    Q_ASSERT(m_kind == Kind::Array);
    m_elements.push_back(std::move(value));
    return *this;
}

QByteArray OrderedJson::toJson(Format format) const {
    QByteArray out;
    write(out, format, 0);
    if (format == Format::Pretty)
        out += '\n';
    return out;
}

void OrderedJson::write(QByteArray& out, Format format, int depth) const {
    const bool pretty = format == Format::Pretty;
    switch (m_kind) {
    case Kind::Null:
        out += "null";
        return;
    case Kind::Scalar:
        out += m_scalar;
        return;
    case Kind::Object: {
        out += '{';
        bool first = true;
        for (const auto& [key, value] : m_members) {
            if (!first)
                out += ',';
            first = false;
            if (pretty)
                newline(out, depth + 1);
            out += encodeScalar(QJsonValue(key));
            out += pretty ? ": " : ":";
            value.write(out, format, depth + 1);
        }
        if (pretty && !m_members.empty())
            newline(out, depth);
        out += '}';
        return;
    }
    case Kind::Array: {
        out += '[';
        bool first = true;
        for (const auto& element : m_elements) {
            if (!first)
                out += ',';
            first = false;
            if (pretty)
                newline(out, depth + 1);
            element.write(out, format, depth + 1);
        }
        if (pretty && !m_elements.empty())
            newline(out, depth);
        out += ']';
        return;
    }
    }
}
