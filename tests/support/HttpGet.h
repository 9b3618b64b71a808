#pragma once

#include <QByteArray>
#include <QPair>
#include <QRegularExpression>
#include <QTcpSocket>

// A plain HTTP/1.0 request ("POST /api/ack?cable=3", headers each ending in CRLF): the status code and the body.
inline QPair<int, QByteArray> httpRequest(int port, const QByteArray &requestLine, const QByteArray &headers = {},
                                          const QByteArray &version = "HTTP/1.0")
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (!socket.waitForConnected(2000))
        return {0, {}};
    socket.write(requestLine + ' ' + version + "\r\nHost: 127.0.0.1\r\n" + headers + "\r\n");
    // To the end of the body its Content-Length gives (the server may keep the connection).
    static const QRegularExpression length(QStringLiteral("\r\ncontent-length: *(\\d+)"),
                                           QRegularExpression::CaseInsensitiveOption);
    QByteArray response;
    while (socket.waitForReadyRead(2000)) {
        response += socket.readAll();
        const qsizetype split = response.indexOf("\r\n\r\n");
        const auto m = length.match(QString::fromLatin1(response.left(split)));
        if (split >= 0 && m.hasMatch() && response.size() >= split + 4 + m.captured(1).toLongLong())
            break;
    }
    const qsizetype split = response.indexOf("\r\n\r\n");
    if (split < 0 || !response.startsWith("HTTP/1."))
        return {0, response};
    return {response.mid(9, 3).toInt(), response.mid(split + 4)};
}

// A plain HTTP/1.0 GET: the status code and the body.
inline QPair<int, QByteArray> httpGet(int port, const QByteArray &path)
{
    return httpRequest(port, "GET " + path);
}
