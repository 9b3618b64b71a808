#include "window/frmMain.h"
#include "window/FirstStart.h"

#include <QCoreApplication>

#include "window/widgets/CachedPanelStyle.h"

#include "window/handlers/CycleController.h"
#include "core/frames/Measurement.h"
#include "window/handlers/MeasurementDisplay.h"
#include "core/records/NumberText.h"
#include "window/handlers/SensorCodeCheck.h"
#include "core/store/ReadingStore.h"
#include "core/settings/ForwardingSettings.h"
#include "core/store/StoreService.h"
#include "window/widgets/RichPane.h"
#include "core/grain/AlarmSettingsFile.h"
#include "window/tabs/AlarmTab.h"
#include "window/tabs/DepotTab.h"
#include "window/tabs/GrainOverview.h"
#include "window/tabs/StoreTab.h"
#include "window/tabs/ReportTab.h"
#include "window/tabs/TrendTab.h"
#include "window/handlers/QueryController.h"
#include "window/handlers/ConfigController.h"
#include "window/handlers/SensorReading.h"
#include "window/handlers/SensorWriting.h"
#include "core/link/CommSettings.h"
#include "window/handlers/PortSettings.h"
#include "core/platform/ProgramDir.h"
#include "window/widgets/QtDialogs.h"
#include "core/link/QtSerialPort.h"
#include "window/tabs/ConfigTab.h"
#include "window/widgets/FlatBackdrop.h"
#include "window/widgets/LinkIndicator.h"
#include "window/tabs/SensorTab.h"
#include "window/widgets/Unshaped.h"
#include "window/widgets/ListCombo.h"
#include "core/share/BusLease.h"
#include "core/share/BusServiceLink.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace vx {

namespace {
QString noReplyNotice()
{
    return QCoreApplication::translate("vx", "无响应：3 秒内未收到应答，请检查命令或硬件");
}

// "高 1/2  低 0/3": unacknowledged/open alarms of each priority that has any.
QString alarmCountsText(const AlarmCounts &n)
{
    QStringList parts;
    for (AlarmPriority p : {AlarmPriority::High, AlarmPriority::Medium, AlarmPriority::Low}) {
        const auto i = std::size_t(p);
        if (n.open[i] > 0)
            parts << QStringLiteral("%1 %2/%3").arg(priorityNameShown(p)).arg(n.unacknowledged[i]).arg(n.open[i]);
    }
    return parts.join(QStringLiteral("  "));
}
} // namespace

QString kWindowTitle()
{
    return QCoreApplication::translate("vx", "VX7310K-42无线动态数据监测软件");
}

Platform systemPlatform()
{
    Platform p;
    p.programDir = programDirectory();
    auto map = std::make_shared<PortMap>(p.programDir);
    p.port = std::make_unique<QtSerialPort>([map](int n) { return map->deviceFor(n); });
    p.dialogs = std::make_unique<QtDialogs>(kWindowTitle());
    p.clock = [] { return QDateTime::currentDateTime(); };
    return p;
}

namespace {

QLineEdit *textBox(const char *name, const QString &text, int width = 60)
{
    auto *box = new QLineEdit(text);
    box->setObjectName(QString::fromLatin1(name));
    box->setFixedWidth(width);
    return box;
}

QPushButton *button(const char *name, const QString &caption)
{
    auto *b = new QPushButton(caption);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

QGroupBox *frame(const char *name, const QString &title)
{
    auto *box = new QGroupBox(title);
    box->setObjectName(QString::fromLatin1(name));
    box->setAutoFillBackground(true); // opaque: what changes inside repaints only the frame
    return box;
}

// A tab page that scrolls when the window is smaller than the page needs,
// so its controls keep their size instead of being squeezed over each other.
QScrollArea *scrollable(QWidget *page)
{
    auto *area = new QScrollArea;
    area->setWidget(page);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setMinimumHeight(200);
    return area;
}

// Sizes a label once for its longest text (see FillHolder).
void fixSize(QLabel *label, const QString &longest)
{
    withoutShaping(label);
    label->setFixedSize(label->fontMetrics().horizontalAdvance(longest) + 4, label->sizeHint().height());
}

// Keeps one child filling it, without a layout: a child whose size hint
// changes with its text then costs no layout of the window.
class FillHolder : public QWidget {
public:
    explicit FillHolder(QWidget *child) : m_child(child) { child->setParent(this); }

protected:
    // Fixed at the holder's size: a child whose size may change asks its
    // parent for a layout pass with every new text, twice per exchange.
    void resizeEvent(QResizeEvent *) override
    {
        m_child->setFixedSize(size());
        m_child->move(0, 0);
    }

private:
    QWidget *m_child;
};

QTimer *timer(QObject *parent, const char *name)
{
    auto *t = new QTimer(parent);
    t->setObjectName(QString::fromLatin1(name));
    // Precise: a coarse timer fires up to 5% early, and an early tick's
    // request throws away a reply still arriving.
    t->setTimerType(Qt::PreciseTimer);
    return t;
}

} // namespace

frmMain::frmMain() : frmMain(systemPlatform()) {}

frmMain::frmMain(Platform platform, QWidget *parent)
    : QMainWindow(parent), m_platform(std::move(platform)), m_portMap(m_platform.programDir),
      m_viewerStore(m_platform.viewerStore)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kWindowTitle());
    if (auto *qtDialogs = dynamic_cast<QtDialogs *>(m_platform.dialogs.get()))
        qtDialogs->setParentWidget(this);
    m_platform.port->setModalGate(&m_platform.dialogs->gate());

    Timer1 = timer(this, "Timer1");
    Timer2 = timer(this, "Timer2");
    Timer5 = timer(this, "Timer5");
    m_repaintLater = new QTimer(this);
    m_repaintLater->setObjectName(QStringLiteral("repaintLater"));
    m_repaintLater->setSingleShot(true);
    connect(m_repaintLater, &QTimer::timeout, this, [this] {
        // Due now, even when the timer came a little early (a coarse timer
        // may): put off again, the repaint took a second wake-up.
        m_sinceRepaint.invalidate();
        QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    });
    // One timer for the "no reply" check, not one per request: the cycle's
    // requests kept some hundred timers running, each waking the program.
    m_noReplyCheck = new QTimer(this);
    m_noReplyCheck->setObjectName(QStringLiteral("noReplyCheck"));
    m_noReplyCheck->setSingleShot(true);
    m_noReplyCheck->setInterval(3000);
    connect(m_noReplyCheck, &QTimer::timeout, this, [this] {
        if (m_repliesTaken == m_repliesBeforeCheck)
            notice(noReplyNotice());
    });

    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 2);
    auto *top = new QHBoxLayout;
    top->addWidget(buildModbusFrame());
    top->addWidget(buildPortFrame());
    top->addWidget(buildStatusFrame());
    top->addStretch(1);
    layout->addLayout(top);
    buildTabs();
    layout->addWidget(SSTab2, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(buildMonitorFrame(), 1);
    bottom->addWidget(buildQueryFrame());
    layout->addLayout(bottom);
    auto *label4 = new QLabel(QCoreApplication::translate("vx", "设备地址范围 1-245；串口格式：无校验，8 位数据位，1 位停止位。"));
    label4->setObjectName(QStringLiteral("Label4"));
    layout->addWidget(label4);
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    // Every group box's and line edit's frame from a pixmap: the same pixels, drawn once.
    for (QGroupBox *box : findChildren<QGroupBox *>())
        box->setStyle(CachedPanelStyle::shared());
    for (QLineEdit *box : findChildren<QLineEdit *>()) {
        // A spin box's or combo box's own editor is drawn by its owner's style.
        if (!qobject_cast<QAbstractSpinBox *>(box->parentWidget()) && !qobject_cast<QComboBox *>(box->parentWidget()))
            box->setStyle(CachedPanelStyle::shared());
    }

    // The collecting service holding comm.set's port: the window shows its
    // store (and may take the bus) rather than failing to open the port.
    if (!viewer()) {
        const CommSetRead saved = readCommSet(QDir(m_platform.programDir).filePath(QStringLiteral("comm.set")));
        if (lookForBusService(saved.status == CommSetStatus::Ok ? saved.settings.CommNum : 1)) {
            const auto status = m_busService->ask({{QStringLiteral("op"), QStringLiteral("status")}}, busshare::kAnswerWithinMs);
            m_viewerStore = status.reply.value(QStringLiteral("store")).toString();
        }
    }

    // Where frames go: the window's store and what store.conf forwards to;
    // a viewer stores nothing (another program's store is what it shows, and
    // what it takes while it holds the service's bus goes to the service).
    PipelineSettings pipeline;
    pipeline.programDir = m_platform.programDir;
    const ForwardingRead forwarding = readWindowForwarding(m_platform.programDir);
    pipeline.store = forwarding.store;
    pipeline.mqtt = forwarding.mqtt;
    pipeline.notify = forwarding.notify;
    pipeline.storeReadings = !viewer();
    m_pipeline = std::make_unique<ReadingPipeline>(pipeline);
    m_pipeline->addListener(this);

    bind();
    if (!m_serviceWeb.isEmpty())
        m_storeTab->setWebAddress(m_serviceWeb);
    Form_Load();
    if (!forwarding.errors.isEmpty())
        notice(QCoreApplication::translate("vx", "store.conf 有误，已用默认值：%1").arg(forwarding.errors.join(QStringLiteral("；"))));
}

