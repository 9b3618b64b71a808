#pragma once

#include <QString>
#include <QtTest>

// In a test function: a started server of the test's own, or QSKIP (QFAIL
// under CI=true, where the server must run). name: a string literal.
#define VX_REQUIRE_SERVER(server, name)                                                                                \
    do {                                                                                                               \
        if (!(server).running() && !(server).start()) {                                                                \
            const QString vxWhy = QStringLiteral(name " cannot start: ") + (server).why();                            \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                                                   \
                QFAIL(qPrintable(vxWhy));                                                                              \
            QSKIP(qPrintable(vxWhy));                                                                                  \
        }                                                                                                              \
    } while (false)
