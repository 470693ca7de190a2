#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <utility>
#include <vector>

// A JSON value written with its object members in insertion order.
// QJsonObject sorts its keys, so records whose member order matters (history
// file, request bodies) are written through this type. Qt only escapes scalars.
class OrderedJson {
public:
    OrderedJson() : m_kind(Kind::Null) {}
    OrderedJson(const QJsonValue& scalar);
    OrderedJson(const QString& text) : OrderedJson(QJsonValue(text)) {}
    OrderedJson(const char* text) : OrderedJson(QJsonValue(QString::fromUtf8(text))) {}
    OrderedJson(bool flag) : OrderedJson(QJsonValue(flag)) {}
    OrderedJson(qint64 integer);

    static OrderedJson object();
    static OrderedJson array();
    static OrderedJson null() { return {}; }

    OrderedJson& insert(const QString& key, OrderedJson value);
    OrderedJson& append(OrderedJson value);

    enum class Format { Compact, Pretty };
    QByteArray toJson(Format format = Format::Compact) const;

private:
    enum class Kind { Null, Scalar, Object, Array };
    void write(QByteArray& out, Format format, int depth) const;

    Kind m_kind;
    QByteArray m_scalar; // already-encoded JSON text of a scalar
    std::vector<std::pair<QString, OrderedJson>> m_members;
    std::vector<OrderedJson> m_elements;
};