frmMain::~frmMain()
{
    if (m_holdingBus) // closing the window gives the bus back at once, not after the lease
        giveBus();
    delete m_storeTab; // its export, if any, ends before the store closes
    m_pipeline->removeListener(this);
    m_pipeline->stop();
}

TextPane *frmMain::pane(QTextEdit *edit)
{
    m_panes.push_back(std::make_unique<RichPane>(edit));
    return m_panes.back().get();
}

bool frmMain::event(QEvent *event)
{
    // At most ten repaints of the window a second: a request and its reply
    // each changed what is shown, 70 times a second at 19200 baud, and painting
    // was most of what an exchange cost. The eye sees no difference.
    if (event->type() == QEvent::UpdateRequest || event->type() == QEvent::UpdateLater) {
        const qint64 since = m_sinceRepaint.isValid() ? m_sinceRepaint.elapsed() : m_repaintIntervalMs;
        if (since < m_repaintIntervalMs) {
            // Painted a moment ago: paint what changed since then a little later.
            if (!m_repaintLater->isActive())
                m_repaintLater->start(int(m_repaintIntervalMs - since));
            return true;
        }
        m_sinceRepaint.start();
    }
    return QMainWindow::event(event);
}

// At the first show: the size the operator left it at, or one that shows
// every tab title and all ten grid columns, within the screen.
void frmMain::showEvent(QShowEvent *event)
{
    if (!m_sized) {
        m_sized = true;
        if (!testAttribute(Qt::WA_Resized)) { // a size given before the first show stays
            const QSettings view(QDir(m_platform.programDir).filePath(QStringLiteral("view.ini")), QSettings::IniFormat);
            const QSize saved = view.value(QStringLiteral("window/size")).toSize();
            QSize size = saved.isValid() ? saved : roomyWindowSize(*this, *SSTab2);
            if (const QScreen *s = screen())
                size = size.boundedTo(s->availableGeometry().size() - QSize(16, 48)); // the frame and title bar
            resize(size.expandedTo(minimumSizeHint()));
        }
        m_saveSize = new QTimer(this);
        m_saveSize->setSingleShot(true);
        m_saveSize->setInterval(500);
        connect(m_saveSize, &QTimer::timeout, this, [this] {
            QSettings view(QDir(m_platform.programDir).filePath(QStringLiteral("view.ini")), QSettings::IniFormat);
            view.setValue(QStringLiteral("window/size"), this->size());
        });
    }
    QMainWindow::showEvent(event);
}

void frmMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (m_saveSize && isVisible())
        m_saveSize->start(); // settled sizes only: not every step of a drag
}

QWidget *frmMain::buildModbusFrame()
{
    auto *box = frame("Frame10", QCoreApplication::translate("vx", "MODBUS设置"));
    auto *grid = new QGridLayout(box);
    txtStationID = textBox("txtStationID", QStringLiteral("2"));
    withoutShaping(txtStationID); // the cycle rewrites it on every tick
    FlatBackdrop::apply(txtStationID);
    txtFunID = textBox("txtFunID", QStringLiteral("3"));
    txtStartID = textBox("txtStartID", QStringLiteral("0"));
    txtDataLength = textBox("txtDataLength", QStringLiteral("18"));
    const QString labels[] = {QCoreApplication::translate("vx", "设备地址"), QCoreApplication::translate("vx", "功 能 码"),
                              QCoreApplication::translate("vx", "超始地址"), QCoreApplication::translate("vx", "数据长度")};
    QLineEdit *boxes[] = {txtStationID, txtFunID, txtStartID, txtDataLength};
    for (int i = 0; i < 4; ++i) {
        grid->addWidget(new QLabel(labels[i]), 0, i);
        grid->addWidget(boxes[i], 1, i);
    }
    return box;
}

