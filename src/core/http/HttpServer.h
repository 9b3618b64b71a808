#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QThread>

#include <atomic>
#include <functional>

namespace vx {

// What one client may take of the server. Past these a client is answered
// with the status the case calls for and its connection closed: no client,
// however slow or hostile, can hold descriptors, memory or the bus.
struct HttpLimits {
    int maxConnections = 256;          // beyond: 503 and closed at once
    int idleTimeoutMs = 10000;         // a kept-alive connection with nothing asked is closed
    int requestTimeoutMs = 10000;      // a request begun must be whole by then (slowloris): 408
    int maxHeaderBytes = 16 * 1024;    // request line and headers: 431
    int maxBodyBytes = 64 * 1024;      // 413
    qint64 maxUnsentBytes = 4 << 20;   // a client that does not read what it asked for is dropped
    int streamHeartbeatMs = 15000;     // a comment line down each event stream, to find dead ones
};

struct HttpRequest {
    QByteArray method;                 // "GET"
    QByteArray target;                 // "/api/alarms?state=active"
    QByteArray path;                   // "/api/alarms", percent-decoded
    QByteArray query;                  // "state=active", as sent
    int minorVersion = 1;              // HTTP/1.x
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case, values trimmed
    QByteArray body;
    QHostAddress peer;

    QByteArray header(const QByteArray &lowerCaseName) const;
    // HTTP/1.1 keeps the connection unless "Connection: close"; 1.0 only with "keep-alive".
    bool keepAlive() const;
    // A query parameter, percent-decoded; empty when absent.
    QString queryValue(const QString &name) const;
    bool hasQueryValue(const QString &name) const;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = "text/plain; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    // Non-empty: the connection joins this event stream (text/event-stream):
    // the head and body go at once, then whatever HttpServer::publish() sends to it.
    QByteArray stream;

    static HttpResponse text(int status, const QByteArray &body);
};

// The head of a request, read from what has arrived so far.
struct HttpHead {
    enum class State { Incomplete, Complete, Refused };
    State state = State::Incomplete;
    HttpRequest request;
    qsizetype headBytes = 0;          // through the blank line
    qint64 contentLength = 0;
    int refusal = 0;                  // 400, 411, 413, 431, 501, 505
    QByteArray reason;
};
HttpHead parseHttpHead(const QByteArray &received, const HttpLimits &limits);

// The bytes of a response: status line, headers (Content-Length, Connection), body.
QByteArray httpResponseBytes(const HttpResponse &response, bool keepAlive);
QByteArray httpReasonPhrase(int status);

class HttpWorker;

// A small HTTP/1.1 server on a thread of its own: requests are parsed and
// answered there, so a crowd of clients never takes time from the thread that
// runs the bus. The handler runs on the server's thread; what it reads of the
// rest of the program must be safe to read from there (a snapshot, a store
// connection of its own).
class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    explicit HttpServer(const HttpLimits &limits = {});
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Runs on the server's thread. Set before listen().
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Port 0: any free one (port() says which). False and *why when it cannot listen.
    bool listen(const QHostAddress &address, quint16 port, QString *why);
    quint16 port() const { return m_port; }

    // Sends bytes to every connection in an event stream; from any thread.
    void publish(const QByteArray &stream, const QByteArray &bytes);

    int connections() const { return m_connections.load(); }
    int streams() const { return m_streams.load(); }
    qint64 refusedConnections() const { return m_refused.load(); }
    qint64 requests() const { return m_requests.load(); }

private:
    friend class HttpWorker;
    HttpLimits m_limits;
    Handler m_handler;
    QThread m_thread;
    HttpWorker *m_worker = nullptr;
    quint16 m_port = 0;
    std::atomic<int> m_connections{0};
    std::atomic<int> m_streams{0};
    std::atomic<qint64> m_refused{0};
    std::atomic<qint64> m_requests{0};
};

} // namespace vx
