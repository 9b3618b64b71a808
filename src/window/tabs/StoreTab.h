#pragma once

#include <QPointer>
#include <QWidget>

#include <atomic>

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThread;
class QTimer;

namespace vx {

class Dialogs;
class MqttPublisher;
class Notifier;
class StoreService;

// The readings store as the window shows it: where it is, how much it has
// committed, each outbox's state (the central store, the MQTT broker), and
// CSV export of a time range and a set of addresses (run beside the window,
// with progress).
class StoreTab : public QWidget {
    Q_OBJECT
public:
    // service may be null: the store could not be opened (problem says why);
    // mqtt is null without a broker.
    StoreTab(StoreService *service, MqttPublisher *mqtt, const QString &problem, Dialogs &dialogs,
             QWidget *parent = nullptr);
    ~StoreTab() override;

    // Notifications' backlog per channel, when store.conf names channels.
    void setNotifier(Notifier *notifier) { m_notifier = notifier; }
    // The collecting service's web view, when it has one: shown for the keeper to open on a phone.
    void setWebAddress(const QString &url) { m_webAddress = url; refresh(); }
    // Asks for a file, then writes the chosen range there.
    void exportCsv();
    bool exporting() const { return m_thread != nullptr; }
    // The sensor map as CSV, out and back in (as a site's reference).
    void exportSensorMap();
    void importSensorMap();

signals:
    void exportFinished(bool ok, const QString &message);

private:
    void refresh();

    StoreService *m_service;
    MqttPublisher *m_mqtt;
    Notifier *m_notifier = nullptr;
    QString m_problem;
    QString m_webAddress;
    Dialogs &m_dialogs;
    QLabel *m_state;
    QDateTimeEdit *m_from;
    QDateTimeEdit *m_to;
    QLineEdit *m_addresses;
    QComboBox *m_rows;
    QPushButton *m_export;
    QProgressBar *m_progress;
    QLabel *m_result;
    QLabel *m_mapResult;
    QTimer *m_refresh;
    QThread *m_thread = nullptr;
    std::atomic<qint64> m_rowsWritten{0};
    std::atomic<bool> m_cancel{false};
};

} // namespace vx