QWidget *frmMain::buildPortFrame()
{
    auto *box = frame("Frame5", QCoreApplication::translate("vx", "串口设置"));
    auto *grid = new QGridLayout(box);
    Combo1 = new ListCombo;
    Combo1->setObjectName(QStringLiteral("Combo1"));
    for (int n = 1; n <= 16; ++n)
        Combo1->addItem(QStringLiteral("COM%1").arg(n));
    Combo1->showUnselected(QStringLiteral("COM4"));
    Combo2 = new ListCombo;
    Combo2->setObjectName(QStringLiteral("Combo2"));
    Combo2->addItems({QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("14400"),
                      QStringLiteral("19200")});
    Combo2->showUnselected(QStringLiteral("19200"));
    cmdCom = button("cmdCom", QCoreApplication::translate("vx", "保存设置"));
    grid->addWidget(new QLabel(QCoreApplication::translate("vx", "串口号")), 0, 0);
    grid->addWidget(Combo1, 0, 1);
    grid->addWidget(new QLabel(QCoreApplication::translate("vx", "波特率")), 1, 0);
    grid->addWidget(Combo2, 1, 1);
    grid->addWidget(cmdCom, 0, 2, 2, 1);
    return box;
}

QWidget *frmMain::buildStatusFrame()
{
    auto *box = frame("Frame6", QCoreApplication::translate("vx", "运行状态指示"));
    auto *row = new QHBoxLayout(box);
    indicatorStack = new LinkIndicator;
    lblErrCounter = new QLabel(QStringLiteral("0"));
    lblErrCounter->setObjectName(QStringLiteral("lblErrCounter"));
    lblErrCounter->setToolTip(QCoreApplication::translate("vx", "误码率"));
    lblErrCounter->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    fixSize(lblErrCounter, QStringLiteral("00000000")); // a hundred million replies
    lblCounter = new QLabel(QStringLiteral("0"));
    lblCounter->setObjectName(QStringLiteral("lblCounter"));
    lblCounter->setToolTip(QCoreApplication::translate("vx", "测试统计"));
    fixSize(lblCounter, QStringLiteral("000000")); // wraps after 65535
    auto *bar = new QLabel(QStringLiteral("/")); // replies over requests, like a fraction
    // All three change with every exchange.
    for (QWidget *changing : {static_cast<QWidget *>(indicatorStack), static_cast<QWidget *>(lblErrCounter),
                              static_cast<QWidget *>(lblCounter)})
        FlatBackdrop::apply(changing);
    row->addWidget(indicatorStack);
    row->addSpacing(8);
    row->addWidget(lblErrCounter);
    row->addWidget(bar);
    row->addWidget(lblCounter);
    return box;
}

void frmMain::buildTabs()
{
    SSTab2 = new QTabWidget;
    SSTab2->setObjectName(QStringLiteral("SSTab2"));
    const QString names[] = {QCoreApplication::translate("vx", "1-10#电缆"), QCoreApplication::translate("vx", "11-20#电缆"),
                             QCoreApplication::translate("vx", "21-30#电缆"), QCoreApplication::translate("vx", "31-40#电缆")};
    for (int t = 1; t <= 4; ++t)
        SSTab2->addTab(scrollable(m_grid.buildTab(t)), names[t - 1]);
    m_configPage = new QWidget;
    SSTab2->addTab(scrollable(m_configPage), QCoreApplication::translate("vx", "单机参数设置"));
    m_sensorPage = new QWidget;
    SSTab2->addTab(scrollable(m_sensorPage), QCoreApplication::translate("vx", "单机传感器设置"));
    auto *about = new QWidget;
    auto *aboutLayout = new QVBoxLayout(about);
    auto *label9 = new QLabel(kWindowTitle() + QCoreApplication::translate("vx", "\n\n用于无线数据采集设备的数据查询、传感器序列号管理与设备参数配置。"
        "\n数据日志保存在程序目录的 data 文件夹中，原始接收记录保存在 dataGet.txt。"));
    label9->setObjectName(QStringLiteral("Label9"));
    label9->setAlignment(Qt::AlignCenter);
    aboutLayout->addWidget(label9);
    SSTab2->addTab(scrollable(about), QCoreApplication::translate("vx", "关于软件"));
}

QWidget *frmMain::buildMonitorFrame()
{
    auto *box = frame("Frame1", QCoreApplication::translate("vx", "二次开发命令观察窗口"));
    auto *grid = new QGridLayout(box);
    txtCommand = new QLineEdit;
    txtCommand->setObjectName(QStringLiteral("txtCommand"));
    txtCommand->setReadOnly(true);
    withoutShaping(txtCommand);
    FlatBackdrop::apply(txtCommand);
    // A label, not a text editor: a reply every few milliseconds must not cost
    // a text layout each time; it is painted only when shown.
    txtState = new QLabel;
    txtState->setObjectName(QStringLiteral("txtState"));
    txtState->setFrameShape(QFrame::StyledPanel);
    txtState->setFrameShadow(QFrame::Sunken);
    txtState->setBackgroundRole(QPalette::Base);
    txtState->setAutoFillBackground(true);
    txtState->setWordWrap(true);
    txtState->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    txtState->setTextFormat(Qt::PlainText);
    withoutShaping(txtState);
    // In a holder without a layout: a new text in a label of variable width
    // would otherwise lay out the whole window on every reply.
    auto *stateHolder = new FillHolder(txtState);
    stateHolder->setFixedHeight(48);
    stateHolder->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto *copy = new QAction(QCoreApplication::translate("vx", "复制"), txtState);
    connect(copy, &QAction::triggered, this, [this] { QGuiApplication::clipboard()->setText(txtState->text()); });
    txtState->addAction(copy);
    txtState->setContextMenuPolicy(Qt::ActionsContextMenu);
    grid->addWidget(new QLabel(QCoreApplication::translate("vx", "发送命令:")), 0, 0);
    grid->addWidget(txtCommand, 0, 1);
    grid->addWidget(new QLabel(QCoreApplication::translate("vx", "接收命令:")), 1, 0, Qt::AlignTop);
    grid->addWidget(stateHolder, 1, 1);
    return box;
}

