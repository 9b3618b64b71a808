#include "core/http/HttpServer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

namespace vx {

QByteArray HttpRequest::header(const QByteArray &lowerCaseName) const
{
    for (const auto &h : headers)
        if (h.first == lowerCaseName)
            return h.second;
    return {};
}

bool HttpRequest::keepAlive() const
{
    const QByteArray connection = header("connection").toLower();
    if (minorVersion == 0)
        return connection.contains("keep-alive");
    return !connection.contains("close");
}

QString HttpRequest::queryValue(const QString &name) const
{
    const QUrlQuery q(QString::fromUtf8(query));
    return q.queryItemValue(name, QUrl::FullyDecoded);
}

bool HttpRequest::hasQueryValue(const QString &name) const
{
    return QUrlQuery(QString::fromUtf8(query)).hasQueryItem(name);
}

HttpResponse HttpResponse::text(int status, const QByteArray &body)
{
    HttpResponse r;
    r.status = status;
    r.body = body;
    return r;
}

QByteArray httpReasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Status";
    }
}

namespace {

bool isToken(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                        || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
        if (!ok)
            return false;
    }
    return true;
}

HttpHead refused(int status, const char *reason)
{
    HttpHead head;
    head.state = HttpHead::State::Refused;
    head.refusal = status;
    head.reason = reason;
    return head;
}

} // namespace

HttpHead parseHttpHead(const QByteArray &received, const HttpLimits &limits)
{
    // A bare LF ends lines too: some clients send it, and nothing is lost by taking it.
    qsizetype end = received.indexOf("\r\n\r\n");
    qsizetype endBytes = 4;
    const qsizetype lf = received.indexOf("\n\n");
    if (lf >= 0 && (end < 0 || lf < end)) {
        end = lf;
        endBytes = 2;
    }
    if (end < 0) {
        if (received.size() > limits.maxHeaderBytes)
            return refused(431, "request head too large");
        return {};
    }
    if (end + endBytes > limits.maxHeaderBytes)
        return refused(431, "request head too large");
    const QList<QByteArray> lines = received.left(end).split('\n');
    HttpHead head;
    HttpRequest &r = head.request;
    QByteArray requestLine = lines.first();
    if (requestLine.endsWith('\r'))
        requestLine.chop(1);
    const QList<QByteArray> parts = requestLine.split(' ');
    if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty())
        return refused(400, "malformed request line");
    if (!parts[2].startsWith("HTTP/1."))
        return refused(parts[2].startsWith("HTTP/") ? 505 : 400, "not HTTP/1.x");
    if (parts[2] == "HTTP/1.0")
        r.minorVersion = 0;
    else if (parts[2] == "HTTP/1.1")
        r.minorVersion = 1;
    else
        return refused(505, "not HTTP/1.0 or 1.1");
    r.method = parts[0];
    r.target = parts[1];
    if (!r.target.startsWith('/'))
        return refused(400, "the target is not a path");
    const qsizetype q = r.target.indexOf('?');
    r.path = QByteArray::fromPercentEncoding(q < 0 ? r.target : r.target.left(q));
    r.query = q < 0 ? QByteArray() : r.target.mid(q + 1);
    if (r.path.contains('\0'))
        return refused(400, "a NUL in the path");
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.left(colon)))
            return refused(400, "malformed header line");
        r.headers.append({line.left(colon).toLower(), line.mid(colon + 1).trimmed()});
    }
    if (r.minorVersion == 1 && r.header("host").isEmpty())
        return refused(400, "no Host header");
    if (!r.header("transfer-encoding").isEmpty())
        return refused(411, "send a Content-Length, not chunks");
    const QByteArray length = r.header("content-length");
    if (!length.isEmpty()) {
        bool ok = false;
        head.contentLength = length.toLongLong(&ok);
        if (!ok || head.contentLength < 0)
            return refused(400, "bad Content-Length");
        if (head.contentLength > limits.maxBodyBytes)
            return refused(413, "request body too large");
    }
    head.state = HttpHead::State::Complete;
    head.headBytes = end + endBytes;
    return head;
}

