// The window beside the collecting service: when the service holds the
// window's port, the window shows the service's store, and the operator may
// take the bus (the service pauses) and give it back.
#include "window/frmMain.h"

#include "core/share/BusLease.h"
#include "core/share/BusServiceLink.h"
#include "window/handlers/PortSettings.h"
#include "window/widgets/LinkIndicator.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QStatusBar>
#include <QSysInfo>
#include <QTimer>
#include <QUuid>

namespace vx {

namespace {
QString failureText(const BusServiceLink::Answer &answer, const QString &path)
{
    switch (answer.failure) {
    case BusServiceLink::Failure::NotPermitted:
        return QCoreApplication::translate("vx", "无权使用采集服务的控制接口 %1：请管理员把本用户加入 vxcollect 组，然后重新登录")
            .arg(path);
    case BusServiceLink::Failure::NoAnswer:
        return QCoreApplication::translate("vx", "采集服务 3 秒内没有回答：总线未接管，请稍后再试");
    case BusServiceLink::Failure::NoService:
        return QCoreApplication::translate("vx", "采集服务没有运行：请在“串口号”中重新选择端口");
    case BusServiceLink::Failure::Refused:
        if (answer.reply.value(QStringLiteral("error")).toString() == QLatin1String("busy"))
            return QCoreApplication::translate("vx", "总线已由 %1 接管：请等它交还总线").arg(answer.detail);
        return QCoreApplication::translate("vx", "采集服务拒绝：%1").arg(answer.detail);
    case BusServiceLink::Failure::None:
        break;
    }
    return {};
}

QString whoWeAre()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME", QStringLiteral("?"));
    return QStringLiteral("vxmon (%1@%2, pid %3)")
        .arg(user, QSysInfo::machineHostName())
        .arg(QCoreApplication::applicationPid());
}
} // namespace

QString frmMain::switchFans(int bin, std::optional<bool> on)
{
    const QString path = BusServiceLink::find(m_platform.programDir);
    if (path.isEmpty())
        return QCoreApplication::translate("vx", "风机由采集服务控制，而采集服务没有运行");
    BusServiceLink link(path);
    const auto answer = link.ask({{QStringLiteral("op"), QStringLiteral("fans")},
                                  {QStringLiteral("bin"), bin},
                                  {QStringLiteral("switch"), on ? (*on ? QStringLiteral("on") : QStringLiteral("off")) : QStringLiteral("auto")},
                                  {QStringLiteral("who"), whoWeAre()}},
                                 busshare::kAnswerWithinMs);
    return answer.ok() ? QString() : failureText(answer, path);
}

bool frmMain::lookForBusService(int portNumber)
{
    const QString path = BusServiceLink::find(m_platform.programDir);
    if (path.isEmpty())
        return false;
    auto link = std::make_unique<BusServiceLink>(path);
    const auto status = link->ask({{QStringLiteral("op"), QStringLiteral("status")}}, busshare::kAnswerWithinMs);
    if (!status.ok()) {
        if (status.failure != BusServiceLink::Failure::NoService) // a stale socket file is nobody
            QTimer::singleShot(0, this, [this, text = failureText(status, path)] { notice(text); });
        return false;
    }
    m_serviceWeb = status.reply.value(QStringLiteral("web")).toString();
    // The same device, however it is named (COMn mapped, a link to it).
    m_platform.port->setPortNumber(portNumber);
    const QString ours = m_platform.port->deviceName();
    const QString canonical = QFileInfo(ours).canonicalFilePath();
    const QString theirs = status.reply.value(QStringLiteral("device")).toString();
    if (ours.isEmpty() || (canonical.isEmpty() ? ours : canonical) != theirs)
        return false;
    m_busService = std::move(link);
    m_sharedPort = QStringLiteral("COM%1").arg(portNumber);
    showTakeButton();
    return true;
}

// The operator chose a port the service holds: its store instead of an error.
void frmMain::enterSharedViewer()
{
    const auto status = m_busService->ask({{QStringLiteral("op"), QStringLiteral("status")}}, busshare::kAnswerWithinMs);
    m_viewerStore = status.reply.value(QStringLiteral("store")).toString();
    if (m_viewerStore.isEmpty())
        return;
    for (QTimer *running : {Timer1, Timer2, Timer5}) // what ran on the port we left stops with it
        running->stop();
    m_windowStore.reset(); // the service's store from now on
    m_windowStoreTried = false;
    showIndicator(Indicator::NotConnected);
    bindViewer();
    notice(QCoreApplication::translate("vx", "采集服务正在使用 %1：查看模式").arg(m_sharedPort));
}