QWidget *frmMain::buildQueryFrame()
{
    auto *box = frame("Frame11", QCoreApplication::translate("vx", "数据查询操作"));
    auto *grid = new QGridLayout(box);
    txtTimerSet = textBox("txtTimerSet", QStringLiteral("1000"));
    txtMaxID = textBox("txtMaxID", QStringLiteral("36"));
    cmdCicleAll = button("cmdCicleAll", QCoreApplication::translate("vx", "多模块循环"));
    Command1 = button("Command1", QCoreApplication::translate("vx", "主动上传模式"));
    comDoOnce = button("comDoOnce", QCoreApplication::translate("vx", "单次"));
    cmdOneM = button("cmdOneM", QCoreApplication::translate("vx", "循环"));
    cmdStopOnce = button("cmdStopOnce", QCoreApplication::translate("vx", "停止"));
    grid->addWidget(new QLabel(QCoreApplication::translate("vx", "定时时长(ms)")), 0, 0);
    grid->addWidget(txtTimerSet, 0, 1);
    grid->addWidget(new QLabel(QCoreApplication::translate("vx", "最大循环ID")), 1, 0);
    grid->addWidget(txtMaxID, 1, 1);
    grid->addWidget(cmdCicleAll, 0, 2);
    grid->addWidget(Command1, 1, 2);
    grid->addWidget(comDoOnce, 0, 3);
    grid->addWidget(cmdOneM, 1, 3);
    grid->addWidget(cmdStopOnce, 0, 4, 2, 1);
    return box;
}

