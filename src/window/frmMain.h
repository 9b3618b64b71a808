#pragma once

#include "core/form/FormState.h"
#include "core/form/Link.h"
#include "core/grain/AlarmBook.h"
#include "core/pipeline/ReadingPipeline.h"
#include "core/link/PortMap.h"
#include "core/platform/Platform.h"
#include "window/widgets/ValueGrid.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <memory>
#include <vector>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTextEdit;
class QTimer;

namespace vx {

class ConfigController;
class CycleController;
class LinkIndicator;
class ListCombo;
class MeasurementDisplay;
class PortSettings;
class QueryController;
class SensorReading;
class SensorWriting;
class ReadingStore;
class RichPane;
class TextPane;
class SensorCodeCheck;
class StoreService;
class StoreTab;
class GrainOverview;
class DepotTab;
class AlarmTab;
class TrendTab;
class ReportTab;
class BusServiceLink;

QString kWindowTitle(); // in the window's language

// The one window of the system. Constructing it lays out every control and
// runs the start-up sequence (comm.set, port, receive side) once.
// This machine's serial port (through the port mapping), Qt's dialogs, the wall clock.
Platform systemPlatform();

class frmMain : public QMainWindow, private LinkView, private ReadingListener {
    Q_OBJECT
public:
    frmMain(); // the machine's own serial port, dialogs and clock
    explicit frmMain(Platform platform, QWidget *parent = nullptr);
    ~frmMain() override;

    FormState &form() { return m_form; }
    Link &link() { return *m_link; }
    SerialPort &port() { return *m_platform.port; }
    Dialogs &dialogs() { return *m_platform.dialogs; }
    ValueGrid &grid() { return m_grid; }
    const QString &programDir() const { return m_platform.programDir; }
    Indicator indicator() const;

    // Handlers, as the buttons and timers call them.
    QueryController &query() { return *m_query; }
    PortSettings &portSettings() { return *m_portSettings; }
    CycleController &cycle() { return *m_cycle; }
    ConfigController &config() { return *m_config; }
    SensorReading &sensorReading() { return *m_sensorReading; }
    SensorWriting &sensorWriting() { return *m_sensorWriting; }
    MeasurementDisplay &measurements() { return *m_measurements; }
    // Where every accepted frame goes (logs, store, outboxes, rules, the overview).
    ReadingPipeline &pipeline() { return *m_pipeline; }
    // Null when the store could not be opened.
    StoreService *store() { return m_pipeline->store(); }
    StoreTab *storeTab() { return m_storeTab; }
    GrainOverview *overview() { return m_overview; }
    const AlarmBook &alarms() const { return m_pipeline->alarms(); }
    AlarmTab *alarmTab() { return m_alarmTab; }
    TrendTab *trendTab() { return m_trendTab; }
    ReportTab *reportTab() { return m_reportTab; }
    DepotTab *depotTab() { return m_depotTab; }
    void applyAlarmSettings(const AlarmSettings &settings, int silentMinutes);
    bool viewer() const { return !m_viewerStore.isEmpty(); }
    // The collecting service holds (or lent us) this window's port: "COMn"; empty: no service.
    const QString &sharedPort() const { return m_sharedPort; }
    bool holdingBus() const { return m_holdingBus; }
    // 接管总线 / 交还总线: the service lets go of the bus (its exchange in
    // flight ends, its port closes) and the window works on it; given back,
    // the window shows the service's store again. False and a notice when not.
    bool takeBus();
    void giveBus();
    // Viewer mode: what the store holds since the last look, into the grid, the overview and the alarms.
    void viewerRefresh();
    static constexpr int kViewerRefreshMs = 3000;
    // How long a cable may go without an accepted reply before it counts as
    // silent: three cycles while cycling, ten minutes in upload mode, never otherwise.
    qint64 silentAfterMs() const;
    // What runs, as the status area says it ("" when nothing does).
    QString runState() const;
    // The once-a-second look at what time alone changes (silent cables, what runs).
    void tick();
    // At most one repaint per this many milliseconds (100). A benchmark under
    // valgrind, ten times slower, lengthens it to keep a real repaint per exchange.
    void setRepaintInterval(int ms) { m_repaintIntervalMs = ms; }

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void bindStore();
    void bindGrain();
    void bindDepot();
    void bindViewer();
    void setViewerControls(bool viewer);
    // The service's socket, when it holds the port this window would open (as comm.set or the list names it).
    bool lookForBusService(int portNumber);
    // The keeper's switch of a bin's fans, through the collecting service that drives them; what went wrong, or empty.
    QString switchFans(int bin, std::optional<bool> on);
    void enterSharedViewer();
    void renewLease();
    void busLost(const QString &text);
    void showTakeButton();
    void markSilentColumns();
    void clearStartHint();
    void evaluateAlarms();
    void frameAccepted(const AcceptedFrame &accepted) override;
    void alarmsChanged(const QList<AlarmTransition> &transitions, const AlarmBook &book) override;
    // A text pane of its own for a handler, over one of the window's text edits.
    TextPane *pane(QTextEdit *edit);
    // The window's own connection to the store (sensor map, trends, rate of rise), opened when first needed.
    ReadingStore *windowStore();
    void setCommandText(const QString &text) override;
    void setStateText(const QString &text) override;
    void showIndicator(Indicator indicator) override;
    void replyAccepted() override;

