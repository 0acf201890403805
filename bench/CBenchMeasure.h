#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <map>
#include <sys/resource.h>
#include <vector>

// What the benchmarks measure with, in one place: a monotonic clock, CPU time, and a wait that
// sleeps between events so the waiting itself costs nothing while it is being measured.
struct CBenchMeasure {
    static qint64 NowNs();
    // User and system CPU seconds of RUSAGE_SELF, RUSAGE_THREAD or RUSAGE_CHILDREN.
    static double CpuSeconds(int who = RUSAGE_SELF);
    // User and system CPU seconds from a /proc/.../stat file (another process or thread); 0 when
    // it cannot be read.
    static double StatCpuSeconds(const QString& statPath);
    // Runs the event loop, asleep between events, until done() holds (checked every 20 ms) or
    // timeoutMs passed; returns done(). Without done it waits the whole time.
    static bool Wait(int timeoutMs, const std::function<bool()>& done = {});
    // Milliseconds from sent[SEQUENCE] to each "SEQUENCE NANOSECONDS" line of a receiving
    // process's output, sorted; lines of sequences never sent are left out.
    static std::vector<double> ArrivalsMs(const QByteArray& output,
                                          const std::map<int, qint64>& sent);
    // Raises this process's open-file limit (which its children inherit) to the hard limit.
    static void RaiseFileLimit();
    // The q-quantile (0 to 1) of sorted values; -1 when there are none.
    static double Quantile(const std::vector<double>& sorted, double q);
};
