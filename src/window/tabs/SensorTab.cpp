#include "window/tabs/SensorTab.h"

#include <QCoreApplication>

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTextEdit>
#include <QVBoxLayout>

namespace vx {

namespace {

QLineEdit *box(const QString &name, const QString &text, int width = 56)
{
    auto *b = new QLineEdit(text);
    b->setObjectName(name);
    b->setFixedWidth(width);
    return b;
}

QPushButton *button(const QString &name, const QString &caption)
{
    auto *b = new QPushButton(caption);
    b->setObjectName(name);
    return b;
}

QTextEdit *pane(const QString &name)
{
    auto *p = new QTextEdit;
    p->setObjectName(name);
    p->setReadOnly(true);
    p->setAcceptRichText(false);
    p->setLineWrapMode(QTextEdit::NoWrap); // one serial number per visual line
    return p;
}

// Labelled fields in one row: label, box, label, box, ...
QHBoxLayout *fieldRow(std::initializer_list<std::pair<QString, QWidget *>> fields)
{
    auto *row = new QHBoxLayout;
    for (const auto &[label, widget] : fields) {
        if (!label.isEmpty())
            row->addWidget(new QLabel(label));
        row->addWidget(widget);
    }
    row->addStretch(1);
    return row;
}

QWidget *viewFrame(SensorTab &t)
{
    auto *frame = new QGroupBox(QCoreApplication::translate("vx", "状态观察窗"));
    frame->setObjectName(QStringLiteral("frmView"));
    auto *layout = new QVBoxLayout(frame);
    t.cmdClearSn = button(QStringLiteral("cmdClearSn"), QCoreApplication::translate("vx", "清空观察窗"));
    t.txtShowID = pane(QStringLiteral("txtShowID"));
    t.txtSn = pane(QStringLiteral("txtSn"));
    t.txtShowID->setFixedWidth(40);
    t.txtShowID->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    t.txtShowID->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Position numbers stay on the lines of their serial numbers while
    // scrolling: both viewports have the same height and scroll together.
    t.txtSn->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QObject::connect(t.txtSn->verticalScrollBar(), &QScrollBar::valueChanged,
                     t.txtShowID->verticalScrollBar(), &QScrollBar::setValue);
    auto *numbers = new QVBoxLayout;
    numbers->setSpacing(0);
    numbers->addWidget(t.txtShowID, 1);
    numbers->addSpacing(t.txtSn->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    auto *panes = new QHBoxLayout;
    panes->setSpacing(0);
    panes->addLayout(numbers);
    panes->addWidget(t.txtSn, 1);
    layout->addWidget(t.cmdClearSn, 0, Qt::AlignLeft);
    layout->addLayout(panes, 1);
    // What the shown codes' own checks and the sensor map say about them.
    t.codeSummary = new QLabel;
    t.codeSummary->setObjectName(QStringLiteral("sensorCodeSummary"));
    t.codeSummary->setWordWrap(true);
    t.codeSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(t.codeSummary);
    return frame;
}

QWidget *searchFrame(SensorTab &t)
{
    auto *frame = new QGroupBox(QCoreApplication::translate("vx", "传感器序列号自动搜索"));
    auto *layout = new QVBoxLayout(frame);
    t.txtSearchChannel = box(QStringLiteral("txtSearchChannel"), QStringLiteral("1"));
    t.txtSearchNum = box(QStringLiteral("txtSearchNum"), QStringLiteral("1"));
    t.cmdAutoSearch = button(QStringLiteral("cmdAutoSearch"), QCoreApplication::translate("vx", "自动搜索"));
    layout->addLayout(fieldRow({{QCoreApplication::translate("vx", "通道号"), t.txtSearchChannel},
                                {QCoreApplication::translate("vx", "通道数"), t.txtSearchNum},
                                {QString(), t.cmdAutoSearch}}));
    return frame;
}

QWidget *readFrame(SensorTab &t)
{
    auto *frame = new QGroupBox(QCoreApplication::translate("vx", "读传感器序列号"));
    auto *layout = new QVBoxLayout(frame);
    t.txtChnId = box(QStringLiteral("txtChnId"), QStringLiteral("01"));
    t.TXTsensorID = box(QStringLiteral("TXTsensorID"), QStringLiteral("18"));
    t.cmdReadSensorID = button(QStringLiteral("cmdReadSensorID"), QCoreApplication::translate("vx", "读序列号"));
    t.cmdSaveSn = button(QStringLiteral("cmdSaveSn"), QCoreApplication::translate("vx", "保存序列号"));
    layout->addLayout(fieldRow({{QCoreApplication::translate("vx", "通道号"), t.txtChnId},
                                {QCoreApplication::translate("vx", "读取总数"), t.TXTsensorID},
                                {QString(), t.cmdReadSensorID},
                                {QString(), t.cmdSaveSn}}));
    return frame;
}

QWidget *importFrame(SensorTab &t)
{
    auto *frame = new QGroupBox(QCoreApplication::translate("vx", "批量导入序列号到设备"));
    auto *layout = new QVBoxLayout(frame);
    t.cmdOpenFile = button(QStringLiteral("cmdOpenFile"), QCoreApplication::translate("vx", "从文件导入"));
    layout->addWidget(t.cmdOpenFile, 0, Qt::AlignLeft);

    auto *proof = new QGroupBox(QCoreApplication::translate("vx", "序列号校对窗口"));
    auto *grid = new QGridLayout(proof);
    grid->addWidget(new QLabel(QCoreApplication::translate("vx", "64位一线传感器序列号")), 0, 0, 1, 4);
    for (int i = 0; i < 8; ++i) {
        t.txtSenseSn[std::size_t(i)] = box(QStringLiteral("txtSenseSn_%1").arg(i),
                                           i == 0 ? QStringLiteral("40") : QStringLiteral("0"), 40);
        grid->addWidget(t.txtSenseSn[std::size_t(i)], 1 + i / 4, i % 4);
    }
    grid->addWidget(new QLabel(QCoreApplication::translate("vx", "(十六进制)")), 3, 0, 1, 4);
    grid->setColumnStretch(4, 1);
    layout->addWidget(proof);

    t.txtObjChannelID = box(QStringLiteral("txtObjChannelID"), QStringLiteral("01"));
    t.txtObjSensorid = box(QStringLiteral("txtObjSensorid"), QStringLiteral("01"));
    t.txtTimer5 = box(QStringLiteral("txtTimer5"), QStringLiteral("600"));
    layout->addLayout(fieldRow({{QCoreApplication::translate("vx", "通道号"), t.txtObjChannelID},
                                {QCoreApplication::translate("vx", "传感器序号"), t.txtObjSensorid},
                                {QCoreApplication::translate("vx", "定时时长"), t.txtTimer5}}));
    t.cmdFirst = button(QStringLiteral("cmdFirst"), QCoreApplication::translate("vx", "第一个"));
    t.cmdWriteNext = button(QStringLiteral("cmdWriteNext"), QCoreApplication::translate("vx", "下一个"));
    t.cmdWriteAllSn = button(QStringLiteral("cmdWriteAllSn"), QCoreApplication::translate("vx", "自动导入"));
    t.cmdStopWrite = button(QStringLiteral("cmdStopWrite"), QCoreApplication::translate("vx", "停止导入"));
    layout->addLayout(fieldRow({{QString(), t.cmdFirst}, {QString(), t.cmdWriteNext},
                                {QString(), t.cmdWriteAllSn}, {QString(), t.cmdStopWrite}}));
    return frame;
}

QWidget *readInFrame(SensorTab &t)
{
    auto *frame = new QGroupBox(QCoreApplication::translate("vx", "写传感器序列号"));
    auto *layout = new QVBoxLayout(frame);
    layout->addWidget(new QLabel(QCoreApplication::translate("vx", "操作前请确保传感器已接入到需要操作的设备指定通道")));
    t.txtObjChnid = box(QStringLiteral("txtObjChnid"), QStringLiteral("1"));
    t.txtSensorReadID = box(QStringLiteral("txtSensorReadID"), QStringLiteral("1"));
    t.cmdAutoInput = button(QStringLiteral("cmdAutoInput"), QCoreApplication::translate("vx", "手动读入"));
    layout->addLayout(fieldRow({{QCoreApplication::translate("vx", "通道号"), t.txtObjChnid},
                                {QCoreApplication::translate("vx", "位置编号"), t.txtSensorReadID},
                                {QString(), t.cmdAutoInput}}));
    return frame;
}

} // namespace

SensorTab SensorTab::build()
{
    SensorTab t;
    t.page = new QWidget;
    auto *layout = new QHBoxLayout(t.page);
    layout->addWidget(viewFrame(t), 1);
    auto *right = new QVBoxLayout;
    right->addWidget(searchFrame(t));
    right->addWidget(readFrame(t));
    right->addWidget(importFrame(t));
    right->addWidget(readInFrame(t));
    right->addStretch(1);
    layout->addLayout(right);
    return t;
}

} // namespace vx