void frmMain::bindGrain()
{
    m_overview = new GrainOverview;
    m_overview->setObjectName(QStringLiteral("grainOverview"));
    m_overview->setSettingsFile(QDir(m_platform.programDir).filePath(QStringLiteral("view.ini")));
    m_overview->map()->setClock([this] { return m_platform.clock().toMSecsSinceEpoch(); });
    m_overview->map()->setSilentAfter([this] { return silentAfterMs(); });
    m_overview->setSnapshot(&m_pipeline->snapshot());
    SSTab2->addTab(scrollable(m_overview), QCoreApplication::translate("vx", "粮情总览"));
    // Alarms: the same rules and settings file as vxcollect's, read when the pipeline starts.
    m_alarmTab = new AlarmTab;
    m_alarmTab->setObjectName(QStringLiteral("alarmTab"));
    m_alarmPage = scrollable(m_alarmTab);
    SSTab2->addTab(m_alarmPage, QCoreApplication::translate("vx", "报警"));
    connect(m_alarmTab, &AlarmTab::acknowledgeRow, this, [this](int row) {
        m_pipeline->acknowledge(row, m_platform.clock().toMSecsSinceEpoch());
    });
    connect(m_alarmTab, &AlarmTab::acknowledgeAll, this, [this] {
        m_pipeline->acknowledgeAll(m_platform.clock().toMSecsSinceEpoch());
    });
    connect(m_alarmTab, &AlarmTab::editSettings, this, [this] {
        auto *dialog = new AlarmSettingsDialog(m_pipeline->alarmSettings(), m_pipeline->alarmSilentMinutes(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &AlarmSettingsDialog::accepted, this, &frmMain::applyAlarmSettings);
        dialog->open(); // window-modal, and the event loop (collection) goes on
    });
    m_trendTab = new TrendTab([this] { return windowStore(); }, [this] { return m_platform.clock().toMSecsSinceEpoch(); },
                              *m_platform.dialogs);
    m_trendTab->setObjectName(QStringLiteral("trendTab"));
    m_trendPage = scrollable(m_trendTab);
    SSTab2->addTab(m_trendPage, QCoreApplication::translate("vx", "历史曲线"));
    m_reportTab = new ReportTab([this] { return windowStore(); }, *m_platform.dialogs);
    m_reportTab->setObjectName(QStringLiteral("reportTab"));
    SSTab2->addTab(scrollable(m_reportTab), QCoreApplication::translate("vx", "日报"));
    connect(m_overview->map(), &GrainMap::pointActivated, this, [this](int cable, int layer) {
        if (store())
            store()->flush(); // what was just taken is on the curve too
        SSTab2->setCurrentWidget(m_trendPage);
        m_trendTab->showPoint(cable, layer);
    });
    m_alarmCount = new QLabel;
    m_alarmCount->setObjectName(QStringLiteral("alarmCount"));
    statusBar()->addPermanentWidget(m_alarmCount);
    m_runState = new QLabel;
    m_runState->setObjectName(QStringLiteral("runState"));
    statusBar()->addPermanentWidget(m_runState);
    m_tick = new QTimer(this);
    m_tick->setObjectName(QStringLiteral("overviewTick"));
    connect(m_tick, &QTimer::timeout, this, &frmMain::tick);
    m_tick->start(1000);
    connect(Command1, &QPushButton::clicked, this, [this] { m_uploadMode = true; });
}

qint64 frmMain::silentAfterMs() const
{
    const int silentMinutes = m_pipeline->alarmSilentMinutes();
    if (viewer())
        return qint64(silentMinutes > 0 ? silentMinutes : 10) * 60000; // the collector's pace is not known here
    if (silentMinutes > 0)
        return qint64(silentMinutes) * 60000;
    if (Timer1->isActive()) {
        const qint64 devices = qBound(qint64(1), qint64(num::Val(txtMaxID->text())), qint64(kMaxReplyAddress));
        return 3 * devices * qMax(1, Timer1->interval());
    }
    if (m_uploadMode)
        return 10 * 60 * 1000;
    return std::numeric_limits<qint64>::max() / 4; // nothing runs: nobody is expected to answer
}

QString frmMain::runState() const
{
    if (Timer1->isActive())
        return QCoreApplication::translate("vx", "循环运行中 (周期 %1 ms)").arg(Timer1->interval());
    if (Timer2->isActive())
        return QCoreApplication::translate("vx", "定时查询中");
    if (m_uploadMode)
        return QCoreApplication::translate("vx", "主动上传模式");
    return QString();
}

void frmMain::tick()
{
    const QString state = runState();
    if (m_runState->text() != state)
        m_runState->setText(state);
    m_overview->refresh();
    m_depotTab->refresh();
    markSilentColumns();
    evaluateAlarms();
}

void frmMain::bindDepot()
{
    // The depot as keepers see it: bins, where cables hang, layers (depot.ini, read with the pipeline).
    DepotViewSource source{&m_pipeline->depot(), [this] { return m_platform.clock().toMSecsSinceEpoch(); },
                           [this] { return silentAfterMs(); }, {}, {}, &*m_platform.dialogs};
    if (!viewer()) { // a viewer shows another program's store: it writes no book
        source.inspections = [this] { return m_pipeline->inspections(); };
        source.addInspection = [this](const InspectionEntry &entry) { m_pipeline->addInspection(entry); };
    }
    source.depotFile = depotFilePath(m_platform.programDir);
    source.depotSaved = [this](const Depot &depot) { m_pipeline->setDepot(depot); };
    source.air = &m_pipeline->ventilation();
    source.switchFans = [this](int bin, std::optional<bool> on) { return switchFans(bin, on); };
    m_depotTab = new DepotTab(source);
    m_depotTab->setObjectName(QStringLiteral("depotTab"));
    SSTab2->addTab(scrollable(m_depotTab), QCoreApplication::translate("vx", "仓房"));
    m_depotTab->refresh();
}

void frmMain::applyAlarmSettings(const AlarmSettings &settings, int silentMinutes)
{
    QString why;
    if (!writeAlarmSettings(alarmSettingsPath(m_platform.programDir), settings, silentMinutes, &why))
        notice(QCoreApplication::translate("vx", "报警设置未保存：%1").arg(why));
    m_pipeline->setAlarmSettings(settings, silentMinutes);
    evaluateAlarms();
}

void frmMain::evaluateAlarms()
{
    if (viewer())
        return; // the book is what the collecting program stored (viewerRefresh)
    m_pipeline->evaluateAlarms(m_platform.clock().toMSecsSinceEpoch(), silentAfterMs());
}

void frmMain::frameAccepted(const AcceptedFrame &accepted)
{
    if (m_holdingBus) // the service keeps the record: its store, its forwarding
        m_busService->send(busshare::frameRequest(m_busToken, accepted.frame));
    m_overview->frameTaken(accepted.frame.address);
}

void frmMain::alarmsChanged(const QList<AlarmTransition> &, const AlarmBook &book)
{
    // Per priority, unacknowledged of open: an acknowledged alarm that still holds stays counted.
    const AlarmCounts counts = book.counts();
    const QString text = alarmCountsText(counts);
    const QString count = counts.openTotal() > 0 ? QCoreApplication::translate("vx", "报警 %1").arg(text) : QString();
    if (m_alarmCount->text() != count)
        m_alarmCount->setText(count);
    m_alarmCount->setToolTip(QCoreApplication::translate("vx", "各优先级：未确认/报警中"));
    const int index = SSTab2->indexOf(m_alarmPage);
    const QString title = counts.openTotal() > 0 ? QCoreApplication::translate("vx", "报警 (%1)").arg(text)
                                                  : QCoreApplication::translate("vx", "报警");
    if (SSTab2->tabText(index) != title)
        SSTab2->setTabText(index, title);
    m_alarmTab->showAlarms(book);
    m_overview->map()->setAlarms(book);
    if (m_depotTab)
        m_depotTab->setAlarms(book);
}

void frmMain::markSilentColumns()
{
    // A silent cable's column is tinted behind its value boxes; the boxes keep their own colours.
    if (m_columnFrames.isEmpty())
        for (int c = 1; c <= kDeviceColumns; ++c)
            m_columnFrames << findChild<QFrame *>(QStringLiteral("Frame3_%1").arg(c - 1));
    const auto states = m_overview->map()->states();
    static_assert(kDeviceColumns <= kCables);
    for (int c = 1; c <= kDeviceColumns; ++c) {
        QFrame *frame = m_columnFrames.value(c - 1);
        if (!frame)
            continue;
        const bool silent = states[std::size_t(c - 1)] == CableState::Silent;
        if (frame->property("silent").toBool() == silent)
            continue;
        frame->setProperty("silent", silent);
        QPalette pal = frame->palette();
        pal.setColor(QPalette::Window, silent ? QColor(255, 200, 120) : palette().color(QPalette::Window));
        frame->setPalette(pal);
        frame->setToolTip(silent ? QCoreApplication::translate("vx", "设备地址 %1：无响应").arg(c) : QCoreApplication::translate("vx", "设备地址 %1").arg(c));
    }
}

// Nothing may reach a bus another program owns: every control that sends or
// opens the port is off while viewing, and as it was when the bus is ours.
void frmMain::setViewerControls(bool viewer)
{
    const QString why = QCoreApplication::translate("vx", "查看模式：数据来自数据库，不向总线发送");
    QStringList names{"comDoOnce", "cmdOneM", "cmdCicleAll", "Command1", "cmdCom", "Combo1", "Combo2",
                      "cmdReadSensorID", "cmdAutoSearch", "cmdAutoInput", "cmdFirst", "cmdWriteNext", "cmdWriteAllSn",
                      "cmdReadAdd", "cmdChangeID"};
    for (int r = 0; r < 6; ++r)
        names << QStringLiteral("cmdReadSet_%1").arg(r) << QStringLiteral("cmdSetV_%1").arg(r);
    for (const QString &name : names) {
        auto *control = findChild<QWidget *>(name);
        if (!control)
            continue;
        if (viewer && !control->property("viewerKept").isValid()) {
            control->setProperty("viewerKept", true);
            control->setProperty("viewerEnabled", control->isEnabled());
            control->setProperty("viewerTip", control->toolTip());
            control->setEnabled(false);
            control->setToolTip(why);
        } else if (!viewer && control->property("viewerKept").isValid()) {
            control->setEnabled(control->property("viewerEnabled").toBool());
            control->setToolTip(control->property("viewerTip").toString());
            control->setProperty("viewerKept", QVariant());
        }
    }
}

void frmMain::bindViewer()
{
    setViewerControls(true);
    if (!m_viewerTimer) {
        m_viewerTimer = new QTimer(this);
        m_viewerTimer->setObjectName(QStringLiteral("viewerRefresh"));
        connect(m_viewerTimer, &QTimer::timeout, this, &frmMain::viewerRefresh);
    }
    m_viewerTimer->start(kViewerRefreshMs);
    // Start from the last hour: the latest readings, not the whole history.
    m_viewerSince = m_platform.clock().toMSecsSinceEpoch() - 3600000;
    // The alarm book as it stands: a week of its events is enough to know what is open.
    m_viewerEventsSince = m_platform.clock().toMSecsSinceEpoch() - 7 * 86400000LL;
    setWindowTitle(m_sharedPort.isEmpty()
                       ? QCoreApplication::translate("vx", "%1 — 查看模式：%2").arg(kWindowTitle(), m_viewerStore)
                       : QCoreApplication::translate("vx", "%1 — 采集服务正在使用 %2：查看模式").arg(kWindowTitle(), m_sharedPort));
    QTimer::singleShot(0, this, &frmMain::viewerRefresh);
}

void frmMain::viewerRefresh()
{
    ReadingStore *store = windowStore();
    if (!store)
        return;
    for (const ReadingSet &frame : store->framesSince(m_viewerSince)) {
        m_viewerSince = qMax(m_viewerSince, frame.timeMs);
        if (frame.address >= 1 && frame.address <= kDeviceColumns) {
            const int column = frame.address - 1;
            for (int k = 0; k < qMin<int>(frame.raw.size(), kPointsPerDevice); ++k)
                if (frame.raw[k] != kNoReading)
                    m_grid.showValue(ValueGrid::boxIndex(frame.address, k + 1), valueText(frame.raw[k]));
            m_grid.LBLrecTime[column]->setText(longTime(QDateTime::fromMSecsSinceEpoch(frame.timeMs).time()));
            if (frame.address <= kMaxReplyAddress)
                m_grid.lblRCounter[column]->setText(QString::number(++m_form.RecCount[column]));
        }
        m_pipeline->replay(frame);
    }
    // Silence and alarms as the collecting program stored them, not as this window would guess.
    // Everything stored since the last look, on the collector's clock, not this window's.
    constexpr qint64 kYear2100Ms = 4102444800000;
    const QList<StoreEvent> events = store->events(m_viewerEventsSince, kYear2100Ms);
    if (!events.isEmpty()) {
        m_viewerEventsSince = events.last().timeMs + 1;
        m_pipeline->replayEvents(events);
        m_overview->refresh();
    }
}

void frmMain::bindStore()
{
    // Every frame the window takes is stored as vxcollect stores it, and
    // forwarded as store.conf says; the text logs stay as they are. A store
    // that cannot be opened is said once.
    QString problem;
    connect(m_pipeline.get(), &ReadingPipeline::problem, this, [this](const QString &message) {
        notice(QCoreApplication::translate("vx", "数据库：%1").arg(message));
    });
    if (viewer())
        problem = QCoreApplication::translate("vx", "查看模式：读取 %1，不写入").arg(m_viewerStore);
    if (!m_pipeline->start(&problem))
        notice(QCoreApplication::translate("vx", "无法打开数据库：%1（读数只写入文本日志）").arg(problem));
    if (!m_pipeline->alarmSettingsErrors().isEmpty())
        notice(QCoreApplication::translate("vx", "报警设置有误，已用默认值：%1")
                   .arg(m_pipeline->alarmSettingsErrors().join(QStringLiteral("；"))));
    m_storeTab = new StoreTab(store(), m_pipeline->mqtt(), problem, *m_platform.dialogs);
    m_storeTab->setNotifier(m_pipeline->notifier());
    SSTab2->addTab(scrollable(m_storeTab), QCoreApplication::translate("vx", "数据存储"));
    if (store() && store()->forwarding()) {
        m_storeBacklog = new QLabel;
        m_storeBacklog->setObjectName(QStringLiteral("centralBacklog"));
        statusBar()->addPermanentWidget(m_storeBacklog);
        auto *timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            m_storeBacklog->setText(QCoreApplication::translate("vx", "待上传读数：%1%2")
                                        .arg(store()->centralBacklog())
                                        .arg(store()->centralConnected() ? QString() : QCoreApplication::translate("vx", "（中心数据库无法连接）")));
        });
        timer->start(1000);
        m_storeBacklog->setText(QCoreApplication::translate("vx", "待上传读数：%1").arg(store()->centralBacklog()));
    }
}

