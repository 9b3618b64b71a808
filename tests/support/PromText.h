#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QStringList>

#include <optional>

// A small reader of the Prometheus text format (0.0.4), strict enough to
// catch what a scraper would refuse: a sample without a TYPE before it, a
// type given twice, a bad name, label or value, a missing final line feed.
struct PromSample {
    QByteArray name;
    QMap<QByteArray, QByteArray> labels;
    double value = 0;
};

struct PromText {
    QList<PromSample> samples;
    QMap<QByteArray, QByteArray> types;
    QStringList errors;

    std::optional<double> value(const QByteArray &name, const QMap<QByteArray, QByteArray> &labels = {}) const
    {
        for (const PromSample &s : samples)
            if (s.name == name && s.labels == labels)
                return s.value;
        return std::nullopt;
    }
    QList<PromSample> family(const QByteArray &name) const
    {
        QList<PromSample> result;
        for (const PromSample &s : samples)
            if (s.name == name)
                result.append(s);
        return result;
    }
};

inline PromText parsePromText(const QByteArray &text)
{
    PromText r;
    static const QRegularExpression name(QStringLiteral("^[a-zA-Z_:][a-zA-Z0-9_:]*$"));
    static const QRegularExpression sample(QStringLiteral("^([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\\{(.*)\\})? (\\S+)$"));
    static const QRegularExpression label(QStringLiteral("\\G([a-zA-Z_][a-zA-Z0-9_]*)=\"((?:[^\"\\\\\\n]|\\\\[\\\\\"n])*)\",?"));
    if (!text.isEmpty() && !text.endsWith('\n'))
        r.errors << QStringLiteral("the text does not end with a line feed");
    int number = 0;
    for (const QByteArray &raw : text.split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw);
        const QString where = QStringLiteral("line %1: ").arg(number);
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1String("# "))) {
            const QStringList words = line.mid(2).split(QLatin1Char(' '));
            if (words.size() >= 3 && words[0] == QLatin1String("HELP") && name.match(words[1]).hasMatch())
                continue;
            if (words.size() == 3 && words[0] == QLatin1String("TYPE") && name.match(words[1]).hasMatch()
                && QStringList{"counter", "gauge", "histogram", "summary", "untyped"}.contains(words[2])) {
                if (r.types.contains(words[1].toUtf8()))
                    r.errors << where + QStringLiteral("a second TYPE for ") + words[1];
                r.types.insert(words[1].toUtf8(), words[2].toUtf8());
                continue;
            }
            r.errors << where + QStringLiteral("not a HELP or TYPE line: ") + line;
            continue;
        }
        const auto m = sample.match(line);
        if (!m.hasMatch()) {
            r.errors << where + QStringLiteral("not a sample: ") + line;
            continue;
        }
        PromSample s;
        s.name = m.captured(1).toUtf8();
        const QString labels = m.captured(2);
        int at = 0;
        while (at < labels.size()) {
            const auto l = label.match(labels, at);
            if (!l.hasMatch() || l.capturedStart() != at) {
                r.errors << where + QStringLiteral("bad labels: ") + labels;
                break;
            }
            const QString escaped = l.captured(2);
            QString value;
            for (int i = 0; i < escaped.size(); ++i) {
                if (escaped[i] == QLatin1Char('\\') && i + 1 < escaped.size()) {
                    ++i;
                    value += escaped[i] == QLatin1Char('n') ? QLatin1Char('\n') : escaped[i];
                } else {
                    value += escaped[i];
                }
            }
            s.labels.insert(l.captured(1).toUtf8(), value.toUtf8());
            at = l.capturedEnd();
        }
        bool ok = false;
        const QString v = m.captured(3);
        s.value = v == QLatin1String("+Inf") ? qInf() : v == QLatin1String("-Inf") ? -qInf() : v.toDouble(&ok);
        if (!ok && !v.endsWith(QLatin1String("Inf")) && v != QLatin1String("NaN"))
            r.errors << where + QStringLiteral("bad value: ") + v;
        if (!r.types.contains(s.name))
            r.errors << where + QStringLiteral("sample before its TYPE: ") + QString::fromUtf8(s.name);
        r.samples.append(s);
    }
    return r;
}
