#include "window/tabs/StoreTab.h"

#include "core/notify/Notifier.h"

#include "core/central/MqttPublisher.h"

#include "core/settings/SettingTexts.h"
#include "core/platform/Dialogs.h"
#include "core/store/ReadingStore.h"
#include "core/store/StoreService.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace vx {

StoreTab::StoreTab(StoreService *service, MqttPublisher *mqtt, const QString &problem, Dialogs &dialogs,
                   QWidget *parent)
    : QWidget(parent), m_service(service), m_mqtt(mqtt), m_problem(problem), m_dialogs(dialogs)
{
    auto *layout = new QVBoxLayout(this);
    m_state = new QLabel;
    m_state->setObjectName(QStringLiteral("storeState"));
    m_state->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_state->setWordWrap(true);
    layout->addWidget(m_state);

    auto *form = new QFormLayout;
    const QDateTime now = QDateTime::currentDateTime();
    m_from = new QDateTimeEdit(QDateTime(now.date().addDays(-7), QTime(0, 0)));
    m_from->setObjectName(QStringLiteral("exportFrom"));
    m_to = new QDateTimeEdit(QDateTime(now.date().addDays(1), QTime(0, 0)));
    m_to->setObjectName(QStringLiteral("exportTo"));
    for (QDateTimeEdit *edit : {m_from, m_to}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
        edit->setCalendarPopup(true);
    }
    m_addresses = new QLineEdit;
    m_addresses->setObjectName(QStringLiteral("exportAddresses"));
    m_addresses->setPlaceholderText(QCoreApplication::translate("vx", "全部，或如 1-36,40"));
    m_rows = new QComboBox;
    m_rows->setObjectName(QStringLiteral("exportRows"));
    m_rows->addItems({QCoreApplication::translate("vx", "每个读数一行"), QCoreApplication::translate("vx", "每帧一行（每个测点一列）")});
    // The page scrolls rather than squeezing its fields below their height.
    for (QWidget *field : std::initializer_list<QWidget *>{m_from, m_to, m_addresses, m_rows}) {
        field->setMinimumHeight(field->sizeHint().height());
        field->setMaximumWidth(320);
    }
    form->addRow(QCoreApplication::translate("vx", "起始时间"), m_from);
    form->addRow(QCoreApplication::translate("vx", "结束时间（不含）"), m_to);
    form->addRow(QCoreApplication::translate("vx", "设备地址"), m_addresses);
    form->addRow(QCoreApplication::translate("vx", "行格式"), m_rows);
    layout->addLayout(form);

    auto *row = new QHBoxLayout;
    m_export = new QPushButton(QCoreApplication::translate("vx", "导出CSV…"));
    m_export->setObjectName(QStringLiteral("exportCsvButton"));
    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("exportProgress"));
    m_progress->setRange(0, 0);
    m_progress->setFormat(QStringLiteral("%v"));
    m_progress->hide();
    row->addWidget(m_export);
    row->addWidget(m_progress);
    row->addStretch(1);
    layout->addLayout(row);
    m_result = new QLabel;
    m_result->setObjectName(QStringLiteral("exportResult"));
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_result);

    auto *mapRow = new QHBoxLayout;
    auto *exportMap = new QPushButton(QCoreApplication::translate("vx", "导出传感器表…"));
    exportMap->setObjectName(QStringLiteral("exportSensorMapButton"));
    auto *importMap = new QPushButton(QCoreApplication::translate("vx", "导入传感器表…"));
    importMap->setObjectName(QStringLiteral("importSensorMapButton"));
    mapRow->addWidget(exportMap);
    mapRow->addWidget(importMap);
    // The office PC's view of a store vxcollect fills: another window, reading only.
    auto *viewerButton = new QPushButton(QCoreApplication::translate("vx", "查看模式打开…"));
    viewerButton->setObjectName(QStringLiteral("openViewerButton"));
    viewerButton->setToolTip(QCoreApplication::translate("vx", "另开一个只读窗口：不打开串口，显示数据库中的读数（如 vxcollect 写入的）"));
    mapRow->addWidget(viewerButton);
    connect(viewerButton, &QPushButton::clicked, this, [this] {
        const QString file = m_dialogs.openFileName({QCoreApplication::translate("vx", "查看模式：选择数据库"),
                                                     m_service ? QFileInfo(m_service->settings().local).absolutePath()
                                                               : QDir::homePath(),
                                                     QCoreApplication::translate("vx", "数据库 (*.db);;所有文件 (*)")});
        if (!file.isEmpty() && !QProcess::startDetached(QCoreApplication::applicationFilePath(), {QStringLiteral("--viewer"), file}))
            m_mapResult->setText(QCoreApplication::translate("vx", "无法启动查看窗口"));
    });
    mapRow->addStretch(1);
    layout->addLayout(mapRow);
    m_mapResult = new QLabel;
    m_mapResult->setObjectName(QStringLiteral("sensorMapResult"));
    m_mapResult->setWordWrap(true);
    layout->addWidget(m_mapResult);
    connect(exportMap, &QPushButton::clicked, this, &StoreTab::exportSensorMap);
    connect(importMap, &QPushButton::clicked, this, &StoreTab::importSensorMap);
    exportMap->setEnabled(m_service != nullptr);
    importMap->setEnabled(m_service != nullptr);
    layout->addStretch(1);

    connect(m_export, &QPushButton::clicked, this, &StoreTab::exportCsv);
    m_refresh = new QTimer(this);
    connect(m_refresh, &QTimer::timeout, this, &StoreTab::refresh);
    m_refresh->start(1000);
    refresh();
}

