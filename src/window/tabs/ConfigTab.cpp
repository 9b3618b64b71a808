#include "window/tabs/ConfigTab.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vx {

namespace {

QLabel *redLabel(const QString &text)
{
    auto *label = new QLabel(text);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
    return label;
}

QPushButton *button(const QString &name, const QString &caption)
{
    auto *b = new QPushButton(caption);
    b->setObjectName(name);
    return b;
}

// "将地址       改为" with the old-address box standing in its blanks, and the
// target-address box after it: change address [0] to [1].
QWidget *addressRow(ConfigTab &tab)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(QCoreApplication::translate("vx", "将地址       改为"));
    const QString text = label->text();
    QFont font = label->font();
    // Wider blanks: room for a three-digit address between the two Chinese
    // words. (A translation brings blanks enough of its own: spaced-out
    // Latin letters would read badly.)
    if (text.at(0).script() == QChar::Script_Han)
        font.setLetterSpacing(QFont::AbsoluteSpacing, 4);
    label->setFont(font);
    const QFontMetrics metrics(font);
    // The box stands in the run of blanks, in any language.
    static const QRegularExpression run(QStringLiteral(" {3,}"));
    const auto blanksAt = run.match(text);
    const int blanks = blanksAt.hasMatch() ? int(blanksAt.capturedStart()) : 0;
    const int before = metrics.horizontalAdvance(text.left(blanks));
    const int gap = metrics.horizontalAdvance(text.left(blanks + int(blanksAt.capturedLength()))) - before;
    label->setFixedSize(metrics.horizontalAdvance(label->text()) + 4, 26);
    for (int i = 0; i < 2; ++i) {
        tab.txtSetID[std::size_t(i)] = new QLineEdit(QStringLiteral("1"));
        tab.txtSetID[std::size_t(i)]->setObjectName(QStringLiteral("txtSetID_%1").arg(i));
        tab.txtSetID[std::size_t(i)]->setFixedSize(gap - 8, 24);
    }
    tab.txtSetID[0]->setParent(label);
    tab.txtSetID[0]->move(before + 2, 1);
    tab.cmdChangeID = button(QStringLiteral("cmdChangeID"), QCoreApplication::translate("vx", "执行"));
    tab.cmdReadAdd = button(QStringLiteral("cmdReadAdd"), QCoreApplication::translate("vx", "读地址"));
    layout->addWidget(label);
    layout->addWidget(tab.txtSetID[1]);
    layout->addSpacing(12);
    layout->addWidget(tab.cmdChangeID);
    layout->addWidget(tab.cmdReadAdd);
    layout->addStretch(1);
    return row;
}

} // namespace

ConfigTab ConfigTab::build()
{
    ConfigTab tab;
    tab.page = new QWidget;
    auto *page = new QVBoxLayout(tab.page);

    auto *address = new QGroupBox(QCoreApplication::translate("vx", "设备地址修改与查询操作"));
    address->setObjectName(QStringLiteral("frmAddress"));
    auto *addressLayout = new QVBoxLayout(address);
    auto *notice = new QLabel(QCoreApplication::translate("vx", "本栏操作仅限于一个无线设备电源开启时使用，若多个相同地址的设备开启时，则所有相同地址的设备地址将全部被更改。"));
    notice->setWordWrap(true);
    addressLayout->addWidget(notice);
    addressLayout->addWidget(addressRow(tab));
    addressLayout->addWidget(redLabel(QCoreApplication::translate("vx", "地址值范围为：1-245")));
    page->addWidget(address);

    auto *params = new QGroupBox(QCoreApplication::translate("vx", "参数设置"));
    params->setObjectName(QStringLiteral("frmParameters"));
    auto *grid = new QGridLayout(params);
    for (int r = 0; r < kParameterRows; ++r) {
        const auto i = std::size_t(r);
        const ParameterRow &row = parameterRow(r);
        auto *value = new QLineEdit(QStringLiteral("0"));
        value->setObjectName(QStringLiteral("txtSetValues_%1").arg(r));
        value->setFixedWidth(80);
        tab.txtSetValues[i] = value;
        tab.cmdReadSet[i] = button(QStringLiteral("cmdReadSet_%1").arg(r), QCoreApplication::translate("vx", "读取"));
        tab.cmdSetV[i] = button(QStringLiteral("cmdSetV_%1").arg(r), QCoreApplication::translate("vx", "设置"));
        grid->addWidget(new QLabel(row.name), r, 0);
        grid->addWidget(value, r, 1);
        grid->addWidget(tab.cmdReadSet[i], r, 2);
        grid->addWidget(tab.cmdSetV[i], r, 3);
        grid->addWidget(redLabel(row.hint), r, 4);
    }
    grid->setColumnStretch(5, 1);
    page->addWidget(params);
    page->addStretch(1);
    return tab;
}

} // namespace vx