void frmMain::bind()
{
    m_pipeline->records().setLossHandler([this](const QString &path) {
        notice(QCoreApplication::translate("vx", "无法写入文件 %1，记录未保存（本次运行只提示一次）").arg(QDir::toNativeSeparators(path)));
    });
    m_link = std::make_unique<Link>(m_form, *m_platform.port, *m_platform.dialogs,
                                    static_cast<LinkView &>(*this), m_pipeline->records(),
                                    m_platform.programDir, m_platform.clock);
    connect(m_platform.port.get(), &SerialPort::commEvent, this, [this](CommEvent event) {
        if (event == CommEvent::Error)
            portLost();
        else
            m_link->MSComm1_OnComm(event);
    });

    m_portSettings = std::make_unique<PortSettings>(PortSettings::Controls{Combo1, Combo2}, m_form,
                                                    *m_platform.port, *m_platform.dialogs, m_portMap,
                                                    m_platform.programDir);
    connect(cmdCom, &QPushButton::clicked, m_portSettings.get(), &PortSettings::cmdCom_Click);
    connect(Combo1, &ListCombo::chosen, m_portSettings.get(), &PortSettings::Combo1_Click);
    // A port that would not open because the collecting service holds it: its store is shown instead.
    auto sharedCheck = [this] {
        if (!m_platform.port->isOpen() && !viewer() && lookForBusService(m_form.CommNum))
            enterSharedViewer();
    };
    connect(Combo1, &ListCombo::chosen, this, sharedCheck);
    connect(cmdCom, &QPushButton::clicked, this, sharedCheck);
    connect(Combo1, &QComboBox::currentIndexChanged, m_portSettings.get(), &PortSettings::updateTooltip);

    QueryController::Controls qc;
    qc.txtStationID = txtStationID;
    qc.txtFunID = txtFunID;
    qc.txtStartID = txtStartID;
    qc.txtDataLength = txtDataLength;
    qc.txtTimerSet = txtTimerSet;
    qc.lblCounter = lblCounter;
    qc.lblErrCounter = lblErrCounter;
    qc.Timer1 = Timer1;
    qc.Timer2 = Timer2;
    m_query = std::make_unique<QueryController>(qc, m_form, *m_link, *m_platform.dialogs);
    connect(comDoOnce, &QPushButton::clicked, m_query.get(), &QueryController::comDoOnce_Click);
    connect(cmdOneM, &QPushButton::clicked, m_query.get(), &QueryController::cmdOneM_Click);
    connect(cmdStopOnce, &QPushButton::clicked, m_query.get(), &QueryController::cmdStopOnce_Click);
    m_query->setNotice([this](const QString &text) { notice(text); });

    m_measurements = std::make_unique<MeasurementDisplay>(m_grid, lblErrCounter, m_form, *m_pipeline);
    bindGrain();
    bindStore();
    bindDepot();
    m_link->setMeasurementHandler(
        [this](const QByteArray &frame, const QDateTime &arrived) { m_measurements->show(frame, arrived); });
    connect(m_platform.port.get(), &SerialPort::backlogDropped, this, [this](qint64 bytes) {
        notice(QCoreApplication::translate("vx", "接收积压超过 %1 KB：%2 字节未能处理（对话框打开期间）")
                   .arg(SerialPort::kBacklogLimit / 1024)
                   .arg(bytes));
    });
    CycleController::Controls cc{txtStationID, txtTimerSet, txtMaxID, lblCounter, Timer1};
    m_cycle = std::make_unique<CycleController>(cc, m_form, m_grid, *m_query, *m_platform.port,
                                                *m_platform.dialogs);
    for (QPushButton *start : {cmdCicleAll, Command1, cmdOneM})
        connect(start, &QPushButton::clicked, this, &frmMain::clearStartHint);
    connect(cmdCicleAll, &QPushButton::clicked, m_cycle.get(), &CycleController::cmdCicleAll_Click);
    connect(Command1, &QPushButton::clicked, m_cycle.get(), &CycleController::Command1_Click);
    bindConfig();
    bindSensors();
    // A sensor operation during the cycle goes out between its requests, as
    // it always did; the operator is told which device it is meant for.
    for (const char *name : {"cmdReadSensorID", "cmdAutoSearch", "cmdFirst", "cmdWriteNext", "cmdWriteAllSn", "cmdAutoInput"})
        if (auto *button = findChild<QPushButton *>(QString::fromLatin1(name)))
            connect(button, &QPushButton::clicked, this, [this] {
                if (Timer1->isActive())
                    notice(QCoreApplication::translate("vx", "传感器操作发往设备 %1；多模块循环仍在运行，回复与循环的读数交错")
                               .arg(txtStationID->text()));
            });
    if (viewer())
        bindViewer(); // last: every control exists
}