StoreTab::~StoreTab()
{
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
        delete m_thread;
    }
}

void StoreTab::refresh()
{
    const QString web = m_webAddress.isEmpty() ? QString() : QCoreApplication::translate("vx", "\n网页查看：%1").arg(m_webAddress);
    if (!m_service) {
        m_state->setText(QCoreApplication::translate("vx", "数据库不可用：%1").arg(m_problem) + web);
        m_export->setEnabled(false);
        return;
    }
    QString text = QCoreApplication::translate("vx", "数据库：%1\n本次运行已保存读数：%2")
                       .arg(QDir::toNativeSeparators(m_service->settings().local))
                       .arg(m_service->readingsCommitted());
    if (m_service->forwarding())
        text += QCoreApplication::translate("vx", "\n中心数据库：%1，待上传读数：%2")
                    .arg(m_service->centralConnected() ? QCoreApplication::translate("vx", "已连接") : QCoreApplication::translate("vx", "无法连接"))
                    .arg(m_service->centralBacklog());
    if (m_mqtt)
        text += QCoreApplication::translate("vx", "\nMQTT 服务器：%1，待发布读数：%2")
                    .arg(m_mqtt->connected() ? QCoreApplication::translate("vx", "已连接") : QCoreApplication::translate("vx", "无法连接"))
                    .arg(m_mqtt->backlog());
    if (m_notifier) {
        const auto figures = m_notifier->figures();
        for (auto it = figures.cbegin(); it != figures.cend(); ++it)
            text += QCoreApplication::translate("vx", "\n通知 %1：待发送 %2，已发送 %3，过期 %4")
                        .arg(it.key())
                        .arg(it->waiting)
                        .arg(it->sent)
                        .arg(it->expired);
    }
    if (m_service->readingsLost() > 0)
        text += QCoreApplication::translate("vx", "\n数据库无法写入，丢失读数：%1").arg(m_service->readingsLost());
    m_state->setText(text + web);
    if (m_thread)
        m_progress->setValue(int(qMin<qint64>(m_rowsWritten.load(), std::numeric_limits<int>::max())));
}

namespace {
std::unique_ptr<ReadingStore> openOwn(StoreService *service, QString *why)
{
    const auto parsed = parseStoreLocation(service->settings().local, why);
    return parsed ? ReadingStore::open(*parsed, QString(), why) : nullptr;
}
} // namespace

