#include "window/handlers/SensorCodeCheck.h"

#include <QCoreApplication>

#include "core/store/ReadingStore.h"

#include <QLabel>
#include <QRegularExpression>
#include <QTextEdit>

namespace vx {

namespace {
const QRegularExpression kCodeLine(QStringLiteral("\"([0-9A-Fa-f]{2}(?: [0-9A-Fa-f]{2}){7})\""));
const QColor kMarked(200, 0, 0);
} // namespace

QStringList SensorCodeCheck::codesOf(const QString &paneText)
{
    QStringList codes;
    for (const QString &line : paneText.split(QStringLiteral("\r\n"))) {
        const auto m = kCodeLine.match(line);
        if (m.hasMatch())
            codes << m.captured(1).toUpper();
    }
    return codes;
}

CodeListCheck SensorCodeCheck::check(const QStringList &codes, int address, int channel) const
{
    QMap<QString, QString> known;
    QMap<int, QString> samePlace;
    if (m_map) {
        for (const SensorPlace &p : m_map()) {
            if (p.address == address && p.channel == channel)
                samePlace.insert(p.position, p.code);
            known.insert(p.code, QCoreApplication::translate("vx", "设备%1 通道%2 位置%3")
                                     .arg(p.address, 2, 10, QLatin1Char('0'))
                                     .arg(p.channel)
                                     .arg(p.position, 2, 10, QLatin1Char('0')));
        }
    }
    return checkCodeList(codes, known, samePlace);
}

CodeListCheck SensorCodeCheck::markPane(int address, int channel)
{
    // The pane's own blocks: whichever handler set the text, a block is a line.
    const QStringList lines = m_pane.plainText().split(QLatin1Char('\n'));
    QList<int> codeLines;
    QStringList codes;
    for (int i = 0; i < lines.size(); ++i) {
        const auto m = kCodeLine.match(lines[i]);
        if (m.hasMatch()) {
            codeLines << i;
            codes << m.captured(1).toUpper();
        }
    }
    const CodeListCheck result = check(codes, address, channel);
    for (int k = 0; k < result.findings.size(); ++k)
        if (result.findings[k].fails())
            m_pane.markLine(codeLines[k], kMarked, result.findings[k].reason());
    if (m_summary)
        m_summary->setText(codes.isEmpty() ? QString() : QCoreApplication::translate("vx", "序列号检查：") + result.summary());
    return result;
}

} // namespace vx