void frmMain::bindConfig()
{
    ConfigTab tab = ConfigTab::build();
    auto *holder = new QVBoxLayout(m_configPage);
    holder->setContentsMargins(0, 0, 0, 0);
    holder->addWidget(tab.page);
    m_config = std::make_unique<ConfigController>(
        ConfigController::Controls{txtStationID, tab.txtSetID, tab.txtSetValues}, m_form, *m_link,
        *m_platform.dialogs);
    ConfigController *config = m_config.get();
    connect(tab.cmdReadAdd, &QPushButton::clicked, config, &ConfigController::cmdReadAdd_Click);
    connect(tab.cmdChangeID, &QPushButton::clicked, config, &ConfigController::cmdChangeID_Click);
    for (int r = 0; r < kParameterRows; ++r) {
        connect(tab.cmdReadSet[std::size_t(r)], &QPushButton::clicked, config, [config, r] { config->cmdReadSet_Click(r); });
        connect(tab.cmdSetV[std::size_t(r)], &QPushButton::clicked, config, [config, r] { config->cmdSetV_Click(r); });
    }
}

void frmMain::bindSensors()
{
    SensorTab tab = SensorTab::build();
    auto *holder = new QVBoxLayout(m_sensorPage);
    holder->setContentsMargins(0, 0, 0, 0);
    holder->addWidget(tab.page);

    SensorReading::Controls rc;
    rc.txtStationID = txtStationID;
    rc.txtChnId = tab.txtChnId;
    rc.TXTsensorID = tab.TXTsensorID;
    rc.txtSearchChannel = tab.txtSearchChannel;
    rc.txtSearchNum = tab.txtSearchNum;
    rc.txtObjChnid = tab.txtObjChnid;
    rc.txtSensorReadID = tab.txtSensorReadID;
    rc.txtSn = pane(tab.txtSn);
    rc.txtShowID = pane(tab.txtShowID);
    rc.Timer2 = Timer2;
    m_sensorReading = std::make_unique<SensorReading>(rc, m_form, *m_link, *m_platform.dialogs,
                                                      m_platform.programDir);
    SensorReading *reading = m_sensorReading.get();
    connect(tab.cmdReadSensorID, &QPushButton::clicked, reading, &SensorReading::cmdReadSensorID_Click);
    connect(tab.cmdSaveSn, &QPushButton::clicked, reading, &SensorReading::cmdSaveSn_Click);
    connect(tab.cmdAutoSearch, &QPushButton::clicked, reading, &SensorReading::cmdAutoSearch_Click);
    connect(tab.cmdClearSn, &QPushButton::clicked, reading, &SensorReading::cmdClearSn_Click);
    connect(tab.cmdAutoInput, &QPushButton::clicked, reading, &SensorReading::cmdAutoInput_Click);

    SensorWriting::Controls wc;
    wc.txtStationID = txtStationID;
    wc.txtObjChannelID = tab.txtObjChannelID;
    m_sensorTabChannel = tab.txtObjChannelID;
    wc.txtObjSensorid = tab.txtObjSensorid;
    wc.txtTimer5 = tab.txtTimer5;
    wc.txtSenseSn = tab.txtSenseSn;
    wc.txtSn = pane(tab.txtSn);
    wc.txtShowID = pane(tab.txtShowID);
    wc.Timer2 = Timer2;
    wc.Timer5 = Timer5;
    m_sensorWriting = std::make_unique<SensorWriting>(wc, m_form, *m_link, *m_platform.dialogs,
                                                      m_platform.programDir);
    SensorWriting *writing = m_sensorWriting.get();
    connect(tab.cmdOpenFile, &QPushButton::clicked, writing, &SensorWriting::cmdOpenFile_Click);
    connect(tab.cmdFirst, &QPushButton::clicked, writing, &SensorWriting::cmdFirst_Click);
    connect(tab.cmdWriteNext, &QPushButton::clicked, writing, &SensorWriting::cmdWriteNext_Click);
    connect(tab.cmdWriteAllSn, &QPushButton::clicked, writing, &SensorWriting::cmdWriteAllSn_Click);
    connect(tab.cmdStopWrite, &QPushButton::clicked, writing, &SensorWriting::cmdStopWrite_Click);

    // Every code shown is checked (CRC-8, family, duplicates here and in the
    // sensor map); a read also updates the map and reports replaced sensors.
    m_codeCheck = std::make_unique<SensorCodeCheck>(*pane(tab.txtSn), tab.codeSummary);
    m_codeCheck->setMap([this] {
        ReadingStore *store = windowStore();
        return store ? store->sensorMap() : QList<SensorPlace>();
    });
    QLabel *summary = tab.codeSummary;
    reading->setCodesRead([this, summary](int address, int channel, const QStringList &codes) {
        m_codeCheck->markPane(address, channel);
        ReadingStore *store = windowStore();
        if (!store || codes.isEmpty())
            return;
        const auto changes = store->recordSensorCodes(address, channel, codes, m_platform.clock().toMSecsSinceEpoch());
        if (!changes) {
            notice(QCoreApplication::translate("vx", "传感器表无法写入：%1").arg(store->lastError()));
            return;
        }
        QStringList texts;
        for (const SensorChange &c : *changes)
            texts << QCoreApplication::translate("vx", "%1#设备 通道%2 位置%3 传感器已更换: %4 → %5")
                         .arg(address, 2, 10, QLatin1Char('0'))
                         .arg(c.channel)
                         .arg(c.position, 2, 10, QLatin1Char('0'))
                         .arg(c.oldCode, c.newCode);
        if (!texts.isEmpty()) {
            summary->setText(summary->text() + QLatin1Char('\n') + texts.join(QLatin1Char('\n')));
            notice(texts.join(QStringLiteral("；")));
        }
    });
    writing->setListShown([this] {
        m_codeCheck->markPane(int(num::Val(txtStationID->text())), int(num::Val(m_sensorTabChannel->text())));
    });
    writing->setListCheck([this](const QStringList &codes) {
        return m_codeCheck->check(codes, int(num::Val(txtStationID->text())), int(num::Val(m_sensorTabChannel->text())))
            .problems();
    });
}

