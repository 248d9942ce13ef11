// The tests' simulated modem as a program, for trying the daemon against ModemManager by
// hand: simulated-modem SOCKET serves the modem there; each line on stdin is a caller's number
// that rings ("" for a withheld one); each hang-up command the modem receives is printed.

#include "atmodem.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: simulated-modem SOCKET\n");
        return 2;
    }
    AtModem modem(QString::fromLocal8Bit(argv[1]));
    if (!modem.listening()) {
        std::fprintf(stderr, "simulated-modem: cannot listen at %s\n", argv[1]);
        return 1;
    }
    QTextStream in(stdin);
    QSocketNotifier lines(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&lines, &QSocketNotifier::activated, [&] {
        QString number;
        if (!in.readLineInto(&number))
            application.quit();
        else
            modem.ring(number.trimmed().toUtf8(),
                       number.trimmed().isEmpty() ? AtModem::NumberComes::Withheld : AtModem::NumberComes::WithRing);
    });
    qsizetype said = 0;
    QTimer hangups;
    QObject::connect(&hangups, &QTimer::timeout, [&] {
        const QStringList received = modem.hangups();
        for (; said < received.size(); ++said)
            std::printf("hung up: %s\n", qPrintable(received.at(said)));
        std::fflush(stdout);
    });
    hangups.start(100);
    return application.exec();
}