    QWidget *buildModbusFrame();
    QWidget *buildPortFrame();
    QWidget *buildStatusFrame();
    QWidget *buildMonitorFrame();
    QWidget *buildQueryFrame();
    void buildTabs();
    void bind();
    void bindConfig();
    void bindSensors();
    void Form_Load();
    void notice(const QString &text);
    void portLost();

    Platform m_platform;
    FormState m_form;
    PortMap m_portMap;
    ValueGrid m_grid;
    std::unique_ptr<ReadingPipeline> m_pipeline; // outlives everything that adds to it
    std::vector<std::unique_ptr<RichPane>> m_panes;
    StoreTab *m_storeTab = nullptr;
    GrainOverview *m_overview = nullptr;
    AlarmTab *m_alarmTab = nullptr;
    TrendTab *m_trendTab = nullptr;
    ReportTab *m_reportTab = nullptr;
    DepotTab *m_depotTab = nullptr;
    QWidget *m_alarmPage = nullptr; // the tab pages (scroll areas) around them
    QWidget *m_trendPage = nullptr;
    QLabel *m_alarmCount = nullptr;
    QString m_viewerStore;
    QTimer *m_viewerTimer = nullptr;
    std::unique_ptr<BusServiceLink> m_busService;
    QString m_sharedPort;
    QString m_sharedStore;
    QString m_serviceWeb; // the service's web view, when a service answered
    QString m_busToken;
    bool m_holdingBus = false;
    QPushButton *m_takeBus = nullptr;
    QTimer *m_leaseTimer = nullptr;
    qint64 m_viewerSince = 0;
    qint64 m_viewerEventsSince = 0;
    bool m_sized = false;         // the first show chose the window's size
    QTimer *m_saveSize = nullptr; // the size the operator gives it, for the next start
    QLabel *m_runState = nullptr;
    QTimer *m_tick = nullptr;
    QList<QFrame *> m_columnFrames;   // Frame3_0 .. Frame3_39
    bool m_uploadMode = false;        // 主动上传模式 chosen, and nothing sent since
    QTimer *m_noReplyCheck = nullptr; // three seconds after a request: was there a reply?
    qint64 m_repliesBeforeCheck = 0;
    qint64 m_repliesTaken = 0;
    QLabel *m_storeBacklog = nullptr;
    std::unique_ptr<ReadingStore> m_windowStore;
    bool m_windowStoreTried = false;
    QLineEdit *m_sensorTabChannel = nullptr; // where an imported list is to be written
    std::unique_ptr<SensorCodeCheck> m_codeCheck;
    std::unique_ptr<Link> m_link;
    std::unique_ptr<PortSettings> m_portSettings;
    std::unique_ptr<QueryController> m_query;
    std::unique_ptr<CycleController> m_cycle;
    std::unique_ptr<MeasurementDisplay> m_measurements;
    std::unique_ptr<ConfigController> m_config;
    std::unique_ptr<SensorReading> m_sensorReading;
    std::unique_ptr<SensorWriting> m_sensorWriting;

    QLineEdit *txtStationID = nullptr;
    QLineEdit *txtFunID = nullptr;
    QLineEdit *txtStartID = nullptr;
    QLineEdit *txtDataLength = nullptr;
    ListCombo *Combo1 = nullptr;
    ListCombo *Combo2 = nullptr;
    QPushButton *cmdCom = nullptr;
    LinkIndicator *indicatorStack = nullptr;
    QLabel *lblErrCounter = nullptr;
    QLabel *lblCounter = nullptr;
    QTabWidget *SSTab2 = nullptr;
    QWidget *m_configPage = nullptr;
    QWidget *m_sensorPage = nullptr;
    QLineEdit *txtCommand = nullptr;
    QLabel *txtState = nullptr;
    QLineEdit *txtTimerSet = nullptr;
    QLineEdit *txtMaxID = nullptr;
    QPushButton *cmdCicleAll = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *comDoOnce = nullptr;
    QPushButton *cmdOneM = nullptr;
    QPushButton *cmdStopOnce = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    QTimer *Timer5 = nullptr;
    QElapsedTimer m_sinceRepaint;
    int m_repaintIntervalMs = 100;
    QTimer *m_repaintLater = nullptr;
};

} // namespace vx
