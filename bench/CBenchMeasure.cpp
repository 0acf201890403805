#include "CBenchMeasure.h"

#include <QEventLoop>
#include <QFile>
#include <QList>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <unistd.h>

qint64 CBenchMeasure::NowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<qint64>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

double CBenchMeasure::CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double CBenchMeasure::StatCpuSeconds(const QString& statPath) {
    QFile stat(statPath);
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // After the name in parentheses: the state, ..., user time (11th) and system time.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

bool CBenchMeasure::Wait(int timeoutMs, const std::function<bool()>& done) {
    if (done && done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    if (done)
        check.start(20);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done && done();
}

std::vector<double> CBenchMeasure::ArrivalsMs(const QByteArray& output,
                                              const std::map<int, qint64>& sent) {
    std::vector<double> ms;
    for (const QByteArray& line : output.split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        const auto it = parts.size() == 2 ? sent.find(parts[0].toInt()) : sent.end();
        if (it != sent.end())
            ms.push_back(static_cast<double>(parts[1].toLongLong() - it->second) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

double CBenchMeasure::Quantile(const std::vector<double>& sorted, double q) {
    return sorted.empty() ? -1.0 : sorted[static_cast<std::size_t>(q * double(sorted.size() - 1))];
}

void CBenchMeasure::RaiseFileLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}
