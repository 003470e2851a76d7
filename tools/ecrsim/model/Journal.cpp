#include "Journal.h"

#include "common/Cp1252Table.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace velmar::sim {

namespace {

QString isoTime(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

QString kindName(Document::Kind k) {
    switch (k) {
    case Document::Kind::Receipt:
        return QStringLiteral("receipt");
    case Document::Kind::NonFiscal:
        return QStringLiteral("nonfiscal");
    case Document::Kind::CashIn:
        return QStringLiteral("cash-in");
    case Document::Kind::CashOut:
        return QStringLiteral("cash-out");
    }
    return {};
}

QJsonArray texts(const QList<QByteArray>& list) {
    QJsonArray a;
    for (const QByteArray& t : list) {
        a.append(fromCp1252(t));
    }
    return a;
}

QJsonArray items(const QList<Item>& list) {
    QJsonArray a;
    for (const Item& i : list) {
        a.append(QJsonObject{{QStringLiteral("dept"), i.department},
                             {QStringLiteral("qty"), fromCp1252(i.quantity)},
                             {QStringLiteral("amount"), qint64(i.amount)},
                             {QStringLiteral("text"), fromCp1252(i.text)},
                             {QStringLiteral("return"), i.isReturn}});
    }
    return a;
}

QJsonArray modifiers(const QList<Modifier>& list) {
    QJsonArray a;
    for (const Modifier& m : list) {
        QJsonObject o{{QStringLiteral("on"),
                       m.onSubtotal ? QStringLiteral("subtotal") : QStringLiteral("item")},
                      {QStringLiteral("type"),
                       m.surcharge ? QStringLiteral("surcharge") : QStringLiteral("discount")},
                      {QStringLiteral("amount"), qint64(m.amount)}};
        if (!m.onSubtotal) {
            o.insert(QStringLiteral("item"), m.item);
        }
        if (!m.percent.isEmpty()) {
            o.insert(QStringLiteral("percent"), fromCp1252(m.percent));
        }
        a.append(o);
    }
    return a;
}

QJsonArray payments(const QList<Payment>& list) {
    QJsonArray a;
    for (const Payment& p : list) {
        QJsonObject o{{QStringLiteral("form"), p.form},
                      {QStringLiteral("amount"), qint64(p.amount)}};
        if (!p.quantity.isEmpty()) {
            o.insert(QStringLiteral("qty"), fromCp1252(p.quantity));
        }
        if (!p.text.isEmpty()) {
            o.insert(QStringLiteral("text"), fromCp1252(p.text));
        }
        a.append(o);
    }
    return a;
}

QByteArray line(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

QString fromCp1252(const QByteArray& bytes) {
    QString s;
    s.reserve(bytes.size());
    for (char c : bytes) {
        s.append(QChar(cp1252::toUnicode(static_cast<unsigned char>(c))));
    }
    return s;
}

QByteArray journalDocumentLine(const FinishedDocument& finished, std::optional<bool> ack) {
    const Document& d = finished.document;
    QJsonObject o{
        {QStringLiteral("kind"), finished.voided ? QStringLiteral("void") : kindName(d.kind)},
        {QStringLiteral("number"), d.number},
        {QStringLiteral("datetime"), isoTime(d.closedAt)}};
    if (finished.voided) {
        o.insert(QStringLiteral("of"), kindName(d.kind));
    }
    if (d.kind == Document::Kind::Receipt) {
        o.insert(QStringLiteral("items"), items(d.items));
        o.insert(QStringLiteral("modifiers"), modifiers(d.modifiers));
    }
    if (d.kind != Document::Kind::NonFiscal) {
        o.insert(QStringLiteral("payments"), payments(d.payments));
        o.insert(QStringLiteral("total"), qint64(d.total));
        o.insert(QStringLiteral("change"), qint64(d.change));
    }
    if (d.kind == Document::Kind::NonFiscal || !d.lines.isEmpty()) {
        o.insert(QStringLiteral("lines"), texts(d.lines));
    }
    if (!d.courtesy.isEmpty()) {
        o.insert(QStringLiteral("courtesy"), texts(d.courtesy));
    }
    if (!d.customer.isEmpty()) {
        o.insert(QStringLiteral("customer"), fromCp1252(d.customer));
    }
    if (!d.codes.isEmpty()) {
        QJsonArray a;
        for (const Code& c : d.codes) {
            a.append(QJsonObject{{QStringLiteral("type"), c.type},
                                 {QStringLiteral("code"), fromCp1252(c.text)}});
        }
        o.insert(QStringLiteral("codes"), a);
    }
    if (d.hasReference) {
        o.insert(QStringLiteral("reference"),
                 QJsonObject{{QStringLiteral("text"), fromCp1252(d.reference.text)},
                             {QStringLiteral("cancels"), d.reference.cancels}});
    }
    if (ack) {
        o.insert(QStringLiteral("ack"), *ack);
    }
    return line(o);
}

QByteArray journalRefusalLine(int sequence, const QByteArray& command, const QByteArray& reason,
                              const QDateTime& at) {
    return line(QJsonObject{{QStringLiteral("kind"), QStringLiteral("refused")},
                            {QStringLiteral("sequence"), sequence},
                            {QStringLiteral("datetime"), isoTime(at)},
                            {QStringLiteral("command"), fromCp1252(command)},
                            {QStringLiteral("reason"), fromCp1252(reason)}});
}

} // namespace velmar::sim