void frmMain::showTakeButton()
{
    if (m_takeBus)
        return;
    m_takeBus = new QPushButton(QCoreApplication::translate("vx", "接管总线"));
    m_takeBus->setObjectName(QStringLiteral("cmdTakeBus"));
    m_takeBus->setToolTip(QCoreApplication::translate("vx", "采集服务暂停并关闭串口，本窗口使用总线；交还后采集服务继续"));
    statusBar()->addPermanentWidget(m_takeBus);
    connect(m_takeBus, &QPushButton::clicked, this, [this] {
        if (m_holdingBus)
            giveBus();
        else
            takeBus();
    });
    m_leaseTimer = new QTimer(this);
    m_leaseTimer->setObjectName(QStringLiteral("busLease"));
    connect(m_leaseTimer, &QTimer::timeout, this, &frmMain::renewLease);
}

bool frmMain::takeBus()
{
    if (!m_busService || m_holdingBus)
        return false;
    // Our own token: if the answer comes too late, the give below still undoes the take.
    m_busToken = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const auto answer = m_busService->ask({{QStringLiteral("op"), QStringLiteral("take")},
                                           {QStringLiteral("who"), whoWeAre()},
                                           {QStringLiteral("token"), m_busToken}},
                                          busshare::kAnswerWithinMs);
    if (!answer.ok()) {
        if (answer.failure == BusServiceLink::Failure::NoAnswer)
            m_busService->send({{QStringLiteral("op"), QStringLiteral("give")}, {QStringLiteral("token"), m_busToken}});
        notice(failureText(answer, m_busService->path()));
        return false;
    }
    if (m_viewerTimer)
        m_viewerTimer->stop();
    viewerRefresh(); // the service's last readings, then ours
    m_holdingBus = true;
    m_sharedStore = m_viewerStore; // shown again once the bus is given back
    m_viewerStore.clear();
    m_pipeline->setStoring(false); // the service stores what we take
    setViewerControls(false);
    m_form.RecLen = 31;
    if (!m_portSettings->restore({m_form.CommNum, m_form.CommRate}) || !m_platform.port->isOpen()) {
        const QString device = m_platform.port->deviceName();
        giveBus();
        notice(QCoreApplication::translate("vx", "已接管总线，但无法打开串口 %1：总线已交还").arg(device));
        return false;
    }
    m_platform.port->setThreshold(31);
    showIndicator(Indicator::Connected);
    const qint64 lease = qint64(answer.reply.value(QStringLiteral("lease")).toDouble(30000));
    m_leaseTimer->start(int(qBound(qint64(500), lease / 4, qint64(5000)))); // several renewals per lease
    m_takeBus->setText(QCoreApplication::translate("vx", "交还总线"));
    setWindowTitle(QCoreApplication::translate("vx", "%1 — 已接管总线 %2").arg(kWindowTitle(), m_sharedPort));
    notice(QCoreApplication::translate("vx", "已接管总线 %1：采集服务暂停，交还后继续").arg(m_sharedPort));
    return true;
}

void frmMain::giveBus()
{
    if (!m_holdingBus)
        return;
    for (QTimer *running : {Timer1, Timer2, Timer5}) // nothing of ours may go out once the service polls again
        running->stop();
    m_platform.port->close();
    m_holdingBus = false;
    m_leaseTimer->stop();
    const auto answer = m_busService->ask({{QStringLiteral("op"), QStringLiteral("give")}, {QStringLiteral("token"), m_busToken}},
                                          busshare::kAnswerWithinMs);
    m_busService->close();
    busLost(answer.ok() || answer.failure == BusServiceLink::Failure::Refused // refused: it took the bus back already
                ? QCoreApplication::translate("vx", "总线已交还采集服务：查看模式")
                : failureText(answer, m_busService->path()));
}

void frmMain::renewLease()
{
    const auto answer = m_busService->ask({{QStringLiteral("op"), QStringLiteral("renew")}, {QStringLiteral("token"), m_busToken}},
                                          busshare::kAnswerWithinMs);
    if (answer.ok() || answer.failure == BusServiceLink::Failure::NoAnswer)
        return; // a slow answer: the lease is longer than one renewal
    // The service took the bus back (we were too slow) or is gone: nothing more of ours goes out.
    for (QTimer *running : {Timer1, Timer2, Timer5})
        running->stop();
    m_platform.port->close();
    m_holdingBus = false;
    m_leaseTimer->stop();
    busLost(QCoreApplication::translate("vx", "采集服务已收回总线：查看模式"));
}

// Back to showing the service's store, from now on.
void frmMain::busLost(const QString &text)
{
    m_pipeline->setStoring(true);
    m_viewerStore = m_sharedStore;
    showIndicator(Indicator::NotConnected);
    m_takeBus->setText(QCoreApplication::translate("vx", "接管总线"));
    bindViewer();
    m_viewerSince = m_platform.clock().toMSecsSinceEpoch(); // what we took is shown already
    m_viewerEventsSince = m_viewerSince;
    notice(text);
}

} // namespace vx