QByteArray httpResponseBytes(const HttpResponse &response, bool keepAlive)
{
    QByteArray out;
    out.reserve(160 + response.body.size());
    out += "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + httpReasonPhrase(response.status) + "\r\n";
    out += "Content-Type: " + response.contentType + "\r\n";
    if (response.stream.isEmpty())
        out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    else
        out += "Cache-Control: no-cache\r\n";
    for (const auto &h : response.headers)
        out += h.first + ": " + h.second + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    out += response.body;
    return out;
}

// Lives on the server's thread: the listening socket and every connection.
class HttpWorker : public QObject {
public:
    explicit HttpWorker(HttpServer &server) : m_server(server) {}

    bool listen(const QHostAddress &address, quint16 port, QString *why)
    {
        m_listener = new QTcpServer(this);
        // Accepted at once, always: refusing by not accepting would leave
        // clients hanging in the kernel's queue.
        m_listener->setMaxPendingConnections(1 << 16);
        QObject::connect(m_listener, &QTcpServer::newConnection, this, [this] { accept(); });
        if (!m_listener->listen(address, port)) {
            *why = m_listener->errorString();
            return false;
        }
        m_server.m_port = m_listener->serverPort();
        m_sweep = new QTimer(this);
        QObject::connect(m_sweep, &QTimer::timeout, this, [this] { sweep(); });
        m_sweep->start(qBound(100, qMin(m_server.m_limits.idleTimeoutMs, m_server.m_limits.requestTimeoutMs) / 4, 1000));
        return true;
    }

    void close()
    {
        delete m_sweep;
        m_sweep = nullptr;
        if (m_listener)
            m_listener->close();
        const auto sockets = m_connections.keys();
        for (QTcpSocket *s : sockets)
            drop(s);
        delete m_listener;
        m_listener = nullptr;
    }

    void publish(const QByteArray &stream, const QByteArray &bytes)
    {
        const auto sockets = m_connections.keys();
        for (QTcpSocket *s : sockets) {
            const auto it = m_connections.find(s);
            if (it != m_connections.end() && it->stream == stream)
                send(s, bytes);
        }
    }

private:
    struct Connection {
        QByteArray received;
        QElapsedTimer lastActivity;   // last byte in or response out
        QElapsedTimer requestBegun;   // valid while part of a request waits
        QByteArray stream;            // non-empty: an event stream
        QElapsedTimer lastHeartbeat;
        bool closing = false;
    };