void StoreTab::exportSensorMap()
{
    if (!m_service)
        return;
    const QString file = m_dialogs.saveFileName({QCoreApplication::translate("vx", "导出传感器表"), QDir::homePath(), QStringLiteral("CSV (*.csv)")});
    if (file.isEmpty())
        return;
    QString why;
    auto store = openOwn(m_service, &why);
    QSaveFile out(file);
    if (store && out.open(QIODevice::WriteOnly) && store->exportSensorMap(out, &why) && out.commit()) {
        m_mapResult->setText(QCoreApplication::translate("vx", "传感器表已导出到 %1（%2 个位置）")
                                 .arg(QDir::toNativeSeparators(file))
                                 .arg(store->sensorMap().size()));
        return;
    }
    m_mapResult->setText(QCoreApplication::translate("vx", "传感器表导出失败：%1").arg(why.isEmpty() ? out.errorString() : why));
}

void StoreTab::importSensorMap()
{
    if (!m_service)
        return;
    const QString file = m_dialogs.openFileName({QCoreApplication::translate("vx", "导入传感器表"), QDir::homePath(), QStringLiteral("CSV (*.csv)")});
    if (file.isEmpty())
        return;
    QString why;
    auto store = openOwn(m_service, &why);
    QFile in(file);
    int places = 0;
    if (store && in.open(QIODevice::ReadOnly) && store->importSensorMap(in, &places, &why)) {
        m_mapResult->setText(QCoreApplication::translate("vx", "已导入传感器表：%1 个位置").arg(places));
        return;
    }
    m_mapResult->setText(QCoreApplication::translate("vx", "传感器表导入失败：%1").arg(why.isEmpty() ? in.errorString() : why));
}

void StoreTab::exportCsv()
{
    if (!m_service || m_thread)
        return;
    ExportRequest request;
    request.fromMs = m_from->dateTime().toMSecsSinceEpoch();
    request.toMs = m_to->dateTime().toMSecsSinceEpoch();
    request.perFrame = m_rows->currentIndex() == 1;
    const QString addresses = m_addresses->text().trimmed();
    if (!addresses.isEmpty()) {
        const auto list = parseAddressRanges(addresses);
        if (!list) {
            m_result->setText(QCoreApplication::translate("vx", "设备地址应如 1-36,40（1-247）"));
            return;
        }
        request.addresses = *list;
    }
    if (request.toMs <= request.fromMs) {
        m_result->setText(QCoreApplication::translate("vx", "结束时间应晚于起始时间"));
        return;
    }
    const QString file = m_dialogs.saveFileName(
        {QCoreApplication::translate("vx", "导出CSV"), QDir::homePath(), QStringLiteral("CSV (*.csv)")});
    if (file.isEmpty())
        return;
    // A connection of its own, in a thread of its own: the window keeps collecting meanwhile.
    const QString location = m_service->settings().local;
    m_rowsWritten = 0;
    m_cancel = false;
    auto outcome = std::make_shared<QString>();
    m_thread = QThread::create([this, location, request, file, outcome] {
        QString why;
        const auto parsed = parseStoreLocation(location, &why);
        auto store = parsed ? ReadingStore::open(*parsed, QString(), &why) : nullptr;
        if (!store) {
            *outcome = why;
            return;
        }
        QSaveFile out(file);
        if (!out.open(QIODevice::WriteOnly)) {
            *outcome = out.errorString();
            return;
        }
        const bool ok = store->exportCsv(out, request, &why, [this](qint64 rows) {
            m_rowsWritten = rows;
            return !m_cancel.load();
        });
        if (!ok) {
            out.cancelWriting();
            *outcome = why;
        } else if (!out.commit()) {
            *outcome = out.errorString();
        }
    });
    connect(m_thread, &QThread::finished, this, [this, outcome, file] {
        m_thread->deleteLater();
        m_thread = nullptr;
        m_progress->hide();
        m_export->setEnabled(true);
        const bool ok = outcome->isEmpty();
        const QString message = ok ? QCoreApplication::translate("vx", "已导出 %1 个读数到 %2").arg(m_rowsWritten.load()).arg(QDir::toNativeSeparators(file))
                                   : QCoreApplication::translate("vx", "导出失败：%1").arg(*outcome);
        m_result->setText(message);
        emit exportFinished(ok, message);
    });
    m_export->setEnabled(false);
    m_progress->show();
    m_result->setText(QCoreApplication::translate("vx", "正在导出…"));
    m_thread->start();
}

} // namespace vx