ReadingStore *frmMain::windowStore()
{
    if (!m_windowStoreTried) {
        m_windowStoreTried = true;
        QString why;
        const auto location = parseStoreLocation(
            viewer() ? m_viewerStore : m_pipeline->settings().store.local, &why);
        if (location)
            m_windowStore = ReadingStore::open(*location, QString(), &why);
        if (!m_windowStore)
            notice(QCoreApplication::translate("vx", "数据库不可用：%1").arg(why));
    }
    return m_windowStore.get();
}

void frmMain::Form_Load()
{
    m_form.SensorMax = 18;
    // The data logs and the list-file dialogs expect these; a failure shows with the first record.
    const QDir home(m_platform.programDir);
    home.mkpath(QStringLiteral("data"));
    home.mkpath(QStringLiteral("txt"));
    const CommSetRead saved = readCommSet(m_portSettings->commSetPath());
    CommSettings settings{1, 9600}; // first run, or a file we cannot trust
    if (saved.status == CommSetStatus::Ok)
        settings = saved.settings;
    else if (saved.status == CommSetStatus::Damaged)
        notice(QCoreApplication::translate("vx", "comm.set 内容无效，已使用默认设置 COM1, 9600"));
    txtStationID->setText(QStringLiteral("1"));

    if (!m_sharedPort.isEmpty()) {
        m_form.CommNum = qint16(saved.status == CommSetStatus::Ok ? saved.settings.CommNum : 1);
        m_form.CommRate = qint16(saved.status == CommSetStatus::Ok ? saved.settings.CommRate : 9600);
        m_portSettings->showSettings({m_form.CommNum, m_form.CommRate}); // the port the service holds
        notice(QCoreApplication::translate("vx", "采集服务正在使用 %1：查看模式").arg(m_sharedPort));
        return;
    }
    if (viewer()) {
        notice(QCoreApplication::translate("vx", "查看模式：数据来自 %1，不打开串口").arg(m_viewerStore));
        return;
    }
    if (!m_portSettings->restore(settings)) {
        m_form.StatFlag = 0;
        m_platform.dialogs->message({QCoreApplication::translate("vx", "请检查串口端口,串口端口%1无法打开!").arg(m_form.CommNum),
                                     QCoreApplication::translate("vx", "KELP系统出错提示"), BoxIcon::None, BoxButtons::Ok});
        return;
    }
    m_form.RecLen = 31;
    m_platform.port->setThreshold(31);
    // The lamp says the port is open from the start, and the status line how to begin.
    if (!m_platform.port->isOpen())
        return; // a port missing from the list: closed, and no message (as ever)
    showIndicator(Indicator::Connected);
    if (statusBar()->currentMessage().isEmpty()) // a problem with comm.set is said first
        notice(QCoreApplication::translate("vx", "按“多模块循环”开始采集"));
}

void frmMain::portLost()
{
    if (m_platform.port->isOpen())
        return;
    showIndicator(Indicator::NotConnected);
    notice(QCoreApplication::translate("vx", "串口 COM%1（%2）已断开：请检查设备，然后在“串口号”中重新选择端口")
               .arg(m_form.CommNum)
               .arg(m_platform.port->deviceName()));
}

void frmMain::notice(const QString &text)
{
    statusBar()->showMessage(text);
}

Indicator frmMain::indicator() const
{
    return indicatorStack->front();
}

void frmMain::setCommandText(const QString &text)
{
    txtCommand->setText(text);
    m_uploadMode = false; // a request went out: whatever ran before, upload mode has ended
    clearStartHint();
}

void frmMain::clearStartHint()
{
    // The operator has begun: the line that said how is no longer needed.
    if (statusBar()->currentMessage() == QCoreApplication::translate("vx", "按“多模块循环”开始采集"))
        statusBar()->clearMessage();
}

void frmMain::setStateText(const QString &text)
{
    txtState->setText(text);
}

void frmMain::replyAccepted()
{
    ++m_repliesTaken;
    m_noReplyCheck->stop(); // answered: the next request starts its own look
    if (statusBar()->currentMessage() == noReplyNotice())
        statusBar()->clearMessage(); // the line said what is no longer so
}

void frmMain::showIndicator(Indicator indicator)
{
    indicatorStack->bringToFront(indicator);
    if (indicator == Indicator::Pending && !m_noReplyCheck->isActive()) {
        // The waiting text promises a look after three seconds: no reply since
        // this request, a line says so. Requests sent meanwhile wait for the
        // same look: a reply to any of them is a reply since this one.
        m_repliesBeforeCheck = m_repliesTaken;
        m_noReplyCheck->start();
    }
}

} // namespace vx