    void accept()
    {
        while (QTcpSocket *s = m_listener->nextPendingConnection()) {
            if (m_connections.size() >= m_server.m_limits.maxConnections) {
                ++m_server.m_refused;
                s->write(httpResponseBytes(HttpResponse::text(503, "too many connections\n"), false));
                s->disconnectFromHost();
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
                QTimer::singleShot(1000, s, [s] { s->abort(); }); // one second to take the answer
                continue;
            }
            Connection &c = m_connections[s];
            c.lastActivity.start();
            m_server.m_connections = int(m_connections.size());
            QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { read(s); });
            QObject::connect(s, &QTcpSocket::disconnected, this, [this, s] { drop(s); });
            QObject::connect(s, &QTcpSocket::errorOccurred, this, [this, s] { drop(s); });
        }
    }

    void drop(QTcpSocket *s)
    {
        const auto it = m_connections.find(s);
        if (it == m_connections.end())
            return;
        if (!it->stream.isEmpty())
            --m_server.m_streams;
        m_connections.erase(it);
        m_server.m_connections = int(m_connections.size());
        s->disconnect(this);
        s->abort();
        s->deleteLater();
    }

    void send(QTcpSocket *s, const QByteArray &bytes)
    {
        s->write(bytes);
        if (s->bytesToWrite() > m_server.m_limits.maxUnsentBytes)
            drop(s);
        else if (auto it = m_connections.find(s); it != m_connections.end())
            it->lastActivity.start();
    }

    void answer(QTcpSocket *s, const HttpResponse &response, bool keepAlive)
    {
        send(s, httpResponseBytes(response, keepAlive));
        if (!keepAlive) {
            const auto it = m_connections.find(s);
            if (it == m_connections.end())
                return;
            it->closing = true;
            it->received.clear();
            s->disconnectFromHost(); // after what was written has gone
        }
    }

    void read(QTcpSocket *s)
    {
        auto it = m_connections.find(s);
        if (it == m_connections.end())
            return;
        const HttpLimits &limits = m_server.m_limits;
        // Never more than one request's worth is held: head and body at their limits.
        const qint64 room = limits.maxHeaderBytes + limits.maxBodyBytes + 1 - it->received.size();
        it->received += s->read(qMax<qint64>(0, room));
        it->lastActivity.start();
        if (it->closing || !it->stream.isEmpty()) {
            it->received.clear(); // nothing more is asked on a closing connection or a stream
            s->readAll();
            return;
        }
        while (!it->received.isEmpty()) {
            if (!it->requestBegun.isValid())
                it->requestBegun.start();
            const HttpHead head = parseHttpHead(it->received, limits);
            if (head.state == HttpHead::State::Refused) {
                answer(s, HttpResponse::text(head.refusal, head.reason + '\n'), false);
                return;
            }
            if (head.state == HttpHead::State::Incomplete
                || it->received.size() < head.headBytes + head.contentLength)
                break;
            HttpRequest request = head.request;
            request.body = it->received.mid(head.headBytes, head.contentLength);
            request.peer = s->peerAddress();
            it->received.remove(0, head.headBytes + head.contentLength);
            it->requestBegun.invalidate();
            ++m_server.m_requests;
            HttpResponse response = m_server.m_handler ? m_server.m_handler(request) : HttpResponse::text(404, "");
            const bool keepAlive = request.keepAlive();
            if (!response.stream.isEmpty()) {
                it->stream = response.stream;
                it->lastHeartbeat.start();
                ++m_server.m_streams;
                send(s, httpResponseBytes(response, true));
                return;
            }
            if (request.method == "HEAD")
                response.body.clear(); // Content-Length would be wrong; HEAD callers want the head
            answer(s, response, keepAlive);
            it = m_connections.find(s);
            if (it == m_connections.end() || !keepAlive)
                return;
        }
        if (s->bytesAvailable() > 0 && it->received.size() > limits.maxHeaderBytes + limits.maxBodyBytes)
            answer(s, HttpResponse::text(413, "request too large\n"), false);
        else if (s->bytesAvailable() > 0)
            QTimer::singleShot(0, this, [this, p = QPointer<QTcpSocket>(s)] { if (p) read(p); });
    }

    void sweep()
    {
        const HttpLimits &limits = m_server.m_limits;
        const auto sockets = m_connections.keys();
        for (QTcpSocket *s : sockets) {
            const auto it = m_connections.find(s);
            if (it == m_connections.end())
                continue;
            if (!it->stream.isEmpty()) {
                if (it->lastHeartbeat.elapsed() >= limits.streamHeartbeatMs) {
                    it->lastHeartbeat.start();
                    send(s, ": \n\n");
                }
            } else if (it->closing) {
                if (it->lastActivity.elapsed() >= limits.idleTimeoutMs)
                    drop(s); // it never took its answer
            } else if (it->requestBegun.isValid() && it->requestBegun.elapsed() >= limits.requestTimeoutMs) {
                answer(s, HttpResponse::text(408, "request not complete in time\n"), false);
            } else if (!it->requestBegun.isValid() && it->lastActivity.elapsed() >= limits.idleTimeoutMs) {
                drop(s);
            }
        }
    }

    HttpServer &m_server;
    QTcpServer *m_listener = nullptr;
    QTimer *m_sweep = nullptr;
    QHash<QTcpSocket *, Connection> m_connections;
};

HttpServer::HttpServer(const HttpLimits &limits) : m_limits(limits)
{
    m_thread.setObjectName(QStringLiteral("http"));
}

HttpServer::~HttpServer()
{
    if (m_worker) {
        QMetaObject::invokeMethod(m_worker, [this] { m_worker->close(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
        delete m_worker;
    }
}

bool HttpServer::listen(const QHostAddress &address, quint16 port, QString *why)
{
    if (!m_worker) {
        m_worker = new HttpWorker(*this);
        m_worker->moveToThread(&m_thread);
        m_thread.start();
    }
    bool ok = false;
    QMetaObject::invokeMethod(m_worker, [&] { ok = m_worker->listen(address, port, why); },
                              Qt::BlockingQueuedConnection);
    return ok;
}

void HttpServer::publish(const QByteArray &stream, const QByteArray &bytes)
{
    if (m_worker && m_streams.load() > 0)
        QMetaObject::invokeMethod(m_worker, [this, stream, bytes] { m_worker->publish(stream, bytes); },
                                  Qt::QueuedConnection);
}

} // namespace vx
