// Runs orvanta-compose as a user does, for the tests of the program.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

struct ComposeRun {
    int status = -1; // the exit status; -1 when it did not end normally
    QString out;
    QString err;
};

// Runs the program with args and waits for it, up to two minutes. With
// asUser set, the program runs with that user's and group's ids, which a
// test running as root uses to meet the permissions a user meets.
inline ComposeRun runCompose(const QStringList& args, int asUser = -1)
{
    QProcess p;
    if (asUser >= 0)
        p.start(QStringLiteral("setpriv"),
            QStringList { QStringLiteral("--reuid=%1").arg(asUser), QStringLiteral("--regid=%1").arg(asUser),
                QStringLiteral("--clear-groups"), QStringLiteral(ORVANTA_COMPOSE) }
                + args);
    else
        p.start(QStringLiteral(ORVANTA_COMPOSE), args);
    ComposeRun r;
    if (!p.waitForFinished(120000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
